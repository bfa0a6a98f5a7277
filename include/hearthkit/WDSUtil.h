// WDSUtil: desktop-search indexing of the Hoardlocal cache. Windows Desktop
// Search indexes the cache's database files ("*.db" in one directory per
// client store) through the product's protocol handler. The class finds the
// installed WDS version, lists the cache files, records indexing requests as
// registry keys and later replays them against the protocol handler.
//
// The request queue lives under HKEY_CURRENT_USER, below the client store key
// K (HearthkitConfig::GetClientStoreKey), as empty keys:
//
//   K\"WDS Index Data"\<operation>\<file name | "Hoardlocal">
//
// where <operation> is szWDSOps[type] and "Hoardlocal" stands for the whole
// cache. Recording and replaying share only this queue, so they may run in
// different processes. Within a process one lock serialises them: a replay
// holds it for its whole run, so a request recorded meanwhile lands in the
// queue after the replay. Static members only; nothing here throws.
//
// Between processes nothing is locked. So that a replay deletes only what
// it performed, each recording also creates a mark below its request: a sub
// key named by a fresh GUID. A replay notes a request's marks before the
// handler call and afterwards deletes those marks, and the request itself
// only when no newer mark has come (the registry refuses to delete a key
// that has sub keys); a whole-cache request does the same for every request
// of its operation, then for the operation's key. A request recorded in
// another process while the handler works therefore stays queued for the
// next replay. Requests are still one key per file and operation; a sub key
// found below one, of whatever origin, is deleted with it.
#pragma once

#include "HearthkitExport.h"
#include "HkLock.h"
#include "HkString.h"

#include <vector>

// The kind of an indexing request; also the index into WDSUtil::szWDSOps.
enum WDSIndexType {
    WDSIndexDelete = 0,
    WDSIndexAdd = 1,
    WDSIndexReIndex = 2,
};

class HEARTHKIT_API WDSUtil {
public:
    // The oldest WDS version the protocol handler works with: 3.0.
    static double GetWDSSupportedVer();
    // HKLM "Software\Microsoft\Windows Desktop Search" "Version" (REG_SZ or
    // REG_EXPAND_SZ), read by its leading number as the C runtime's wcstod
    // reads it: " 4.0.6001.16503" is 4.0. False (and -1.0) when WDS is not
    // installed or the value cannot be read.
    static bool GetInstalledWDSVersion(double& version);
    // The pieces of path between backslashes; runs of backslashes count as
    // one and empty pieces are skipped.
    static void ExtractProfile(const CStringW& path, std::vector<CStringW>& tokens);
    // The cache's "*.db" files in the store's directory (the root named by
    // "HLRootDirectory" under K, then the last piece of K), in the order the
    // file system gives them: full paths or bare names. Empty when K, the
    // key or the root cannot be read.
    static void EnumDBFilesForCurrentProfile(std::vector<CStringW>& files, bool fullPaths);
    // The full path of one database file: root, the fifth piece of K, the
    // name. False for a name that is no plain file name (empty, "..", one
    // with a separator), a root shorter than two characters, a K of fewer
    // than five pieces or a key that cannot be read.
    static bool GetDBFullPath(CStringW fileName, CStringW& fullPath);
    // Records a request for the file (by the last piece of path) or, for
    // "Hoardlocal" in any case, for the whole cache. Recording one twice
    // leaves one request. False for an empty path, a path whose last piece
    // is no plain file name ("..", "a:b", ...), a type outside the
    // enumeration, no store key, or a key not created.
    static bool PersistWDSIndexingInfo(CStringW path, WDSIndexType type);
    // Performs one whole-cache or one per-file request against the protocol
    // handler (created in-process or out of process; the calling thread must
    // have initialised COM). With WDS missing or older than 3.0 nothing is
    // called. Every outcome, a failure of the handler included, is logged
    // and answers true: the request counts as handled.
    static bool UpdateWDSIndexForHL(WDSIndexType type);
    static bool UpdateWDSIndexForHLFile(WDSIndexType type, CStringW fileName);
    // Replays the queue: Delete, then Add, then ReIndex requests, each
    // handled one removed. A "Hoardlocal" request ends its operation's pass
    // and removes the operation's whole key. Replays of the session's
    // processes take turns through the mutex "Local\HearthkitWdsIndexReplay",
    // so each finds the queue as the one before it left it and no request
    // is performed twice; a replay that cannot have its turn within a minute
    // leaves the queue to the next one and logs it. Each operation's pass
    // works on the requests as they stand when it begins, read under the
    // mutex "Local\HearthkitWdsIndexQueue" that recording takes too: what is
    // recorded meanwhile waits for the next replay.
    static void UpdateWDSIndex();

    // "Delete", "Add", "ReIndex": the operation keys, indexed by WDSIndexType.
    static const wchar_t* const szWDSOps[3];
    // "WDS Index Data": the queue key under K.
    static const wchar_t szWDSIndexData[];
    // "Hoardlocal": the request name that stands for the whole cache.
    static const wchar_t szHoardlocal[];
    // "HLRootDirectory": the value under K that names the cache root.
    static const wchar_t szHLRootDirectory[];

private:
    // Held while a request is recorded and for a whole replay.
    static CHkCriticalSection s_csWDSIndex;
};
