// The mailbox side: the owner as a mail user reached through the session,
// and the control functions that build a mailbox profile and play the PST
// provider's growth-policy override.
#include "Profile.h"
#include "StoreData.h"

namespace standin {
namespace {

// Marks mail-user entry ids of the stand-in: the mark, then the account and
// the display name as wide strings with their terminators.
const BYTE kMailUserMark[16] = {0x8C, 0x1E, 0x53, 0x74, 0x61, 0x6E, 0x64, 0x69,
                                0x6E, 0x55, 0x53, 0x52, 0x00, 0x01, 0x00, 0x00};

class MailUser : public IMailUser, public ObjectBase {
public:
    explicit MailUser(PropBag props) : m_props(std::move(props)) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        return Answer<IMailUser>(this, riid, out, {&IID_IMAPIProp, &IID_IMailUser});
    }
    STANDIN_REFCOUNT

    STDMETHODIMP GetLastError(HRESULT hr, ULONG flags, LPMAPIERROR* out) override {
        return GetLastMapiError(hr, flags, out);
    }
    STDMETHODIMP SaveChanges(ULONG) override { return MAPI_E_NO_ACCESS; }
    STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* out) override {
        if (HRESULT hr = Hook("IMailUser::GetProps"))
            return hr;
        return m_props.GetProps(tags, flags, count, out);
    }
    STDMETHODIMP GetPropList(ULONG flags, LPSPropTagArray* out) override {
        return m_props.GetPropList(flags, out);
    }
    STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) override { return MAPI_E_NO_ACCESS; }
    STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override { return MAPI_E_NO_ACCESS; }
    STANDIN_PROP_NO_COPY
    STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override {
        return MAPI_E_NO_SUPPORT;
    }

private:
    PropBag m_props;
};

std::vector<BYTE> MailUserEntryId(const std::wstring& account, const std::wstring& displayName) {
    std::vector<BYTE> eid(4, 0);
    eid.insert(eid.end(), kMailUserMark, kMailUserMark + 16);
    for (const std::wstring* text : {&account, &displayName}) {
        const BYTE* b = reinterpret_cast<const BYTE*>(text->c_str());
        eid.insert(eid.end(), b, b + (text->size() + 1) * sizeof(wchar_t));
    }
    return eid;
}

// The override object MSPST32 hands to the callback: its third method
// after IUnknown's grants the exemption.
struct IPstOverride : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE First() = 0;
    virtual HRESULT STDMETHODCALLTYPE Second() = 0;
    virtual HRESULT STDMETHODCALLTYPE GrantExemption() = 0;
};
const IID IID_PstOverride = {0xFBB68D34, 0xF561, 0x44FB, {0xA8, 0xCA, 0xAE, 0x36, 0x69, 0x63, 0x42, 0xCA}};

class PstOverride : public IPstOverride, public ObjectBase {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        return Answer<IPstOverride>(this, riid, out, {&IID_PstOverride});
    }
    STANDIN_REFCOUNT
    STDMETHODIMP First() override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP Second() override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP GrantExemption() override {
        Hook("IPSTOverride::GrantExemption");
        m_called = true;
        return S_OK;
    }
    bool m_called = false;
};

} // namespace

HRESULT OpenMailUser(ULONG cb, const ENTRYID* eid, ULONG* objType, LPUNKNOWN* out) {
    if (!eid || cb < 24 || IsBadReadPtr(eid, cb) || (cb - 20) % 2 != 0)
        return MAPI_E_INVALID_ENTRYID;
    const BYTE* b = reinterpret_cast<const BYTE*>(eid);
    if (memcmp(b + 4, kMailUserMark, 16) != 0)
        return MAPI_E_INVALID_ENTRYID;
    std::wstring text(reinterpret_cast<const wchar_t*>(b + 20), (cb - 20) / 2);
    size_t split = text.find(L'\0');
    if (split == std::wstring::npos || text.back() != L'\0')
        return MAPI_E_INVALID_ENTRYID;
    std::wstring account = text.substr(0, split);
    std::wstring display = text.substr(split + 1, text.size() - split - 2);
    PropBag props;
    props.Set(MakeUnicode(PR_ACCOUNT_W, account.c_str()));
    props.Set(MakeUnicode(PR_DISPLAY_NAME_W, display.c_str()));
    props.Set(MakeUnicode(PR_EMAIL_ADDRESS_W, account.c_str()));
    props.Set(MakeBinary(PR_ENTRYID, eid, cb));
    props.Set(MakeLong(PR_OBJECT_TYPE, MAPI_MAILUSER));
    *out = static_cast<IMailUser*>(new MailUser(std::move(props)));
    if (objType)
        *objType = MAPI_MAILUSER;
    return S_OK;
}

