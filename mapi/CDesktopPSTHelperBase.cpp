// The PST store helper: a PST service added to the session's profile only
// for as long as it takes to configure it and open its store.
#include "include/hearthkit/CDesktopPSTHelperBase.h"

#include "include/hearthkit/AutoPtrWithFreePolicy.h"
#include "include/hearthkit/CDesktopLog.h"
#include "include/hearthkit/HearthkitUtil.h"
#include "include/hearthkit/HkCom.h"
#include "include/hearthkit/HkLock.h"
#include "include/hearthkit/HkResult.h"
#include "mapi/MapiExtras.h"
#include "mapi/PSTHelperShared.h"

#include <mapicode.h>
#include <mapitags.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

const char kUnicodePstService[] = "MSUPST MS";
const char kAnsiPstService[] = "MSPST MS";
const char kServiceDisplayName[] = "Ignored";

// The extended error context with which the PST provider refuses to open a
// file that another process still has open: worth waiting for.
const ULONG kPstBusyContext = 0x100D0201;
const DWORD kBusyRetryMs = 1000;
const DWORD kBusyWaitLimitMs = 180000;

using hk::pst::GetOneProp;
using hk::pst::PropBuffer;
using ErrorBuffer = AutoPtrWithFreePolicy<MAPIERROR, MAPIFreeBufferPolicy>;
using RowSet = AutoPtrWithFreePolicy<SRowSet, FreeProwsPolicy>;

// Serialises OpenMAPISession across the process, so that two threads never
// make and delete the same temporary profile at once.
CHkCriticalSection g_sessionLock;

// The temporary profile names this process has made. Two sessions made
// within one tick seed the generator alike; the second draws on until its
// name is new, since the first may still be using its profile.
std::set<std::string>& MadeProfileNames() {
    static std::set<std::string> names;
    return names;
}

// A service table row that holds one usable UID.
const SBinary* RowUid(const SRow& row) {
    if (row.cValues != 1 || PROP_TYPE(row.lpProps[0].ulPropTag) == PT_ERROR) {
        return nullptr;
    }
    const SPropValue& value = row.lpProps[0];
    if (PROP_TYPE(value.ulPropTag) != PT_BINARY || value.Value.bin.cb != sizeof(MAPIUID)) {
        return nullptr;
    }
    return &value.Value.bin;
}

// Whether rows hold a usable row with uid.
bool Listed(const SRowSet& rows, const SBinary& uid) {
    for (ULONG r = 0; r < rows.cRows; ++r) {
        const SBinary* other = RowUid(rows.aRow[r]);
        if (other != nullptr && std::memcmp(other->lpb, uid.lpb, sizeof(MAPIUID)) == 0) {
            return true;
        }
    }
    return false;
}

// The one value of column in the one row that matches restriction: E_FAIL
// unless exactly one row with one value comes back. The value points into
// rows.
HRESULT QueryOneValue(IMAPITable* table, ULONG column, SRestriction* restriction, LONG maxRows, RowSet& rows,
                      const SPropValue** value) {
    SizedSPropTagArray(1, columns) = {1, {column}};
    HRESULT hr =
        HrQueryAllRows(table, hk::mapi::TagArray(columns), restriction, nullptr, maxRows, rows.put());
    if (FAILED(hr)) {
        return hr;
    }
    if (!rows || rows->cRows != 1 || rows->aRow[0].cValues != 1) {
        return E_FAIL;
    }
    *value = &rows->aRow[0].lpProps[0];
    return hr;
}

std::wstring HrText(const wchar_t* tag, HRESULT hr) {
    wchar_t text[64];
    if (tag != nullptr) {
        _snwprintf(text, 64, L"%.40s 0x%.8X", tag, static_cast<unsigned>(hr));
    } else {
        _snwprintf(text, 64, L"0x%.8X", static_cast<unsigned>(hr));
    }
    text[63] = L'\0';
    return text;
}

const wchar_t* OrEmpty(LPTSTR text) {
    return text != nullptr ? reinterpret_cast<const wchar_t*>(text) : L"";
}

// The deadline of the busy wait; the sum wraps as the tick count does.
bool WithinBusyWaitLimit(DWORD start, DWORD now) {
    return now <= static_cast<DWORD>(start + kBusyWaitLimitMs);
}

} // namespace

