// WDSUtil: the indexing request queue and its replay against the Hoardlocal
// protocol handler.
#include "WDSUtil.h"

#include "CDesktopLog.h"
#include "HkCom.h"
#include "HkHandle.h"
#include "HkRegKey.h"
#include "HkResult.h"
#include "search/IHLIndexControl.h"
#include "search/WdsPaths.h"
#include "search/WdsStoreKey.h"

#include <comdef.h>
#include <cwchar>
#include <string>
#include <vector>

CHkCriticalSection WDSUtil::s_csWDSIndex;

namespace {

// The handler may be registered in-process or as a server of its own.
const DWORD kHandlerContext = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
const char kHandlerReturned[] = "The indexing operation performed by the WDS protocol handler returned ";
const wchar_t kReplayMutex[] = L"Local\\HearthkitWdsIndexReplay";
const DWORD kReplayTurnMs = 60000;
const wchar_t kQueueMutex[] = L"Local\\HearthkitWdsIndexQueue";
const DWORD kQueueLockMs = 10000;

bool IsKnownType(WDSIndexType type) {
    return type >= WDSIndexDelete && type <= WDSIndexReIndex;
}

// True when WDS 3.0 or later is installed; otherwise the handler is not
// called and the request counts as handled.
bool IndexerPresent(CDesktopLog& log) {
    double version = -1.0;
    if (WDSUtil::GetInstalledWDSVersion(version) && version >= WDSUtil::GetWDSSupportedVer()) {
        return true;
    }
    log.LogText(LOG_DETAIL, "WDS 3.x or greater not installed\n");
    return false;
}

CComPtr<IHLIndexControl> CreateHandler() {
    CComPtr<IHLIndexControl> handler;
    CheckedHr check;
    check = ::CoCreateInstance(CLSID_HoardlocalProtocolHandler, nullptr, kHandlerContext, IID_IHLIndexControl,
                               reinterpret_cast<void**>(&handler));
    return handler;
}

// One handler call for type: the per-file methods with path, the
// whole-cache ones when path is null. A type outside the enumeration calls
// nothing and answers E_INVALIDARG, which the caller logs like any result.
HRESULT CallHandler(IHLIndexControl* handler, WDSIndexType type, BSTR path, bool wholeCache) {
    switch (type) {
    case WDSIndexDelete:
        return wholeCache ? handler->DeleteAll() : handler->DeleteFile(path);
    case WDSIndexAdd:
        return wholeCache ? handler->AddAll() : handler->AddFile(path);
    case WDSIndexReIndex:
        return wholeCache ? handler->ReIndexAll() : handler->ReIndexFile(path);
    }
    return E_INVALIDARG;
}

// A named mutex of the session, owned by this thread while the object lives.
// Empty when it could not be created or had (the wait's result is logged).
class NamedTurn {
public:
    NamedTurn(const wchar_t* name, DWORD waitMs, CDesktopLog& log)
        : m_mutex(::CreateMutexW(nullptr, FALSE, name)) {
        if (!m_mutex) {
            log.LogHR(LOG_ERROR, "Could not create a mutex of the WDS index queue ",
                      HkHResultFromWin32(::GetLastError()));
            return;
        }
        const DWORD wait = ::WaitForSingleObject(m_mutex.get(), waitMs);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
            m_owned.reset(m_mutex.get());
        } else {
            log.LogText(LOG_ERROR, "Another process holds the WDS index queue's mutex %s\n", name);
        }
    }
    explicit operator bool() const { return static_cast<bool>(m_owned); }

private:
    hk::unique_handle m_mutex;
    hk::unique_mutex_release m_owned; // released before the handle closes
};

// Each recording leaves a mark of its own below its request: a sub key with a
// fresh GUID for a name. A replay notes the marks it finds before it calls
// the handler and afterwards deletes just those; the request goes only when
// no mark is left, which the registry checks itself (a key with sub keys is
// not deleted). So a recording that lands while the handler works, in this
// process or another, keeps its request for the next replay.
LONG RecordMark(const std::wstring& request) {
    GUID id{};
    wchar_t mark[40] = {};
    if (FAILED(::CoCreateGuid(&id)) || ::StringFromGUID2(id, mark, 40) == 0) {
        return ERROR_OUTOFMEMORY;
    }
    const std::wstring path = request + L"\\" + mark;
    LONG rc = ERROR_KEY_DELETED;
    // A replay elsewhere may delete the request between the levels of the
    // path being created; creating it again then succeeds.
    for (int attempt = 0; attempt < 3 && rc == ERROR_KEY_DELETED; ++attempt) {
        CRegKey key;
        rc = key.Create(HKEY_CURRENT_USER, path.c_str(), KEY_READ | KEY_WRITE);
    }
    return rc;
}

