// The content of one store: folders, messages with attachments, named
// property ids, kept in one file written whole after every change. Every
// store object opened on the same file shares one StoreData.
#pragma once

#include "Standin.h"

#include <memory>
#include <mutex>

namespace standin {

enum : ULONG { kRootFolder = 1, kIpmSubtree = 2, kInbox = 3, kDeletedItems = 4 };
enum : BYTE { kEntryFolder = 1, kEntryMessage = 2 };

struct AttachmentData {
    ULONG num = 0;
    PropBag props;
};

struct MessageData {
    ULONG id = 0;
    ULONG folder = 0;
    bool associated = false;
    PropBag props;
    std::vector<AttachmentData> attachments;
    ULONG nextAttach = 0;
};

struct FolderData {
    ULONG id = 0;
    ULONG parent = 0;
    PropBag props;
};

struct NamedKey {
    GUID guid;
    ULONG kind; // MNID_ID or MNID_STRING
    LONG id;
    std::wstring name;
    bool operator<(const NamedKey& o) const;
};

class StoreData {
public:
    // The shared content of the file at path, read from it or, when the
    // file is missing, created there.
    static HRESULT Open(const std::wstring& path, std::shared_ptr<StoreData>* out);

    HRESULT Save(); // under lock
    ULONG NewId() { return m_nextId++; }
    std::vector<BYTE> EntryId(BYTE type, ULONG id) const;
    bool ParseEntryId(ULONG size, const ENTRYID* eid, BYTE* type, ULONG* id) const;
    // GetIDsFromNames over this store's ids.
    HRESULT NamesToIds(ULONG count, LPMAPINAMEID* names, ULONG flags, LPSPropTagArray* out);
    // GetNamesFromIDs over this store's ids (StoreEdit.cpp).
    HRESULT IdsToNames(LPSPropTagArray* tags, const GUID* guid, ULONG flags, ULONG* count,
                       LPMAPINAMEID** out);
    // IMAPIFolder::DeleteFolder of a sub folder of parent (StoreEdit.cpp).
    HRESULT RemoveFolder(ULONG parent, ULONG size, const ENTRYID* eid, ULONG flags);

    std::mutex lock;
    std::wstring path;
    PropBag props; // record key and whatever the store was given
    std::map<ULONG, FolderData> folders;
    std::map<ULONG, MessageData> messages;
    std::map<NamedKey, WORD> names;
    // Growth-policy override registration (not persisted).
    std::wstring overrideHandler;
    void* overrideClientData = nullptr;
    bool overrideRegistered = false;

private:
    HRESULT Load();
    void Initialise();
    ULONG m_nextId = 100;
    WORD m_nextNamed = 0x8000;
};

} // namespace standin