CDesktopPSTHelperBase::CDesktopPSTHelperBase(bool allowUI, bool attachSession, IMAPISession* session,
                                             bool ownSession)
    : m_bOwnSession(ownSession), m_bAllowUI(allowUI) {
    CDesktopLog log("CDesktopPSTHelperBase::CDesktopPSTHelperBase");
    hk::pst::AddLiveHelper(this);
    if (!attachSession) {
        return;
    }
    CComPtr<IMAPISession> attach(session);
    if (!attach) {
        OpenMAPISession(&attach, true);
        m_bOwnSession = true;
    }
    if (attach) {
        SetMAPISession(attach);
    }
}

// Member-wise, except that the copy owns a copy of the store entry id.
CDesktopPSTHelperBase::CDesktopPSTHelperBase(const CDesktopPSTHelperBase& other)
    : m_pSession(other.m_pSession), m_bOwnSession(other.m_bOwnSession),
      m_pServiceAdmin(other.m_pServiceAdmin), m_pStore(other.m_pStore), m_serviceUID(other.m_serviceUID),
      m_cbServiceUID(other.m_cbServiceUID), m_strPSTPath(other.m_strPSTPath), m_bInUse(other.m_bInUse),
      m_bAllowUI(other.m_bAllowUI), m_bUnicode(other.m_bUnicode) {
    if (other.m_pStoreEntryID && other.m_cbStoreEntryID > 0) {
        void* copy = nullptr;
        if (SUCCEEDED(MAPIAllocateBuffer(other.m_cbStoreEntryID, &copy))) {
            std::memcpy(copy, other.m_pStoreEntryID.get(), other.m_cbStoreEntryID);
            m_pStoreEntryID.reset(static_cast<ENTRYID*>(copy));
            m_cbStoreEntryID = other.m_cbStoreEntryID;
        }
    }
    hk::pst::AddLiveHelper(this);
}

CDesktopPSTHelperBase::~CDesktopPSTHelperBase() {
    CDesktopLog log("CDesktopPSTHelperBase::~CDesktopPSTHelperBase");
    hk::pst::RemoveLiveHelper(this);
}

HRESULT CDesktopPSTHelperBase::SetMAPISession(IMAPISession* session) {
    HRESULT hr = S_OK;
    CDesktopLog log("CDesktopPSTHelperBase::SetMAPISession", &hr);
    if (m_pSession) {
        return hr = E_FAIL;
    }
    if (session == nullptr) {
        return hr = HkNullArgument(log, "session");
    }
    m_pSession = session;
    return hr = m_pSession->AdminServices(0, &m_pServiceAdmin);
}

HRESULT CDesktopPSTHelperBase::OpenMAPISession(IMAPISession** out, bool newSession) {
    HRESULT hr = S_OK;
    CDesktopLog log("CDesktopPSTHelperBase::OpenMAPISession", &hr);
    if (out == nullptr) {
        return hr = HkNullArgument(log, "out");
    }
    CHkCritSecLock lock(g_sessionLock);
    std::srand(::GetTickCount());
    char name[64];
    for (int draws = 0; draws < RAND_MAX + 1; ++draws) {
        std::snprintf(name, sizeof(name), "Stowhaven_%d_%d", static_cast<int>(::GetCurrentThreadId()),
                      std::rand());
        if (MadeProfileNames().insert(name).second) {
            break;
        }
    }
    LPTSTR profile = name;
    log.LogText(LOG_DETAIL, "Temporary profile %s\n", name);

    CComPtr<IProfAdmin> admin;
    hr = MAPIAdminProfiles(0, &admin);
    if (FAILED(hr)) {
        return hr;
    }
    hr = admin->DeleteProfile(profile, 0);
    if (hr == MAPI_E_NOT_FOUND) {
        hr = S_OK;
    }
    if (FAILED(hr)) {
        return hr;
    }
    hr = admin->CreateProfile(profile, nullptr, 0, 0);
    if (FAILED(hr)) {
        return hr;
    }
    CComPtr<IMAPISession> session;
    hr = MAPILogonEx(0, profile, nullptr, newSession ? MAPI_NEW_SESSION : MAPI_ALLOW_OTHERS, &session);
    if (FAILED(hr)) {
        // No session will ever use the profile: it must not stay behind in
        // the user's profile list. The logon's failure is what is returned.
        admin->DeleteProfile(profile, 0);
        return hr;
    }
    // The profile goes at once; the session keeps working on it.
    hr = admin->DeleteProfile(profile, 0);
    if (FAILED(hr)) {
        return hr;
    }
    *out = session.Detach();
    return hr;
}