// A request found in the queue with the marks it held at that moment.
struct Seen {
    std::wstring name;
    std::vector<std::wstring> marks;
};

Seen See(HKEY requests, const wchar_t* name) {
    Seen seen{name, {}};
    CRegKey request;
    if (request.Open(requests, name, KEY_READ) == ERROR_SUCCESS) {
        request.EnumKeys(seen.marks);
    }
    return seen;
}

// Every request of the operation key with its marks, for a whole-cache
// request that covers them all.
std::vector<Seen> SeeAll(const CRegKey& requests) {
    std::vector<Seen> all;
    std::vector<std::wstring> names;
    requests.EnumKeys(names);
    for (const std::wstring& name : names) {
        all.push_back(See(requests, name.c_str()));
    }
    return all;
}

// Deletes what was seen of a performed request: its marks (whole, whatever
// lies below them), then the request unless a newer mark came.
void DeletePerformed(CRegKey& requests, const Seen& seen) {
    CRegKey request;
    if (request.Open(requests, seen.name.c_str(), KEY_READ | KEY_WRITE) == ERROR_SUCCESS) {
        for (const std::wstring& mark : seen.marks) {
            request.RecurseDeleteKey(mark.c_str());
        }
    }
    requests.DeleteSubKey(seen.name.c_str());
}

// One per-file request, for UpdateWDSIndexForHLFile. The replay hands in
// the store key path it copied when it began (storeKey), so a CloseDown or
// ReleaseStatics on another thread meanwhile cannot make a request's path
// unknown and the request be removed unperformed; otherwise the key is
// derived now.
bool PerformFileRequest(WDSIndexType type, const CStringW& fileName, const std::wstring* storeKey) {
    CDesktopLog log("WDSUtil::UpdateWDSIndexForHLFile");
    if (!IndexerPresent(log)) {
        return true;
    }
    try {
        CComPtr<IHLIndexControl> handler = CreateHandler();
        CStringW fullPath;
        if (!(storeKey != nullptr ? hk::wds::DBFullPathUnder(log, *storeKey, fileName, fullPath)
                                  : WDSUtil::GetDBFullPath(fileName, fullPath))) {
            log.LogText(LOG_ERROR, "Error getting full path for Hoardlocal DB file");
            return true;
        }
        CComBSTR path(fullPath.GetString());
        if (!path) {
            _com_issue_error(E_OUTOFMEMORY);
        }
        HRESULT hr = CallHandler(handler, type, path, false);
        log.LogInt(LOG_DETAIL, "Operation performed on the Hoardlocal's file in the WDS index : %d\n", type);
        log.LogText(LOG_DETAIL, "Hoardlocal file name - %s\n", fullPath.GetString());
        log.LogHR(LOG_DETAIL, kHandlerReturned, hr);
    } catch (...) {
        log.LogHR(LOG_ERROR, "The indexing operation performed by the WDS protocol handler failed",
                  HkResultFromCaught());
    }
    return true;
}

} // namespace

bool WDSUtil::PersistWDSIndexingInfo(CStringW path, WDSIndexType type) {
    CDesktopLog log("WDSUtil::PersistWDSIndexingInfo");
    if (path.IsEmpty()) {
        log.LogText(LOG_ERROR, "HL file path is empty\n");
        return false;
    }
    if (!IsKnownType(type)) {
        log.LogInt(LOG_ERROR, "Unknown WDS index operation %d\n", type);
        return false;
    }
    try {
        std::wstring storeKey;
        if (!hk::wds::StoreKeyOrLog(log, storeKey)) {
            return false;
        }
        std::wstring name;
        if (!hk::wds::RequestName(path.str(), name)) {
            log.LogText(LOG_ERROR, "HL file path names no file: \"%s\"\n", path.GetString());
            return false;
        }
        std::wstring request = storeKey + L"\\" + szWDSIndexData + L"\\" + szWDSOps[type] + L"\\" + name;
        CHkCritSecLock lock(s_csWDSIndex);
        // A replay reads the queue under this lock too, so it never sees the
        // request without its mark.
        NamedTurn queueLock(kQueueMutex, kQueueLockMs, log);
        if (!queueLock || RecordMark(request) != ERROR_SUCCESS) {
            log.LogText(LOG_ERROR, "Could not create the registry key HKCU\\%s to process the WDS index.\n",
                        request.c_str());
            return false;
        }
        log.LogText(LOG_DETAIL, "Successfully created the registry key HKCU\\%s to process the WDS index.\n",
                    request.c_str());
        return true;
    } catch (...) {
        HkCaughtToHr(log, "WDSUtil::PersistWDSIndexingInfo");
        return false;
    }
}

