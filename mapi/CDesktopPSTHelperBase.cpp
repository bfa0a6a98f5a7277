// The PST store helper: a PST service added to the session's profile only
// for as long as it takes to configure it and open its store.
#include "include/hearthkit/CDesktopPSTHelperBase.h"

#include "include/hearthkit/AutoPtrWithFreePolicy.h"
#include "include/hearthkit/CDesktopLog.h"
#include "include/hearthkit/HearthkitUtil.h"
#include "include/hearthkit/HkCom.h"
#include "include/hearthkit/HkLock.h"
#include "include/hearthkit/HkRegKey.h"
#include "include/hearthkit/HkResult.h"
#include "include/hearthkit/MAPILoader.h"
#include "mapi/PSTOverride.h"

#include <mapicode.h>
#include <mapitags.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#ifndef STORE_UNICODE_OK
#define STORE_UNICODE_OK 0x00040000
#endif
#ifndef MAPI_FORCE_ACCESS
#define MAPI_FORCE_ACCESS 0x00080000
#endif

namespace {

const char kUnicodePstService[] = "MSUPST MS";
const char kAnsiPstService[] = "MSPST MS";
const char kServiceDisplayName[] = "Ignored";

// The PST provider's own profile properties: the file's path, and its
// configuration flags, whose top bit marks a Unicode file.
const ULONG kPstPathTag = PROP_TAG(PT_UNICODE, 0x6700);
const ULONG kPstConfigFlagsTag = PROP_TAG(PT_LONG, 0x6770);
const LONG kPstConfigUnicode = static_cast<LONG>(0x80000000);

// The extended error context with which the PST provider refuses to open a
// file that another process still has open: worth waiting for.
const ULONG kPstBusyContext = 0x100D0201;
const DWORD kBusyRetryMs = 1000;
const DWORD kBusyWaitLimitMs = 180000;

// IID_IMessage and IID_IMAPIFolder, from their published values.
const IID kIID_IMessage = {0x00020307, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIID_IMAPIFolder = {0x0002030C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

using PropBuffer = AutoPtrWithFreePolicy<SPropValue, MAPIFreeBufferPolicy>;
using ErrorBuffer = AutoPtrWithFreePolicy<MAPIERROR, MAPIFreeBufferPolicy>;
using EntryIdBuffer = AutoPtrWithFreePolicy<ENTRYID, MAPIFreeBufferPolicy>;
using RowSet = AutoPtrWithFreePolicy<SRowSet, FreeProwsPolicy>;

// Serialises OpenMAPISession across the process, so that two threads never
// make and delete the same temporary profile at once.
CHkCriticalSection g_sessionLock;

// Every helper that exists, so that the growth-policy callback only reaches
// living helpers through the client data it is handed.
CHkCriticalSection g_liveLock;
std::set<const CDesktopPSTHelperBase*>& LiveHelpers() {
    static std::set<const CDesktopPSTHelperBase*> helpers;
    return helpers;
}

void AddLive(const CDesktopPSTHelperBase* helper) {
    CHkCritSecLock lock(g_liveLock);
    LiveHelpers().insert(helper);
}

void RemoveLive(const CDesktopPSTHelperBase* helper) {
    CHkCritSecLock lock(g_liveLock);
    LiveHelpers().erase(helper);
}

// GetProps for one tag (flags 0). The value may come back as PT_ERROR with
// MAPI_W_ERRORS_RETURNED.
HRESULT GetOneProp(IMAPIProp* object, ULONG tag, PropBuffer& value) {
    SizedSPropTagArray(1, tags) = {1, {tag}};
    ULONG count = 0;
    return object->GetProps(reinterpret_cast<SPropTagArray*>(&tags), 0, &count, value.put());
}

bool IsBinary(const PropBuffer& value) {
    return value && PROP_TYPE(value->ulPropTag) == PT_BINARY;
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

// A restriction to rows whose value.ulPropTag equals value; points into
// value.
SRestriction PropertyEquals(SPropValue& value) {
    SRestriction restriction = {};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_EQ;
    restriction.res.resProperty.ulPropTag = value.ulPropTag;
    restriction.res.resProperty.lpProp = &value;
    return restriction;
}

// The one value of column in the one row that matches restriction: E_FAIL
// unless exactly one row with one value comes back. The value points into
// rows.
HRESULT QueryOneValue(IMAPITable* table, ULONG column, SRestriction* restriction, LONG maxRows, RowSet& rows,
                      const SPropValue** value) {
    SizedSPropTagArray(1, columns) = {1, {column}};
    HRESULT hr = HrQueryAllRows(table, reinterpret_cast<SPropTagArray*>(&columns), restriction, nullptr,
                                maxRows, rows.put());
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
    AddLive(this);
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
    AddLive(this);
}

CDesktopPSTHelperBase::~CDesktopPSTHelperBase() {
    CDesktopLog log("CDesktopPSTHelperBase::~CDesktopPSTHelperBase");
    RemoveLive(this);
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
    std::snprintf(name, sizeof(name), "Stowhaven_%d_%d", static_cast<int>(::GetCurrentThreadId()),
                  std::rand());
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
    const char* service = unicode ? kUnicodePstService : kAnsiPstService;
    SPropValue name = {};
    name.ulPropTag = PR_SERVICE_NAME_A;
    name.Value.lpszA = const_cast<char*>(service);
    SRestriction sameService = PropertyEquals(name);
    enum { colUid, colCount };
    SizedSPropTagArray(colCount, columns) = {colCount, {PR_SERVICE_UID}};

    // The services of this kind; failed tells the handler's answer from a
    // query's result.
    auto query = [&](const wchar_t* tableTag, RowSet& rows, bool& failed) {
        failed = true;
        CComPtr<IMAPITable> table;
        HRESULT result = m_pServiceAdmin->GetMsgServiceTable(0, &table);
        if (FAILED(result)) {
            return OnError(result, tableTag, nullptr);
        }
        result = HrQueryAllRows(table, reinterpret_cast<SPropTagArray*>(&columns), &sameService, nullptr, 0,
                                rows.put());
        if (FAILED(result)) {
            return OnError(result, L"[HQAR1]", nullptr);
        }
        failed = false;
        return result;
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
    // The new service is the first one that was not there before.
    for (ULONG a = 0; a < after->cRows; ++a) {
        const SBinary* uid = RowUid(after->aRow[a]);
        if (uid == nullptr) {
            continue;
        }
        bool existed = false;
        for (ULONG b = 0; b < before->cRows && !existed; ++b) {
            const SBinary* old = RowUid(before->aRow[b]);
            existed = old != nullptr && std::memcmp(old->lpb, uid->lpb, sizeof(MAPIUID)) == 0;
        }
        if (!existed) {
            std::memcpy(m_serviceUID.ab, uid->lpb, sizeof(MAPIUID));
            m_cbServiceUID = uid->cb;
            return hr = S_OK;
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
    SRestriction sameService = {};
    sameService.rt = RES_CONTENT;
    sameService.res.resContent.ulFuzzyLevel = FL_FULLSTRING;
    sameService.res.resContent.ulPropTag = PR_SERVICE_NAME_A;
    sameService.res.resContent.lpProp = &name;
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
    flags.ulPropTag = kPstConfigFlagsTag;
    flags.Value.l = kPstConfigUnicode;
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
    value.ulPropTag = kPstPathTag;
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
    SRestriction ofService = PropertyEquals(service);
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
    const DWORD start = ::GetTickCount();
    auto busyWorthWaiting = [&](HRESULT result) {
        if (SUCCEEDED(result) || !wait || stopEvent == nullptr || result != MAPI_E_EXTENDED_ERROR) {
            return false;
        }
        ErrorBuffer error;
        if (FAILED(m_pSession->GetLastError(result, 0, error.put())) || !error ||
            error->ulContext != kPstBusyContext) {
            return false;
        }
        return ::WaitForSingleObject(stopEvent, kBusyRetryMs) != WAIT_OBJECT_0 &&
               WithinBusyWaitLimit(start, ::GetTickCount());
    };
    do {
        hr = OpenMsgStore(0, m_cbStoreEntryID, m_pStoreEntryID.get(), nullptr, MAPI_BEST_ACCESS | MDB_NO_MAIL,
                          &m_pStore);
    } while (busyWorthWaiting(hr));

    if (SUCCEEDED(hr)) {
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
    bool wasOpen = m_pStore != nullptr;
    m_pStore.Release();
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
    return hr = opened->QueryInterface(kIID_IMAPIFolder, reinterpret_cast<void**>(out));
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
                                    reinterpret_cast<ENTRYID*>(entryId.data()), &kIID_IMessage,
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

// --- the growth-policy exemption -------------------------------------------

HRESULT CDesktopPSTHelperBase::HandlePSTDisableGrow() {
    HRESULT hr = S_OK; // the last step's result, for the log; the open never fails here
    CDesktopLog log("CDesktopPSTHelperBase::HandlePSTDisableGrow", &hr);
    const char kNoExemption[] = "** Make sure you have a version of MSPST32.DLL that supports exemption of "
                                "PSTDisableGrow and the Digital Certificate is in the Trust List **";
    try {
        wchar_t keyPath[96];
        _snwprintf(keyPath, 96, L"Software\\Policies\\Microsoft\\Office\\%d.0\\Outlook\\PST",
                   HearthkitUtil::GetOutlookMajorVersion());
        keyPath[95] = L'\0';
        CRegKey policy;
        LONG rc = policy.Open(HKEY_CURRENT_USER, keyPath, KEY_QUERY_VALUE);
        if (rc != ERROR_SUCCESS) {
            hr = HRESULT_FROM_WIN32(rc);
            return S_OK;
        }
        // Missing, or of another type than REG_DWORD: 0.
        DWORD disableGrow = 0, allowOverrides = 0;
        policy.QueryDWORDValue(L"PstDisableGrow", disableGrow);
        policy.QueryDWORDValue(L"PSTDisableGrowAllowAuthenticodeOverrides", allowOverrides);
        if (disableGrow != 1) {
            return S_OK;
        }
        if (allowOverrides != 1) {
            log.LogText(LOG_ERROR,
                        "Unable to exempt PST's from PSTDisableGrow, make sure that "
                        "'PSTDisableGrowAllowAuthenticodeOverrides' registry key has been set...\n");
            return S_OK;
        }
        log.LogText(LOG_INFO,
                    "PstDisableGrow and PSTDisableGrowAllowAuthenticodeOverrides keys are set...\n");
        log.LogText(LOG_INFO, "attempting to obtain Override interface...\n");
        CComPtr<IPSTOverrideRequest> request;
        hr = m_pStore->QueryInterface(IID_IPSTOverrideRequest, reinterpret_cast<void**>(&request));
        if (FAILED(hr)) {
            log.LogHR(LOG_ERROR, kNoExemption, hr);
            return S_OK;
        }
        log.LogText(LOG_INFO, "Override interface obtained successfully..\n");

        // The handler is this library: the provider loads it by this path.
        HMODULE self = nullptr;
        wchar_t modulePath[520] = {};
        if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                      GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                  reinterpret_cast<LPCWSTR>(&::HrTrustedPSTOverrideHandlerCallback), &self) ||
            ::GetModuleFileNameW(self, modulePath, 520) == 0) {
            hr = HRESULT_FROM_WIN32(::GetLastError());
            return S_OK;
        }
        modulePath[519] = L'\0';
        log.LogText(LOG_INFO, "calling Registration Handler with %s ...\n", modulePath);
        CComBSTR handlerPath(modulePath);
        hr = request->RegisterTrustedPSTOverrideHandler(handlerPath, this);
        if (FAILED(hr)) {
            log.LogHR(LOG_ERROR, kNoExemption, hr);
            return S_OK;
        }
        log.LogText(LOG_INFO, "Registration call was successful.\n");
    } catch (...) {
        hr = E_UNEXPECTED;
    }
    return S_OK;
}

HRESULT CDesktopPSTHelperBase::HrTrustedPSTOverrideHandlerCallback(IMsgStore* store,
                                                                   IUnknown* overrideSource) {
    HRESULT hr = S_OK;
    CDesktopLog log("CDesktopPSTHelperBase::HrTrustedPSTOverrideHandlerCallback", &hr);
    if (store == nullptr || overrideSource == nullptr) {
        HkNullArgument(log, "store or overrideSource");
        return hr;
    }
    // The store this helper registered is closed: nothing to compare with.
    if (!m_pStore) {
        log.LogText(LOG_ERROR, "The PST store is closed, PST will NOT be exempted from PSTDisableGrow..\n");
        return hr;
    }
    try {
        CheckedHr check;
        PropBuffer own, offered;
        check = GetOneProp(m_pStore, PR_ENTRYID, own);
        check = GetOneProp(store, PR_ENTRYID, offered);
        if (!IsBinary(own) || !IsBinary(offered) || own->Value.bin.cb != offered->Value.bin.cb) {
            return hr;
        }
        if (std::memcmp(own->Value.bin.lpb, offered->Value.bin.lpb, own->Value.bin.cb) != 0) {
            log.LogText(LOG_ERROR, "There is a mismatch between the entry ids, PST will NOT be exempted from "
                                   "PSTDisableGrow..\n");
            return hr;
        }
        log.LogText(LOG_INFO, "entry ids match.attempting to obtain OVERRIDE interface\n");
        CComPtr<IPSTOverride> exemption;
        check = overrideSource->QueryInterface(IID_IPSTOverride, reinterpret_cast<void**>(&exemption));
        log.LogText(LOG_INFO, "OVERRIDE interface obtained successfully.calling exemption method..\n");
        check = exemption->ExemptFromDisableGrow();
        log.LogText(LOG_INFO, "exemption call successful.\n");
    } catch (const _com_error& error) {
        hr = error.Error();
        log.LogHR(LOG_ERROR, "An error has occurred while exempting PST from PSTDisableGrow...\n", hr);
    } catch (...) {
        hr = E_UNEXPECTED;
    }
    return hr;
}

HRESULT HrTrustedPSTOverrideHandlerCallback(IMsgStore* store, IUnknown* overrideSource, void* clientData) {
    HRESULT hr = S_OK;
    CDesktopLog log("HrTrustedPSTOverrideHandlerCallback", &hr);
    if (store == nullptr || overrideSource == nullptr || clientData == nullptr) {
        HkNullArgument(log, "store, overrideSource or clientData");
        return hr;
    }
    // Held for the call, so that the helper cannot go while it answers.
    CHkCritSecLock lock(g_liveLock);
    auto* helper = static_cast<CDesktopPSTHelperBase*>(clientData);
    if (LiveHelpers().count(helper) == 0) {
        log.LogText(LOG_ERROR, "The helper that registered the PST is gone, PST will NOT be exempted from "
                               "PSTDisableGrow..\n");
        return hr;
    }
    return hr = helper->HrTrustedPSTOverrideHandlerCallback(store, overrideSource);
}

const IID IID_IPSTOverrideRequest = {
    0x892EBC6D, 0x24DC, 0x4D90, {0xBA, 0x48, 0xC6, 0xCB, 0xEC, 0x14, 0xA8, 0x6A}};
const IID IID_IPSTOverride = {0xFBB68D34, 0xF561, 0x44FB, {0xA8, 0xCA, 0xAE, 0x36, 0x69, 0x63, 0x42, 0xCA}};
