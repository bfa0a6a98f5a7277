// The demo's environment in the registry and the mailbox: the MAPI stand-in
// registered as the machine's MAPI, a profile with a primary mailbox, and in
// its Inbox the two hidden messages the archive server would have placed
// there (the desktop settings and the Hoardlocal marker naming the store
// key); and the desktop-search protocol handler stand-in.
//
// This process loaded Hearthkit.dll before the stand-in was registered, so
// the library's MAPI forwarders are not bound here: the stand-in's own
// exports are called, the way any MAPI client calls its MAPI.
#include "Demo.h"

#include "Hearthkit.h"
#include "MapiStandinControl.h"

#include <mapix.h>
#include <mapiutil.h>
#include <mapitags.h>
#include <mapidefs.h>

namespace hkdiag {

const wchar_t kDemoStoreKey[] = L"StowhavenDemoMailbox";

namespace {

// The property set of the Hoardlocal marker's "Store Id".
const GUID kStowhavenPropSet = {0xD0F41A15, 0x9E91, 0xD111, {0x84, 0xE6, 0x00, 0x00, 0xF8, 0x77, 0xD4, 0x28}};

// IID_IMAPIFolder, which mingw's libuuid does not define.
const IID kIIDMapiFolder = {0x0002030C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The stand-in's MAPI and control exports.
struct StandinMapi {
    hk::unique_hmodule module;
    HRESULT(WINAPI* Initialize)(LPVOID) = nullptr;
    void(WINAPI* Uninitialize)() = nullptr;
    HRESULT(WINAPI* LogonEx)(ULONG_PTR, LPSTR, LPSTR, ULONG, LPMAPISESSION*) = nullptr;
    ULONG(WINAPI* FreeBuffer)(LPVOID) = nullptr;
    void(WINAPI* FreeProws)(LPSRowSet) = nullptr;
    HRESULT(WINAPI* QueryAllRows)
    (LPMAPITABLE, LPSPropTagArray, LPSRestriction, LPSSortOrderSet, LONG, LPSRowSet*) = nullptr;
    decltype(&MapiStandinRegister) Register = nullptr;
    decltype(&MapiStandinCreateMailboxProfile) CreateMailboxProfile = nullptr;

    template <class Fn>
    bool Bind(Fn& fn, const char* name) {
        fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module.get(), name)));
        return fn != nullptr;
    }
};

// Row sets go back with FreeProws, other buffers with MAPIFreeBuffer.
inline void FreeWith(const StandinMapi& mapi, SRowSet* rows) {
    mapi.FreeProws(rows);
}
template <class T>
void FreeWith(const StandinMapi& mapi, T* buffer) {
    mapi.FreeBuffer(buffer);
}

// Owns one buffer of the stand-in's MAPI memory.
template <class T>
class StandinBuffer {
public:
    explicit StandinBuffer(const StandinMapi& mapi) : m_mapi(mapi) {}
    ~StandinBuffer() { FreeWith(m_mapi, m_p); }
    StandinBuffer(const StandinBuffer&) = delete;
    StandinBuffer& operator=(const StandinBuffer&) = delete;
    T** put() { return &m_p; }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }

private:
    const StandinMapi& m_mapi;
    T* m_p = nullptr;
};

// The step that failed, for the report.
struct SetupFailure {
    const char* what;
    HRESULT hr;
};

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        throw SetupFailure{what, hr};
    }
}

// The primary mailbox: the profile's default store.
CComPtr<IMsgStore> OpenDefaultStore(const StandinMapi& mapi, IMAPISession* session) {
    CComPtr<IMAPITable> table;
    Check(session->GetMsgStoresTable(0, &table), "listing the message stores");
    enum { kEntryId, kDefault, kColumns };
    SizedSPropTagArray(kColumns, columns) = {kColumns, {PR_ENTRYID, PR_DEFAULT_STORE}};
    StandinBuffer<SRowSet> rows(mapi);
    Check(mapi.QueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0,
                            rows.put()),
          "listing the message stores");
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue* values = rows->aRow[i].lpProps;
        if (rows->aRow[i].cValues == kColumns && values[kEntryId].ulPropTag == PR_ENTRYID &&
            values[kDefault].ulPropTag == PR_DEFAULT_STORE && values[kDefault].Value.b) {
            CComPtr<IMsgStore> store;
            Check(session->OpenMsgStore(0, values[kEntryId].Value.bin.cb,
                                        reinterpret_cast<LPENTRYID>(values[kEntryId].Value.bin.lpb), nullptr,
                                        MAPI_BEST_ACCESS | MDB_NO_MAIL, &store),
                  "opening the primary mailbox");
            return store;
        }
    }
    throw SetupFailure{"finding the primary mailbox", MAPI_E_NOT_FOUND};
}

