// WDSUtil: the indexing request queue and its replay against the Hoardlocal
// protocol handler.
#include "WDSUtil.h"

#include "CDesktopLog.h"
#include "HkCom.h"
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

// What a failed request step raised: the COM error's code, or E_UNEXPECTED.
// Call only inside a catch block.
HRESULT CaughtRequestHr() noexcept {
    try {
        throw;
    } catch (const _com_error& e) {
        return e.Error();
    } catch (...) {
        return E_UNEXPECTED;
    }
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
        const wchar_t* storeKey = hk::wds::StoreKeyOrLog(log);
        if (storeKey == nullptr) {
            return false;
        }
        std::wstring name;
        if (!hk::wds::RequestName(path.str(), name)) {
            log.LogText(LOG_ERROR, "HL file path names no file: \"%s\"\n", path.GetString());
            return false;
        }
        std::wstring request =
            std::wstring(storeKey) + L"\\" + szWDSIndexData + L"\\" + szWDSOps[type] + L"\\" + name;
        CHkCritSecLock lock(s_csWDSIndex);
        CRegKey key;
        if (key.Create(HKEY_CURRENT_USER, request.c_str(), KEY_READ | KEY_WRITE) != ERROR_SUCCESS) {
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
                  CaughtRequestHr());
    }
    return true;
}

bool WDSUtil::UpdateWDSIndexForHLFile(WDSIndexType type, CStringW fileName) {
    CDesktopLog log("WDSUtil::UpdateWDSIndexForHLFile");
    if (!IndexerPresent(log)) {
        return true;
    }
    try {
        CComPtr<IHLIndexControl> handler = CreateHandler();
        CStringW fullPath;
        if (!GetDBFullPath(fileName, fullPath)) {
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
                  CaughtRequestHr());
    }
    return true;
}

void WDSUtil::UpdateWDSIndex() {
    CDesktopLog log("WDSUtil::UpdateWDSIndex");
    try {
        const wchar_t* storeKey =
            hk::wds::StoreKeyOrLog(log, nullptr, "The profile store key name could not be found");
        if (storeKey == nullptr) {
            return;
        }
        CHkCritSecLock lock(s_csWDSIndex);
        const std::wstring queue = std::wstring(storeKey) + L"\\" + szWDSIndexData;
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
            // Handled file requests are removed only after the enumeration,
            // so the enumeration's indexes stay valid.
            std::vector<std::wstring> handled;
            for (DWORD index = 0;; ++index) {
                wchar_t name[256] = {};
                DWORD chars = 256;
                rc = requests.EnumKey(index, name, &chars);
                log.LogText(LOG_DETAIL, "Key \"%s\" found under HKCU\\%s\n", name, opKey.c_str());
                log.LogInt(LOG_DETAIL, "Error code: %d\n", rc);
                if (rc != ERROR_SUCCESS) {
                    break;
                }
                if (_wcsicmp(name, szHoardlocal) == 0) {
                    // The whole-cache request covers the files after it too:
                    // the operation's key goes with everything under it.
                    if (UpdateWDSIndexForHL(type)) {
                        log.LogText(LOG_DETAIL, "WDSUtil::UpdateWDSIndexForHL succeeded");
                        requests.Close();
                        CRegKey parent;
                        if (parent.Open(HKEY_CURRENT_USER, queue.c_str(), KEY_READ | KEY_WRITE) ==
                            ERROR_SUCCESS) {
                            parent.RecurseDeleteKey(szWDSOps[op]);
                        }
                        handled.clear();
                    }
                    break;
                }
                if (UpdateWDSIndexForHLFile(type, name)) {
                    log.LogText(LOG_DETAIL, "WDSUtil::UpdateWDSIndexForHL succeeded");
                    handled.push_back(name);
                }
            }
            requests.Close();
            CRegKey again;
            if (again.Open(HKEY_CURRENT_USER, opKey.c_str(), KEY_READ | KEY_WRITE) == ERROR_SUCCESS) {
                for (const std::wstring& name : handled) {
                    again.DeleteSubKey(name.c_str());
                }
            }
        }
    } catch (...) {
        HkCaughtToHr(log, "WDSUtil::UpdateWDSIndex");
    }
}