HRESULT CDesktopPSTHelperBase::AddService(bool unicode) {
    HRESULT hr = S_OK;
    CDesktopLog log("CDesktopPSTHelperBase::AddService", &hr);
    if (!m_pServiceAdmin) {
        return hr = E_NOINTERFACE;
    }
    // The entry id kept names a store of the service an earlier open added
    // and removed again: the new service has a store of its own.
    m_pStoreEntryID.reset();
    m_cbStoreEntryID = 0;
    const char* service = unicode ? kUnicodePstService : kAnsiPstService;
    SPropValue name = {};
    name.ulPropTag = PR_SERVICE_NAME_A;
    name.Value.lpszA = const_cast<char*>(service);
    SRestriction sameService = hk::mapi::PropertyRestriction(RELOP_EQ, name);
    enum { colUid, colCount };
    SizedSPropTagArray(colCount, columns) = {colCount, {PR_SERVICE_UID}};

    // The services of this kind; tableFailed tells which step failed.
    auto read = [&](RowSet& rows, bool& tableFailed) {
        CComPtr<IMAPITable> table;
        HRESULT result = m_pServiceAdmin->GetMsgServiceTable(0, &table);
        tableFailed = FAILED(result);
        if (tableFailed) {
            return result;
        }
        return HrQueryAllRows(table, hk::mapi::TagArray(columns), &sameService, nullptr, 0, rows.put());
    };
    // The same through the handler; failed tells the handler's answer from
    // a query's result.
    auto query = [&](const wchar_t* tableTag, RowSet& rows, bool& failed) {
        bool tableFailed = false;
        HRESULT result = read(rows, tableFailed);
        failed = FAILED(result);
        return failed ? OnError(result, tableFailed ? tableTag : L"[HQAR1]", nullptr) : result;
    };

    bool failed = false;
    RowSet before;
    hr = query(L"[GMST1]", before, failed);
    if (failed) {
        return hr;
    }
    hr = m_pServiceAdmin->CreateMsgService(const_cast<char*>(service), const_cast<char*>(kServiceDisplayName),
                                           0, 0);
    if (hr == MAPI_E_NOT_FOUND) {
        return hr = OnNoPSTServiceError(hr, L"[CMS1]");
    }
    if (FAILED(hr)) {
        return hr = OnError(hr, L"[CMS2]", nullptr);
    }
    RowSet after;
    hr = query(L"[GMST2]", after, failed);
    if (failed) {
        return hr;
    }
    // The new service is the first one that was not there before; it is
    // configured afresh.
    for (ULONG a = 0; a < after->cRows; ++a) {
        const SBinary* uid = RowUid(after->aRow[a]);
        if (uid != nullptr && !Listed(*before.get(), *uid)) {
            std::memcpy(m_serviceUID.ab, uid->lpb, sizeof(MAPIUID));
            m_cbServiceUID = uid->cb;
            m_bInUse = false;
            return hr = S_OK;
        }
    }
    // The service created could not be told from the others in that read:
    // read once more and remove what is new, so that it does not stay in the
    // user's profile for good.
    RowSet again;
    bool tableFailed = false;
    if (SUCCEEDED(read(again, tableFailed))) {
        for (ULONG a = 0; a < again->cRows; ++a) {
            const SBinary* uid = RowUid(again->aRow[a]);
            if (uid != nullptr && !Listed(*before.get(), *uid)) {
                MAPIUID lost = {};
                std::memcpy(lost.ab, uid->lpb, sizeof(MAPIUID));
                log.LogHR(LOG_ERROR, "AddService: removing the PST service it could not identify",
                          m_pServiceAdmin->DeleteMsgService(&lost));
            }
        }
    }
    return hr = OnNoPSTServiceError(hr, L"[PFNF]");
}

HRESULT CDesktopPSTHelperBase::RemoveService() {
    HRESULT hr = S_OK;
    CDesktopLog log("CDesktopPSTHelperBase::RemoveService", &hr);
    if (!m_pServiceAdmin) {
        return hr = E_NOINTERFACE;
    }
    hr = m_pServiceAdmin->DeleteMsgService(&m_serviceUID);
    m_serviceUID = MAPIUID{};
    return hr;
}