CComPtr<IMAPIFolder> OpenInbox(const StandinMapi& mapi, IMsgStore* store) {
    ULONG cb = 0;
    StandinBuffer<ENTRYID> eid(mapi);
    Check(store->GetReceiveFolder(reinterpret_cast<LPTSTR>(const_cast<char*>("IPM.Note")), 0, &cb, eid.put(),
                                  nullptr),
          "finding the Inbox");
    ULONG type = 0;
    CComPtr<IMAPIFolder> inbox;
    Check(store->OpenEntry(cb, eid.get(), const_cast<IID*>(&kIIDMapiFolder), MAPI_BEST_ACCESS, &type,
                           reinterpret_cast<LPUNKNOWN*>(&inbox)),
          "opening the Inbox");
    return inbox;
}

CComPtr<IMessage> CreateHiddenMessage(IMAPIFolder* inbox, const char* messageClass, const char* what) {
    CComPtr<IMessage> message;
    Check(inbox->CreateMessage(nullptr, MAPI_ASSOCIATED, &message), what);
    SPropValue props[2] = {};
    props[0].ulPropTag = PR_MESSAGE_CLASS_A;
    props[0].Value.lpszA = const_cast<char*>(messageClass);
    props[1].ulPropTag = PR_SUBJECT_A;
    props[1].Value.lpszA = const_cast<char*>(messageClass);
    Check(message->SetProps(2, props, nullptr), what);
    return message;
}

// The settings text as the server publishes it: UTF-16 LE after a byte order
// mark, CR LF lines.
std::string SettingsAttachmentBytes(const std::wstring& serverUrl) {
    std::wstring text = L"\xFEFF; Stowhaven desktop settings, published by the archive server\r\n"
                        L"SHSERVERS=" +
                        serverUrl +
                        L"\r\n"
                        L"INTERNETOPENTYPEDIRECT=TRUE\r\n"
                        L"HLMaxCacheSizeMB = 2048 ; per mailbox\r\n"
                        L"CUSTOMLOGINMESSAGE=Welcome to the Stowhaven demo archive.\r\n"
                        L"Sign in with the user name demo.\r\n";
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

void AddSettingsMessage(IMAPIFolder* inbox, const std::wstring& serverUrl) {
    const char* what = "creating the desktop settings message";
    CComPtr<IMessage> message = CreateHiddenMessage(inbox, "IPM.Note.Stowhaven.Settings", what);
    ULONG number = 0;
    CComPtr<IAttach> attach;
    Check(message->CreateAttach(nullptr, 0, &number, &attach), what);
    std::string bytes = SettingsAttachmentBytes(serverUrl);
    SPropValue props[3] = {};
    props[0].ulPropTag = PR_ATTACH_METHOD;
    props[0].Value.l = ATTACH_BY_VALUE;
    props[1].ulPropTag = PR_ATTACH_FILENAME_W;
    props[1].Value.lpszW = const_cast<wchar_t*>(L"DesktopSettings.txt");
    props[2].ulPropTag = PR_ATTACH_DATA_BIN;
    props[2].Value.bin.cb = static_cast<ULONG>(bytes.size());
    props[2].Value.bin.lpb = reinterpret_cast<LPBYTE>(&bytes[0]);
    Check(attach->SetProps(3, props, nullptr), what);
    Check(attach->SaveChanges(0), what);
    Check(message->SaveChanges(0), what);
}

void AddHoardlocalMarker(const StandinMapi& mapi, IMAPIFolder* inbox, IMsgStore* store) {
    const char* what = "creating the Hoardlocal marker";
    CComPtr<IMessage> message = CreateHiddenMessage(inbox, "IPM.Stowhaven.Hoardlocal", what);
    MAPINAMEID name = {};
    name.lpguid = const_cast<GUID*>(&kStowhavenPropSet);
    name.ulKind = MNID_STRING;
    name.Kind.lpwstrName = const_cast<wchar_t*>(L"Store Id");
    LPMAPINAMEID names[] = {&name};
    StandinBuffer<SPropTagArray> tags(mapi);
    Check(store->GetIDsFromNames(1, names, MAPI_CREATE, tags.put()), what);
    if (tags->cValues != 1 || PROP_TYPE(tags->aulPropTag[0]) == PT_ERROR) {
        throw SetupFailure{what, MAPI_E_NOT_FOUND};
    }
    SPropValue storeId = {};
    storeId.ulPropTag = PROP_TAG(PT_UNICODE, PROP_ID(tags->aulPropTag[0]));
    storeId.Value.lpszW = const_cast<wchar_t*>(kDemoStoreKey);
    Check(message->SetProps(1, &storeId, nullptr), what);
    Check(message->SaveChanges(0), what);
}

} // namespace

std::wstring DemoCacheRoot() {
    wchar_t temp[MAX_PATH];
    DWORD chars = ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(chars > 0 && chars < MAX_PATH ? temp : L"") + L"Hoardlocal";
}

