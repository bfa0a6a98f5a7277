// MAPILogonEx and the session over one profile.
#include "Profile.h"

#include <mutex>

namespace standin {
namespace {

class Session;
std::mutex g_sharedLock;
Session* g_shared = nullptr; // the session MAPI_ALLOW_OTHERS logons share

bool SameUid(const MAPIUID& a, const MAPIUID& b) {
    return memcmp(a.ab, b.ab, 16) == 0;
}

class Session : public IMAPISession, public ObjectBase {
public:
    explicit Session(std::wstring profile) : m_profile(std::move(profile)) {
        profile::SessionStarted(m_profile);
    }
    ~Session() override {
        {
            std::lock_guard<std::mutex> lock(g_sharedLock);
            if (g_shared == this)
                g_shared = nullptr;
        }
        profile::SessionEnded(m_profile);
    }
    const std::wstring& ProfileName() const { return m_profile; }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        return Answer<IMAPISession>(this, riid, out, {&IID_IMAPISession});
    }
    STANDIN_REFCOUNT

    STDMETHODIMP GetLastError(HRESULT hr, ULONG flags, LPMAPIERROR* out) override {
        return GetLastMapiError(hr, flags, out);
    }
    STDMETHODIMP GetMsgStoresTable(ULONG, LPMAPITABLE* out) override {
        if (HRESULT hr = Hook("IMAPISession::GetMsgStoresTable"))
            return hr;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        std::vector<PropBag> rows;
        profile::AppendSectionRows(
            m_profile, profile::ReadUidList(m_profile, profile::kServicesSection, PR_STORE_PROVIDERS), &rows,
            [](const MAPIUID& p, PropBag* row) {
                std::vector<BYTE> eid = MakeStoreEntryId(p);
                bool isDefault = (LongOf(*row, PR_RESOURCE_FLAGS) & STATUS_DEFAULT_STORE) != 0;
                row->Set(MakeBinary(PR_ENTRYID, eid.data(), static_cast<ULONG>(eid.size())));
                row->Set(MakeBinary(PR_RECORD_KEY, p.ab, 16));
                row->Set(MakeBool(PR_DEFAULT_STORE, isDefault));
                row->Set(MakeLong(PR_OBJECT_TYPE, MAPI_STORE));
            });
        *out =
            CreateTable(std::move(rows), {PR_ENTRYID, PR_DISPLAY_NAME_W, PR_DEFAULT_STORE, PR_MDB_PROVIDER});
        return S_OK;
    }
    STDMETHODIMP OpenMsgStore(ULONG_PTR, ULONG cb, LPENTRYID eid, LPCIID, ULONG flags, LPMDB* out) override {
        if (HRESULT hr = Hook("IMAPISession::OpenMsgStore", flags))
            return hr;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        MAPIUID provider;
        if (!ParseStoreEntryId(cb, eid, &provider))
            return MAPI_E_INVALID_ENTRYID;
        if (!InProfile(provider))
            return MAPI_E_NOT_FOUND;
        PropBag section;
        HRESULT hr = profile::ReadSection(m_profile, provider, &section);
        if (FAILED(hr))
            return hr;
        return OpenStore(m_profile, provider, section, flags, out);
    }
    STDMETHODIMP OpenAddressBook(ULONG_PTR, LPCIID, ULONG, LPADRBOOK*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP OpenProfileSection(LPMAPIUID uid, LPCIID, ULONG flags, LPPROFSECT* out) override {
        if (HRESULT hr = Hook("IMAPISession::OpenProfileSection", flags))
            return hr;
        if (!uid || !out)
            return MAPI_E_INVALID_PARAMETER;
        if (!profile::Exists(m_profile) && !Alive())
            return MAPI_E_NOT_FOUND;
        *out = CreateProfSect(m_profile, *uid);
        return S_OK;
    }
    STDMETHODIMP GetStatusTable(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    // Only the mail users named by the stand-in's mailbox stores.
    STDMETHODIMP OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG flags, ULONG* objType,
                           LPUNKNOWN* out) override {
        if (HRESULT hr = Hook("IMAPISession::OpenEntry", flags))
            return hr;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        return OpenMailUser(cb, eid, objType, out);
    }
    STDMETHODIMP CompareEntryIDs(ULONG cb1, LPENTRYID e1, ULONG cb2, LPENTRYID e2, ULONG,
                                 ULONG* result) override {
        return CompareEntryIds(cb1, e1, cb2, e2, result);
    }
    STDMETHODIMP Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP Unadvise(ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP MessageOptions(ULONG_PTR, ULONG, LPTSTR, LPMESSAGE) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP QueryDefaultMessageOpt(LPTSTR, ULONG, ULONG*, LPSPropValue*) override {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP EnumAdrTypes(ULONG, ULONG*, LPTSTR**) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP QueryIdentity(ULONG*, LPENTRYID*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP Logoff(ULONG_PTR, ULONG, ULONG) override { return S_OK; }
    // MAPI_DEFAULT_STORE with an entry id makes that store the default; with
    // none, the store provider added last (the one just configured).
    STDMETHODIMP SetDefaultStore(ULONG flags, ULONG cb, LPENTRYID eid) override {
        if (HRESULT hr = Hook("IMAPISession::SetDefaultStore"))
            return hr;
        if (flags != MAPI_DEFAULT_STORE)
            return MAPI_E_NO_SUPPORT;
        auto stores = profile::ReadUidList(m_profile, profile::kServicesSection, PR_STORE_PROVIDERS);
        MAPIUID chosen;
        if (eid) {
            if (!ParseStoreEntryId(cb, eid, &chosen))
                return MAPI_E_INVALID_ENTRYID;
            if (!InProfile(chosen))
                return MAPI_E_NOT_FOUND;
        } else {
            if (stores.empty())
                return MAPI_E_NOT_FOUND;
            chosen = stores.back();
        }
        for (const MAPIUID& p : stores) {
            PropBag section;
            profile::ReadSection(m_profile, p, &section);
            LONG resourceFlags = LongOf(section, PR_RESOURCE_FLAGS);
            resourceFlags = SameUid(p, chosen) ? (resourceFlags | STATUS_DEFAULT_STORE)
                                               : (resourceFlags & ~STATUS_DEFAULT_STORE);
            Prop value = MakeLong(PR_RESOURCE_FLAGS, resourceFlags);
            HRESULT hr = profile::WriteProps(m_profile, p, value.get(), 1);
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
    }
    STDMETHODIMP AdminServices(ULONG, LPSERVICEADMIN* out) override {
        if (HRESULT hr = Hook("IMAPISession::AdminServices"))
            return hr;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        *out = CreateServiceAdmin(m_profile);
        return S_OK;
    }
    STDMETHODIMP ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG, ULONG,
                          ULONG, LPSTR) override {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP PrepareForm(LPCIID, LPMESSAGE, ULONG*) override { return MAPI_E_NO_SUPPORT; }

private:
    bool InProfile(const MAPIUID& provider) const {
        return profile::Lists(m_profile, profile::kServicesSection, PR_STORE_PROVIDERS, provider);
    }
    // The profile may be gone from the admin's view (deleted while in use)
    // and still serve this session.
    bool Alive() const {
        PropBag bag;
        return SUCCEEDED(profile::ReadSection(m_profile, profile::kGlobalSection, &bag));
    }

    std::wstring m_profile;
};

} // namespace
} // namespace standin

using namespace standin;

// With a profile name: a session on that profile (shared with an earlier
// MAPI_ALLOW_OTHERS session of it unless MAPI_NEW_SESSION). Without one: the
// shared session, or a session on the default profile that becomes shared.
extern "C" HRESULT WINAPI Sa_MAPILogonEx(ULONG_PTR, LPTSTR profileName, LPTSTR, ULONG flags,
                                         LPMAPISESSION* out) {
    if (HRESULT hr = Hook("MAPILogonEx", flags))
        return hr;
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    std::wstring name = ArgText(profileName, flags);
    bool share = (flags & MAPI_ALLOW_OTHERS) && !(flags & MAPI_NEW_SESSION);
    std::lock_guard<std::mutex> lock(g_sharedLock);
    if (!(flags & MAPI_NEW_SESSION) && g_shared &&
        (name.empty() || _wcsicmp(name.c_str(), g_shared->ProfileName().c_str()) == 0)) {
        g_shared->AddRef();
        *out = g_shared;
        return S_OK;
    }
    if (name.empty())
        name = profile::DefaultName();
    if (name.empty() || !profile::Exists(name))
        return MAPI_E_LOGON_FAILED;
    Session* session = new Session(name);
    if (share && !g_shared)
        g_shared = session;
    *out = session;
    return S_OK;
}