// Marks the Unicode PST provider's section as a Unicode file again, so that
// a refused configure or open can be tried once more.
HRESULT CDesktopPSTHelperBase::FixMAPIProfile() {
    if (!m_pServiceAdmin) {
        return E_NOINTERFACE;
    }
    CComPtr<IProviderAdmin> providers;
    HRESULT hr = m_pServiceAdmin->AdminProviders(&m_serviceUID, 0, &providers);
    if (FAILED(hr)) {
        return hr;
    }
    CComPtr<IMAPITable> table;
    hr = providers->GetProviderTable(0, &table);
    if (FAILED(hr)) {
        return hr;
    }
    SPropValue name = {};
    name.ulPropTag = PR_SERVICE_NAME_A;
    name.Value.lpszA = const_cast<char*>(kUnicodePstService);
    SRestriction sameService = hk::mapi::ContentRestriction(FL_FULLSTRING, name);
    RowSet rows;
    const SPropValue* uid = nullptr;
    hr = QueryOneValue(table, PR_PROVIDER_UID, &sameService, 0, rows, &uid);
    if (FAILED(hr)) {
        return hr;
    }
    if (uid->ulPropTag != PR_PROVIDER_UID || uid->Value.bin.cb != sizeof(MAPIUID)) {
        return E_FAIL;
    }
    CComPtr<IProfSect> section;
    hr = providers->OpenProfileSection(reinterpret_cast<MAPIUID*>(uid->Value.bin.lpb), nullptr,
                                       MAPI_MODIFY | MAPI_FORCE_ACCESS, &section);
    if (FAILED(hr)) {
        return hr;
    }
    SPropValue flags = {};
    flags.ulPropTag = PR_PST_CONFIG_FLAGS;
    flags.Value.l = static_cast<LONG>(PST_CONFIG_UNICODE);
    return section->SetProps(1, &flags, nullptr);
}

HRESULT CDesktopPSTHelperBase::OpenMsgStore(ULONG_PTR uiParam, ULONG cbEntryID, ENTRYID* entryID,
                                            const GUID* iid, ULONG flags, IMsgStore** out) {
    if (!m_pSession) {
        return E_NOINTERFACE;
    }
    HRESULT hr = m_pSession->OpenMsgStore(uiParam, cbEntryID, entryID, iid, flags, out);
    if (SUCCEEDED(hr) || FAILED(FixMAPIProfile())) {
        return hr;
    }
    return m_pSession->OpenMsgStore(uiParam, cbEntryID, entryID, iid, flags, out);
}

HRESULT CDesktopPSTHelperBase::ConfigureMsgService(MAPIUID* uid, ULONG_PTR uiParam, ULONG flags, ULONG count,
                                                   SPropValue* values) {
    if (!m_pServiceAdmin) {
        return E_NOINTERFACE;
    }
    HRESULT hr = m_pServiceAdmin->ConfigureMsgService(uid, uiParam, flags, count, values);
    if (SUCCEEDED(hr) || FAILED(FixMAPIProfile())) {
        return hr;
    }
    return m_pServiceAdmin->ConfigureMsgService(uid, uiParam, flags, count, values);
}