HRESULT PrepareDemoCache() {
    CRegKey key;
    std::wstring storeKey = std::wstring(L"SOFTWARE\\Talvo\\Stowhaven\\Client\\") + kDemoStoreKey;
    LONG error = key.Create(HKEY_CURRENT_USER, storeKey.c_str());
    if (error == ERROR_SUCCESS) {
        error = key.SetStringValue(L"HLRootDirectory", DemoCacheRoot().c_str());
    }
    std::wstring version;
    if (error == ERROR_SUCCESS &&
        key.Create(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows Desktop Search") == ERROR_SUCCESS &&
        key.QueryStringValue(L"Version", version) != ERROR_SUCCESS) {
        error = key.SetStringValue(L"Version", L"4.0.6001.16503");
    }
    if (error != ERROR_SUCCESS) {
        return HkHResultFromWin32(error);
    }
    std::wstring folder = DemoCacheRoot() + L"\\" + kDemoStoreKey;
    ::CreateDirectoryW(DemoCacheRoot().c_str(), nullptr);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    hk::unique_file file(::CreateFileW((folder + L"\\Inbox.db").c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !::WriteFile(file.get(), "Hoardlocal cache", 16, &written, nullptr)) {
        return HkHResultFromWin32(::GetLastError());
    }
    return S_OK;
}

HRESULT RegisterDemoProtocolHandler(const std::wstring& callLog) {
    std::wstring path = ToolDirectory() + L"WdsHandlerStandin.dll";
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return S_FALSE;
    }
    hk::unique_hmodule module(::LoadLibraryW(path.c_str()));
    auto registerServer = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void*>(module ? ::GetProcAddress(module.get(), "DllRegisterServer") : nullptr));
    if (registerServer == nullptr) {
        return HkHResultFromWin32(::GetLastError());
    }
    HRESULT hr = registerServer();
    if (FAILED(hr)) {
        return hr;
    }
    CRegKey control;
    LONG error = control.Create(HKEY_CURRENT_USER, L"Software\\Hearthkit\\Standins\\WdsHandler");
    if (error == ERROR_SUCCESS) {
        ::DeleteFileW(callLog.c_str());
        error = control.SetStringValue(L"CallLog", callLog.c_str());
    }
    return error == ERROR_SUCCESS ? S_OK : HkHResultFromWin32(error);
}

HRESULT CheckDemoMapiRegistration(std::string* what) {
    CRegKey key;
    std::wstring current;
    if (key.Open(HKEY_LOCAL_MACHINE, L"Software\\Clients\\Mail\\Microsoft Outlook",
                 KEY_READ | KEY_WOW64_64KEY) != ERROR_SUCCESS ||
        key.QueryStringValue(L"DLLPathEx", current) != ERROR_SUCCESS || current.empty()) {
        return S_OK;
    }
    std::wstring file = current.substr(current.find_last_of(L'\\') + 1);
    if (::CompareStringOrdinal(file.c_str(), -1, L"MapiStandin.dll", -1, TRUE) == CSTR_EQUAL) {
        return S_OK;
    }
    *what =
        "this machine's MAPI is " + Utf8(current) + "; the demo runs only where no other MAPI is registered";
    return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
}

HRESULT PrepareDemoMailbox(const std::wstring& profile, const std::wstring& serverUrl, std::string* what) {
    StandinMapi mapi;
    std::wstring path = ToolDirectory() + L"MapiStandin.dll";
    mapi.module.reset(::LoadLibraryW(path.c_str()));
    if (!mapi.module) {
        *what = "loading the MAPI stand-in " + Utf8(path);
        return HkHResultFromWin32(::GetLastError());
    }
    if (!mapi.Bind(mapi.Initialize, "MAPIInitialize") || !mapi.Bind(mapi.Uninitialize, "MAPIUninitialize") ||
        !mapi.Bind(mapi.LogonEx, "MAPILogonEx") || !mapi.Bind(mapi.FreeBuffer, "MAPIFreeBuffer") ||
        !mapi.Bind(mapi.FreeProws, "FreeProws") || !mapi.Bind(mapi.QueryAllRows, "HrQueryAllRows") ||
        !mapi.Bind(mapi.Register, "MapiStandinRegister") ||
        !mapi.Bind(mapi.CreateMailboxProfile, "MapiStandinCreateMailboxProfile")) {
        *what = "finding the MAPI stand-in's exports";
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
    try {
        Check(mapi.Register(nullptr), "registering the MAPI stand-in");
        MapiStandinMailbox mailbox = {L"demo", L"Demo User", "archive.example", FALSE, FALSE, TRUE};
        Check(mapi.CreateMailboxProfile(profile.c_str(), &mailbox), "creating the mailbox profile");
        Check(mapi.Initialize(nullptr), "initialising MAPI");
        struct Uninitialize {
            const StandinMapi& mapi;
            ~Uninitialize() { mapi.Uninitialize(); }
        } uninitialize{mapi};
        std::string name = Utf8(profile);
        CComPtr<IMAPISession> session;
        Check(mapi.LogonEx(0, &name[0], nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION, &session),
              "logging on to the profile");
        CComPtr<IMsgStore> store = OpenDefaultStore(mapi, session);
        CComPtr<IMAPIFolder> inbox = OpenInbox(mapi, store);
        AddSettingsMessage(inbox, serverUrl);
        AddHoardlocalMarker(mapi, inbox, store);
    } catch (const SetupFailure& failure) {
        *what = failure.what;
        return failure.hr;
    }
    return S_OK;
}

} // namespace hkdiag