HRESULT BuildMailboxProfile(const std::wstring& name, const MapiStandinMailbox& mailbox) {
    if (profile::Exists(name)) {
        HRESULT hr = profile::Delete(name);
        if (FAILED(hr))
            return hr;
    }
    HRESULT hr = profile::Create(name);
    const ServiceDef* def = FindService(L"MSEMS");
    MAPIUID service;
    if (SUCCEEDED(hr))
        hr = AddService(name, *def, L"Microsoft Exchange", &service);
    if (FAILED(hr))
        return hr;
    std::wstring account = mailbox.account ? mailbox.account : L"user";
    std::wstring display = mailbox.displayName ? mailbox.displayName : account;
    if (mailbox.homeServer) {
        SPropValue server{};
        server.ulPropTag = PR_PROFILE_HOME_SERVER;
        server.Value.lpszA = const_cast<char*>(mailbox.homeServer);
        hr = profile::WriteProps(name, profile::kGlobalSection, &server, 1);
    }
    // The primary store: the default store, named after and owned by the user.
    auto providers = profile::ReadUidList(name, service, PR_STORE_PROVIDERS);
    std::vector<BYTE> user = MailUserEntryId(account, display);
    Prop primary[] = {MakeLong(PR_RESOURCE_FLAGS, STATUS_DEFAULT_STORE),
                      MakeUnicode(PR_DISPLAY_NAME_W, (L"Mailbox - " + display).c_str()),
                      MakeBinary(PR_USER_ENTRYID, user.data(), static_cast<ULONG>(user.size()))};
    for (const Prop& p : primary)
        if (SUCCEEDED(hr))
            hr = profile::WriteProps(name, providers.at(0), p.get(), 1);
    static const BYTE kDelegateProvider[16] = {0x9E, 0xB4, 0x77, 0x00, 0x74, 0xE4, 0x11, 0xCE,
                                               0x8C, 0x5E, 0x00, 0xAA, 0x00, 0x42, 0x54, 0xE2};
    // The archive is listed before the delegate mailbox, so that a caller
    // which does not skip archives takes the wrong store.
    struct Extra {
        BOOL wanted;
        ProviderDef def;
        LONG mailboxKind;
    } extras[] = {
        {mailbox.archiveStore, {L"EMSMDB.DLL", L"Archive", StoreKindMailboxArchive, kDelegateProvider}, 32},
        {mailbox.delegateStore, {L"EMSMDB.DLL", L"Delegate", StoreKindMailboxDelegate, kDelegateProvider}, 0},
    };
    for (const Extra& e : extras) {
        if (!e.wanted || FAILED(hr))
            continue;
        MAPIUID provider;
        hr = AddStoreProvider(name, service, *def, e.def, &provider);
        Prop kind = MakeLong(PR_MAILBOX_KIND, e.mailboxKind);
        if (SUCCEEDED(hr))
            hr = profile::WriteProps(name, provider, kind.get(), 1);
    }
    if (SUCCEEDED(hr) && mailbox.makeDefaultProfile)
        hr = profile::SetDefault(name);
    return hr;
}

} // namespace standin

using namespace standin;

MAPISTANDIN_API HRESULT WINAPI MapiStandinCreateMailboxProfile(const wchar_t* profile,
                                                               const MapiStandinMailbox* mailbox) {
    if (!profile || !*profile || !mailbox)
        return MAPI_E_INVALID_PARAMETER;
    return BuildMailboxProfile(profile, *mailbox);
}

namespace {

// The store content behind a store object of the stand-in.
std::shared_ptr<StoreData> DataOf(IUnknown* store) {
    if (!store)
        return nullptr;
    IMsgStore* msgStore = nullptr;
    if (FAILED(store->QueryInterface(IID_IMsgStore, reinterpret_cast<void**>(&msgStore))))
        return nullptr;
    SizedSPropTagArray(1, tags) = {1, {PR_STANDIN_STORE_PATH}};
    ULONG count = 0;
    SPropValue* values = nullptr;
    HRESULT hr = msgStore->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), MAPI_UNICODE, &count, &values);
    msgStore->Release();
    std::shared_ptr<StoreData> data;
    if (hr == S_OK && PROP_TYPE(values[0].ulPropTag) == PT_UNICODE)
        StoreData::Open(values[0].Value.lpszW, &data);
    FreeBuffer(values);
    return data;
}

} // namespace

MAPISTANDIN_API HRESULT WINAPI MapiStandinGetPstOverrideRegistration(IUnknown* store, wchar_t* path,
                                                                     ULONG cch, void** clientData) {
    auto data = DataOf(store);
    if (!data)
        return MAPI_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(data->lock);
    if (!data->overrideRegistered)
        return S_FALSE;
    if (path && cch)
        lstrcpynW(path, data->overrideHandler.c_str(), static_cast<int>(cch));
    if (clientData)
        *clientData = data->overrideClientData;
    return S_OK;
}

MAPISTANDIN_API HRESULT WINAPI MapiStandinPlayPstOverride(IUnknown* store, BOOL* exemptionCalled) {
    if (exemptionCalled)
        *exemptionCalled = FALSE;
    wchar_t path[MAX_PATH * 2] = {};
    void* clientData = nullptr;
    if (MapiStandinGetPstOverrideRegistration(store, path, MAX_PATH * 2, &clientData) != S_OK)
        return MAPI_E_NOT_FOUND;
    HMODULE handler = LoadLibraryW(path);
    if (!handler)
        return MAPI_E_NOT_FOUND;
    using Callback = HRESULT(WINAPI*)(IMsgStore*, IUnknown*, void*);
    auto callback = reinterpret_cast<Callback>(
        reinterpret_cast<void*>(GetProcAddress(handler, "HrTrustedPSTOverrideHandlerCallback")));
    HRESULT hr = MAPI_E_NOT_FOUND;
    if (callback) {
        IMsgStore* msgStore = nullptr;
        store->QueryInterface(IID_IMsgStore, reinterpret_cast<void**>(&msgStore));
        PstOverride* overrideObject = new PstOverride();
        hr = callback(msgStore, static_cast<IPstOverride*>(overrideObject), clientData);
        if (exemptionCalled)
            *exemptionCalled = overrideObject->m_called;
        overrideObject->Release();
        msgStore->Release();
    }
    FreeLibrary(handler);
    return hr;
}