HRESULT CDesktopPSTHelperBase::ConfigurePST(const wchar_t* path) {
    HRESULT hr = S_OK;
    CDesktopLog log("CDesktopPSTHelperBase::ConfigurePST", &hr);
    if (m_bInUse) {
        return hr = S_OK;
    }
    if (path == nullptr) {
        return hr = E_POINTER;
    }
    m_strPSTPath = path;
    SPropValue value = {};
    value.ulPropTag = PR_PST_PATH_W;
    value.Value.lpszW = const_cast<wchar_t*>(m_strPSTPath.c_str());
    ULONG flags = m_bAllowUI ? SERVICE_UI_ALLOWED : 0;
    hr = ConfigureMsgService(&m_serviceUID, 0, flags, 1, &value);
    if (SUCCEEDED(hr)) {
        if (m_bOwnSession) {
            HRESULT madeDefault = m_pSession->SetDefaultStore(MAPI_DEFAULT_STORE, 0, nullptr);
            if (FAILED(madeDefault)) {
                return hr = OnError(madeDefault, L"[CPST2]", nullptr);
            }
        }
        m_bInUse = true;
        return hr;
    }

    std::wstring detail;
    if (hr != MAPI_E_EXTENDED_ERROR) {
        log.LogHR(LOG_ERROR, "ConfigureMsgService returned", hr);
    } else {
        ErrorBuffer error;
        if (SUCCEEDED(m_pServiceAdmin->GetLastError(hr, MAPI_UNICODE, error.put())) && error) {
            if (error->lpszError != nullptr) {
                detail = OrEmpty(error->lpszError);
                hr = E_FAIL;
            }
            log.LogText(LOG_ERROR, "ConfigureMsgService returned:\n");
            log.LogText(LOG_ERROR, "    lpszError: %s\n", OrEmpty(error->lpszError));
            log.LogText(LOG_ERROR, "    lpszComponent: %s\n", OrEmpty(error->lpszComponent));
            log.LogInt(LOG_ERROR, "    ulLowLevelError: %d\n", static_cast<int>(error->ulLowLevelError));
            log.LogInt(LOG_ERROR, "    ulContext: %d\n", static_cast<int>(error->ulContext));
        }
    }
    return hr = OnError(hr, L"[CMS3]", detail.c_str());
}

HRESULT CDesktopPSTHelperBase::FindStoreEntryID() {
    CComPtr<IMAPITable> stores;
    HRESULT hr = m_pSession->GetMsgStoresTable(0, &stores);
    if (FAILED(hr)) {
        return hr;
    }
    SPropValue service = {};
    service.ulPropTag = PR_SERVICE_UID;
    service.Value.bin.cb = m_cbServiceUID;
    service.Value.bin.lpb = m_serviceUID.ab;
    SRestriction ofService = hk::mapi::PropertyRestriction(RELOP_EQ, service);
    RowSet rows;
    const SPropValue* found = nullptr;
    hr = QueryOneValue(stores, PR_ENTRYID, &ofService, 1, rows, &found);
    if (FAILED(hr)) {
        return hr;
    }
    const SPropValue& entryId = *found;
    if (PROP_TYPE(entryId.ulPropTag) == PT_ERROR) {
        return entryId.Value.err;
    }
    if (PROP_TYPE(entryId.ulPropTag) != PT_BINARY) {
        return E_FAIL;
    }
    void* copy = nullptr;
    if (FAILED(MAPIAllocateBuffer(entryId.Value.bin.cb, &copy))) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(copy, entryId.Value.bin.lpb, entryId.Value.bin.cb);
    m_pStoreEntryID.reset(static_cast<ENTRYID*>(copy));
    m_cbStoreEntryID = entryId.Value.bin.cb;
    return S_OK;
}