bool WDSUtil::UpdateWDSIndexForHL(WDSIndexType type) {
    CDesktopLog log("WDSUtil::UpdateWDSIndexForHL");
    if (!IndexerPresent(log)) {
        return true;
    }
    try {
        CComPtr<IHLIndexControl> handler = CreateHandler();
        HRESULT hr = CallHandler(handler, type, nullptr, true);
        log.LogInt(LOG_DETAIL, "Operation performed on the Hoardlocal's WDS index : %d\n", type);
        log.LogHR(LOG_DETAIL, kHandlerReturned, hr);
    } catch (...) {
        log.LogHR(LOG_ERROR, "The indexing operation performed by the WDS protocol handler failed ",
                  HkResultFromCaught());
    }
    return true;
}

bool WDSUtil::UpdateWDSIndexForHLFile(WDSIndexType type, CStringW fileName) {
    return PerformFileRequest(type, fileName, nullptr);
}

void WDSUtil::UpdateWDSIndex() {
    CDesktopLog log("WDSUtil::UpdateWDSIndex");
    try {
        std::wstring storeKey;
        if (!hk::wds::StoreKeyOrLog(log, storeKey, nullptr,
                                    "The profile store key name could not be found")) {
            return;
        }
        // Replays take turns: the one waiting reads the queue after the one
        // before it has removed what it performed.
        NamedTurn turn(kReplayMutex, kReplayTurnMs, log);
        if (!turn) {
            log.LogText(LOG_ERROR, "The WDS index queue stays for the next replay\n");
            return;
        }
        CHkCritSecLock lock(s_csWDSIndex);
        const std::wstring queue = storeKey + L"\\" + szWDSIndexData;
        for (int op = WDSIndexDelete; op <= WDSIndexReIndex; ++op) {
            const WDSIndexType type = static_cast<WDSIndexType>(op);
            const std::wstring opKey = queue + L"\\" + szWDSOps[op];
            log.LogText(LOG_DETAIL, "Trying to open the HKCU\\%s key for WDS indexing\n", opKey.c_str());
            CRegKey requests;
            LONG rc = requests.Open(HKEY_CURRENT_USER, opKey.c_str(), KEY_READ | KEY_WRITE);
            if (rc != ERROR_SUCCESS) {
                log.LogText(LOG_DETAIL, "Could not open the key HKCU- %s \n", opKey.c_str());
                log.LogInt(LOG_DETAIL, "Error code %d\n", rc);
                continue;
            }
            // The requests and their marks as they stand now; what is
            // recorded from here on waits for the next replay.
            std::vector<Seen> queued;
            {
                NamedTurn queueLock(kQueueMutex, kQueueLockMs, log);
                if (!queueLock) {
                    return;
                }
                queued = SeeAll(requests);
            }
            std::vector<Seen> handled;
            bool wholeCache = false;
            for (const Seen& seen : queued) {
                log.LogText(LOG_DETAIL, "Key \"%s\" found under HKCU\\%s\n", seen.name.c_str(),
                            opKey.c_str());
                if (_wcsicmp(seen.name.c_str(), szHoardlocal) == 0) {
                    // The whole-cache request covers every request queued
                    // with it, the files after it included.
                    if (UpdateWDSIndexForHL(type)) {
                        log.LogText(LOG_DETAIL, "WDSUtil::UpdateWDSIndexForHL succeeded");
                        handled = queued;
                        wholeCache = true;
                    }
                    break;
                }
                if (PerformFileRequest(type, seen.name.c_str(), &storeKey)) {
                    log.LogText(LOG_DETAIL, "WDSUtil::UpdateWDSIndexForHL succeeded");
                    handled.push_back(seen);
                }
            }
            if (!wholeCache) {
                log.LogInt(LOG_DETAIL, "Error code: %d\n", ERROR_NO_MORE_ITEMS);
            }
            NamedTurn queueLock(kQueueMutex, kQueueLockMs, log);
            for (const Seen& seen : handled) {
                DeletePerformed(requests, seen);
            }
            requests.Close();
            if (wholeCache) {
                // The operation's key goes too unless a request came meanwhile.
                CRegKey parent;
                if (parent.Open(HKEY_CURRENT_USER, queue.c_str(), KEY_READ | KEY_WRITE) == ERROR_SUCCESS) {
                    parent.DeleteSubKey(szWDSOps[op]);
                }
            }
        }
    } catch (...) {
        HkCaughtToHr(log, "WDSUtil::UpdateWDSIndex");
    }
}