HRESULT CDesktopPSTHelperBase::OpenPST(OpenMode mode, const wchar_t* path, bool wait, HANDLE stopEvent) {
    HRESULT hr = S_OK;
    CDesktopLog log("CDesktopPSTHelperBase::OpenPST", &hr);
    ClosePST(false);
    if ((mode == CreateNew || mode == CreateNewANSI) && path != nullptr) {
        if (!::DeleteFileW(path)) {
            DWORD error = ::GetLastError();
            if (error != ERROR_FILE_NOT_FOUND) {
                return hr = HRESULT_FROM_WIN32(error);
            }
        }
        m_bInUse = false;
    }
    hr = ConfigurePST(path);
    if (FAILED(hr)) {
        return hr;
    }
    if (!m_pStoreEntryID && m_cbStoreEntryID == 0) {
        hr = FindStoreEntryID();
        if (FAILED(hr)) {
            return hr;
        }
    }

    // A file still held by another process is refused with one particular
    // extended error; wait for it while the caller lets us.
    // A stop event that cannot be waited on ends the wait with the wait's
    // error, rather than trying again at once until the limit.
    const DWORD start = ::GetTickCount();
    HRESULT waitFailed = S_OK;
    auto busyWorthWaiting = [&](HRESULT result) {
        if (SUCCEEDED(result) || !wait || stopEvent == nullptr || result != MAPI_E_EXTENDED_ERROR) {
            return false;
        }
        ErrorBuffer error;
        if (FAILED(m_pSession->GetLastError(result, 0, error.put())) || !error ||
            error->ulContext != kPstBusyContext) {
            return false;
        }
        DWORD waited = ::WaitForSingleObject(stopEvent, kBusyRetryMs);
        if (waited == WAIT_FAILED) {
            waitFailed = HRESULT_FROM_WIN32(::GetLastError());
        }
        return waited == WAIT_TIMEOUT && WithinBusyWaitLimit(start, ::GetTickCount());
    };
    CComPtr<IMsgStore> opened;
    do {
        hr = OpenMsgStore(0, m_cbStoreEntryID, m_pStoreEntryID.get(), nullptr, MAPI_BEST_ACCESS | MDB_NO_MAIL,
                          &opened);
    } while (busyWorthWaiting(hr));
    if (FAILED(waitFailed)) {
        log.LogHR(LOG_ERROR, "OpenPST: the stop event cannot be waited on", waitFailed);
        return hr = waitFailed;
    }

    if (SUCCEEDED(hr)) {
        {
            // A growth-policy callback may be reading the store reference.
            CHkCritSecLock lock(hk::pst::HelperLock());
            m_pStore.Attach(opened.Detach());
        }
        PropBuffer mask;
        hr = GetOneProp(m_pStore, PR_STORE_SUPPORT_MASK, mask);
        m_bUnicode = hr == S_OK && mask && mask->ulPropTag == PR_STORE_SUPPORT_MASK &&
                     (mask->Value.l & STORE_UNICODE_OK) != 0;
        if (SUCCEEDED(hr)) {
            hr = HandlePSTDisableGrow();
        }
        return hr;
    }
    if (hr != MAPI_E_EXTENDED_ERROR) {
        log.LogHR(LOG_ERROR, "OpenPST::OpenMsgStore returned", hr);
    } else {
        ErrorBuffer error;
        if (SUCCEEDED(m_pSession->GetLastError(hr, 0, error.put())) && error) {
            const char* text = error->lpszError ? reinterpret_cast<const char*>(error->lpszError) : "";
            const char* component =
                error->lpszComponent ? reinterpret_cast<const char*>(error->lpszComponent) : "";
            log.LogText(LOG_ERROR, "OpenPST::OpenMsgStore: %s - %s\n", text, component);
        }
    }
    return hr;
}

HRESULT CDesktopPSTHelperBase::OpenNamedPST(const wchar_t* path, bool wait, HANDLE stopEvent, OpenMode mode) {
    HRESULT hr = S_OK;
    CDesktopLog log("CDesktopPSTHelperBase::OpenNamedPST", &hr);
    // An empty path would configure a service that names no file.
    if (path != nullptr && *path == L'\0') {
        log.LogText(LOG_ERROR, "OpenNamedPST: empty path\n");
        return hr = E_INVALIDARG;
    }
    // Only a helper in use may open its configured file again without one.
    if (path == nullptr && !m_bInUse) {
        return hr = HkNullArgument(log, "path", E_POINTER);
    }
    // The new service of such an open is configured with that file.
    const std::wstring configured = m_strPSTPath;
    if (path == nullptr) {
        path = configured.c_str();
    }
    hr = AddService(mode != CreateNewANSI);
    if (SUCCEEDED(hr)) {
        hr = OpenPST(mode, path, wait, stopEvent);
    }
    // The profile never keeps the service; the open store does not need it.
    RemoveService();
    return hr;
}

HRESULT CDesktopPSTHelperBase::OpenNamedPST(const wchar_t* path, OpenMode mode) {
    return OpenNamedPST(path, false, nullptr, mode);
}

bool CDesktopPSTHelperBase::ClosePST(bool releaseSession) {
    CDesktopLog log("CDesktopPSTHelperBase::ClosePST");
    CComPtr<IMsgStore> closing;
    {
        // Not while a growth-policy callback is using the store; released
        // outside the lock, since the provider may call back meanwhile.
        CHkCritSecLock lock(hk::pst::HelperLock());
        closing.Attach(m_pStore.Detach());
    }
    bool wasOpen = closing != nullptr;
    closing.Release();
    if (releaseSession) {
        m_pServiceAdmin.Release();
        m_pSession.Release();
        m_bInUse = false;
    }
    return wasOpen;
}

HRESULT CDesktopPSTHelperBase::DeletePST() {
    HRESULT hr = S_OK;
    CDesktopLog log("CDesktopPSTHelperBase::DeletePST", &hr);
    ClosePST(true);
    if (m_strPSTPath.empty()) {
        return hr;
    }
    if (!::DeleteFileW(m_strPSTPath.c_str())) {
        return hr = HRESULT_FROM_WIN32(::GetLastError());
    }
    m_bInUse = false;
    return hr;
}

HRESULT CDesktopPSTHelperBase::GetStore(IMsgStore** out) {
    CDesktopLog log("CDesktopPSTHelperBase::GetStore");
    if (out == nullptr) {
        return HkNullArgument(log, "out");
    }
    if (!m_pStore) {
        return E_FAIL;
    }
    return m_pStore.CopyTo(out);
}

HRESULT CDesktopPSTHelperBase::GetRootFolder(IMAPIFolder** out) const {
    HRESULT hr = S_OK;
    CDesktopLog log("CDesktopPSTHelperBase::GetRootFolder", &hr);
    if (out == nullptr) {
        return hr = HkNullArgument(log, "out");
    }
    *out = nullptr;
    if (!m_pStore) {
        return hr = E_FAIL;
    }
    PropBuffer subtree;
    hr = GetOneProp(m_pStore, PR_IPM_SUBTREE_ENTRYID, subtree);
    if (FAILED(hr)) {
        return hr;
    }
    if (subtree->ulPropTag != PR_IPM_SUBTREE_ENTRYID) {
        return hr = subtree->Value.err;
    }
    ULONG type = 0;
    CComPtr<IUnknown> opened;
    hr = m_pStore->OpenEntry(subtree->Value.bin.cb, reinterpret_cast<ENTRYID*>(subtree->Value.bin.lpb),
                             nullptr, MAPI_BEST_ACCESS, &type, &opened);
    if (FAILED(hr)) {
        return hr;
    }
    return hr = opened->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(out));
}

HRESULT CDesktopPSTHelperBase::OpenItemByEntryId(const wchar_t* hexEntryId, IMessage** out) {
    HRESULT hr = S_OK;
    CDesktopLog log("CDesktopPSTHelperBase::OpenItemByEntryId", &hr);
    if (out == nullptr) {
        return hr = HkNullArgument(log, "out");
    }
    std::vector<BYTE> entryId;
    hr = HearthkitUtil::HexStrToBinary(hexEntryId, entryId);
    if (FAILED(hr)) {
        log.LogHR(LOG_ERROR, "OpenItemByEntryId: not an entry id in hexadecimal", hr);
        return hr;
    }
    // No bytes would name the store's root, which is no message.
    if (entryId.empty()) {
        log.LogHR(LOG_ERROR, "OpenItemByEntryId: empty entry id", hr = E_INVALIDARG);
        return hr;
    }
    if (!m_pStore) {
        log.LogHR(LOG_ERROR, "OpenItemByEntryId: no store is open", hr = E_FAIL);
        return hr;
    }
    ULONG type = 0;
    return hr = m_pStore->OpenEntry(static_cast<ULONG>(entryId.size()),
                                    reinterpret_cast<ENTRYID*>(entryId.data()), &IID_IMessage,
                                    MAPI_BEST_ACCESS, &type, reinterpret_cast<IUnknown**>(out));
}

bool CDesktopPSTHelperBase::IsUnicode() const {
    CDesktopLog log("CDesktopPSTHelperBase::IsUnicode");
    return m_bUnicode;
}

bool CDesktopPSTHelperBase::InUse() const {
    CDesktopLog log("CDesktopPSTHelperBase::InUse");
    return m_bInUse;
}

HRESULT CDesktopPSTHelperBase::OnError(HRESULT hr, const wchar_t* tag, const wchar_t* detail) {
    CDesktopLog log("CDesktopPSTHelperBase::OnError", &hr);
    std::wstring text = HrText(tag, hr);
    if (detail != nullptr) {
        text += L", ";
        text += detail;
        text += L"\n";
    }
    log.LogText(LOG_ERROR, text.c_str());
    return hr;
}

HRESULT CDesktopPSTHelperBase::OnNoPSTServiceError(HRESULT hr, const wchar_t* detail) {
    CDesktopLog log("CDesktopPSTHelperBase::OnNoPSTServiceError", &hr);
    std::wstring text = HrText(nullptr, hr);
    if (detail != nullptr) {
        text += L", ";
        text += detail;
    }
    log.LogText(LOG_ERROR, text.c_str());
    return hr;
}
