// Profile administration: IProfAdmin, IMsgServiceAdmin, IProviderAdmin and
// IProfSect, each reading and writing the profile in the registry.
#include "Profile.h"

namespace standin {
namespace {

template <class T>
HRESULT Hand(T* object, T** out) {
    *out = object;
    return S_OK;
}

bool ValidUid(const MAPIUID* uid) {
    return uid != nullptr && !IsBadReadPtr(uid, sizeof(MAPIUID));
}

class ProfSect : public IProfSect, public ObjectBase {
public:
    ProfSect(std::wstring profile, const MAPIUID& section)
        : m_profile(std::move(profile)), m_section(section) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        return Answer<IProfSect>(this, riid, out, {&IID_IMAPIProp, &IID_IProfSect});
    }
    STANDIN_REFCOUNT

    STDMETHODIMP GetLastError(HRESULT hr, ULONG flags, LPMAPIERROR* out) override {
        return GetLastMapiError(hr, flags, out);
    }
    STDMETHODIMP SaveChanges(ULONG) override { return S_OK; } // writes go through at once
    STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* out) override {
        if (HRESULT hr = Hook("IProfSect::GetProps"))
            return hr;
        PropBag bag;
        HRESULT hr = profile::ReadSection(m_profile, m_section, &bag);
        return FAILED(hr) ? hr : bag.GetProps(tags, flags, count, out);
    }
    STDMETHODIMP GetPropList(ULONG flags, LPSPropTagArray* out) override {
        PropBag bag;
        HRESULT hr = profile::ReadSection(m_profile, m_section, &bag);
        return FAILED(hr) ? hr : bag.GetPropList(flags, out);
    }
    STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override {
        if (HRESULT hr = Hook("IProfSect::SetProps"))
            return hr;
        if (!values && count)
            return MAPI_E_INVALID_PARAMETER;
        if (problems)
            *problems = nullptr;
        return profile::WriteProps(m_profile, m_section, values, count);
    }
    STDMETHODIMP DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) override {
        if (!tags)
            return MAPI_E_INVALID_PARAMETER;
        if (problems)
            *problems = nullptr;
        for (ULONG i = 0; i < tags->cValues; ++i) {
            HRESULT hr = profile::DeleteProp(m_profile, m_section, tags->aulPropTag[i]);
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
    }
    STANDIN_PROP_NO_COPY
    STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override {
        return MAPI_E_NO_SUPPORT;
    }

private:
    std::wstring m_profile;
    MAPIUID m_section;
};

// Rows of the providers of the given services (all services when null).
std::vector<PropBag> ProviderRows(const std::wstring& name, const MAPIUID* service) {
    std::vector<PropBag> rows;
    std::vector<MAPIUID> services;
    if (service)
        services.push_back(*service);
    else
        services = profile::ReadUidList(name, profile::kServicesSection, PR_SERVICES);
    for (const MAPIUID& s : services)
        profile::AppendSectionRows(name, profile::ReadUidList(name, s, PR_STORE_PROVIDERS), &rows);
    return rows;
}

class ProviderAdmin : public IProviderAdmin, public ObjectBase {
public:
    ProviderAdmin(std::wstring profile, const MAPIUID& service)
        : m_profile(std::move(profile)), m_service(service) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        return Answer<IProviderAdmin>(this, riid, out, {&IID_IProviderAdmin});
    }
    STANDIN_REFCOUNT

    STDMETHODIMP GetLastError(HRESULT hr, ULONG flags, LPMAPIERROR* out) override {
        return GetLastMapiError(hr, flags, out);
    }
    STDMETHODIMP GetProviderTable(ULONG, LPMAPITABLE* out) override {
        if (HRESULT hr = Hook("IProviderAdmin::GetProviderTable"))
            return hr;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        return Hand(CreateTable(ProviderRows(m_profile, &m_service),
                                {PR_PROVIDER_UID, PR_SERVICE_NAME_W, PR_DISPLAY_NAME_W, PR_RESOURCE_TYPE}),
                    out);
    }
    STDMETHODIMP CreateProvider(LPTSTR, ULONG, LPSPropValue, ULONG, ULONG, MAPIUID*) override {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP DeleteProvider(LPMAPIUID) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP OpenProfileSection(LPMAPIUID uid, LPCIID, ULONG flags, LPPROFSECT* out) override {
        if (HRESULT hr = Hook("IProviderAdmin::OpenProfileSection", flags))
            return hr;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        if (!profile::Alive(m_profile))
            return MAPI_E_NOT_FOUND;
        // A null UID is the provider's own section in MAPI; here, the service's.
        return Hand(CreateProfSect(m_profile, uid ? *uid : m_service), out);
    }

private:
    std::wstring m_profile;
    MAPIUID m_service;
};

class ServiceAdmin : public IMsgServiceAdmin, public ObjectBase {
public:
    explicit ServiceAdmin(std::wstring profile) : m_profile(std::move(profile)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        return Answer<IMsgServiceAdmin>(this, riid, out, {&IID_IMsgServiceAdmin});
    }
    STANDIN_REFCOUNT

    STDMETHODIMP GetLastError(HRESULT hr, ULONG flags, LPMAPIERROR* out) override {
        return GetLastMapiError(hr, flags, out);
    }
    STDMETHODIMP GetMsgServiceTable(ULONG, LPMAPITABLE* out) override {
        if (HRESULT hr = Hook("IMsgServiceAdmin::GetMsgServiceTable"))
            return hr;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        if (!profile::Alive(m_profile))
            return MAPI_E_NOT_FOUND;
        std::vector<PropBag> rows;
        profile::AppendSectionRows(
            m_profile, profile::ReadUidList(m_profile, profile::kServicesSection, PR_SERVICES), &rows);
        return Hand(CreateTable(std::move(rows), {PR_SERVICE_UID, PR_SERVICE_NAME_W, PR_DISPLAY_NAME_W}),
                    out);
    }
    STDMETHODIMP CreateMsgService(LPTSTR service, LPTSTR display, ULONG_PTR, ULONG flags) override {
        if (HRESULT hr = Hook("IMsgServiceAdmin::CreateMsgService", flags))
            return hr;
        if (!service)
            return MAPI_E_INVALID_PARAMETER;
        const ServiceDef* def = FindService(ArgText(service, flags));
        if (!def)
            return MAPI_E_NOT_FOUND; // not in the stand-in's MAPISVC.INF
        if (!profile::Alive(m_profile))
            return MAPI_E_NOT_FOUND;
        return AddService(m_profile, *def, ArgText(display, flags), nullptr);
    }
    STDMETHODIMP DeleteMsgService(LPMAPIUID uid) override {
        if (HRESULT hr = Hook("IMsgServiceAdmin::DeleteMsgService"))
            return hr;
        if (!ValidUid(uid))
            return MAPI_E_INVALID_PARAMETER;
        return RemoveService(m_profile, *uid);
    }
    STDMETHODIMP CopyMsgService(LPMAPIUID, LPTSTR, LPCIID, LPCIID, LPVOID, ULONG_PTR, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP RenameMsgService(LPMAPIUID, ULONG, LPTSTR) override { return MAPI_E_NO_SUPPORT; }
    // The service's own section and each of its providers' sections take the
    // values, as a service entry function would distribute them.
    STDMETHODIMP ConfigureMsgService(LPMAPIUID uid, ULONG_PTR, ULONG flags, ULONG count,
                                     LPSPropValue values) override {
        if (HRESULT hr = Hook("IMsgServiceAdmin::ConfigureMsgService", flags))
            return hr;
        if (!ValidUid(uid) || (count && !values))
            return MAPI_E_INVALID_PARAMETER;
        if (!Known(*uid))
            return MAPI_E_NOT_FOUND;
        HRESULT hr = profile::WriteProps(m_profile, *uid, values, count);
        for (const MAPIUID& p : profile::ReadUidList(m_profile, *uid, PR_STORE_PROVIDERS)) {
            if (FAILED(hr))
                return hr;
            hr = profile::WriteProps(m_profile, p, values, count);
            PropBag section;
            if (SUCCEEDED(hr))
                hr = profile::ReadSection(m_profile, p, &section);
            if (SUCCEEDED(hr))
                hr = PrepareStore(section);
            // As the PST provider does: a file that cannot be made is an
            // extended error with a text for GetLastError.
            if (FAILED(hr) && hr != MAPI_E_EXTENDED_ERROR) {
                SetLastMapiError(MAPI_E_EXTENDED_ERROR, L"The personal folders file could not be created.",
                                 static_cast<ULONG>(hr));
                return MAPI_E_EXTENDED_ERROR;
            }
        }
        return hr;
    }
    STDMETHODIMP OpenProfileSection(LPMAPIUID uid, LPCIID, ULONG flags, LPPROFSECT* out) override {
        if (HRESULT hr = Hook("IMsgServiceAdmin::OpenProfileSection", flags))
            return hr;
        if (!ValidUid(uid) || !out)
            return MAPI_E_INVALID_PARAMETER;
        if (!profile::Alive(m_profile))
            return MAPI_E_NOT_FOUND;
        return Hand(CreateProfSect(m_profile, *uid), out);
    }
    STDMETHODIMP MsgServiceTransportOrder(ULONG, LPMAPIUID, ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP AdminProviders(LPMAPIUID uid, ULONG, LPPROVIDERADMIN* out) override {
        if (HRESULT hr = Hook("IMsgServiceAdmin::AdminProviders"))
            return hr;
        if (!ValidUid(uid) || !out)
            return MAPI_E_INVALID_PARAMETER;
        if (!Known(*uid))
            return MAPI_E_NOT_FOUND;
        return Hand(CreateProviderAdmin(m_profile, *uid), out);
    }
    STDMETHODIMP SetPrimaryIdentity(LPMAPIUID, ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP GetProviderTable(ULONG, LPMAPITABLE* out) override {
        if (HRESULT hr = Hook("IMsgServiceAdmin::GetProviderTable"))
            return hr;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        return Hand(CreateTable(ProviderRows(m_profile, nullptr),
                                {PR_PROVIDER_UID, PR_SERVICE_NAME_W, PR_DISPLAY_NAME_W, PR_RESOURCE_TYPE}),
                    out);
    }

private:
    bool Known(const MAPIUID& uid) const {
        return profile::Lists(m_profile, profile::kServicesSection, PR_SERVICES, uid);
    }

    std::wstring m_profile;
};

class ProfAdmin : public IProfAdmin, public ObjectBase {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        return Answer<IProfAdmin>(this, riid, out, {&IID_IProfAdmin});
    }
    STANDIN_REFCOUNT

    STDMETHODIMP GetLastError(HRESULT hr, ULONG flags, LPMAPIERROR* out) override {
        return GetLastMapiError(hr, flags, out);
    }
    STDMETHODIMP GetProfileTable(ULONG, LPMAPITABLE* out) override {
        if (HRESULT hr = Hook("IProfAdmin::GetProfileTable"))
            return hr;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        std::wstring def = profile::DefaultName();
        std::vector<PropBag> rows;
        for (const std::wstring& name : profile::Names()) {
            PropBag row;
            row.Set(MakeUnicode(PR_DISPLAY_NAME_W, name.c_str()));
            row.Set(MakeBool(PR_DEFAULT_PROFILE, _wcsicmp(name.c_str(), def.c_str()) == 0));
            rows.push_back(row);
        }
        return Hand(CreateTable(std::move(rows), {PR_DISPLAY_NAME_W, PR_DEFAULT_PROFILE}), out);
    }
    STDMETHODIMP CreateProfile(LPTSTR name, LPTSTR, ULONG_PTR, ULONG flags) override {
        if (HRESULT hr = Hook("IProfAdmin::CreateProfile"))
            return hr;
        if (!name)
            return MAPI_E_INVALID_PARAMETER;
        return profile::Create(ArgText(name, flags));
    }
    STDMETHODIMP DeleteProfile(LPTSTR name, ULONG flags) override {
        if (HRESULT hr = Hook("IProfAdmin::DeleteProfile"))
            return hr;
        if (!name)
            return MAPI_E_INVALID_PARAMETER;
        return profile::Delete(ArgText(name, flags));
    }
    STDMETHODIMP ChangeProfilePassword(LPTSTR, LPTSTR, LPTSTR, ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP CopyProfile(LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP RenameProfile(LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP SetDefaultProfile(LPTSTR name, ULONG flags) override {
        if (HRESULT hr = Hook("IProfAdmin::SetDefaultProfile"))
            return hr;
        if (!name)
            return MAPI_E_INVALID_PARAMETER;
        return profile::SetDefault(ArgText(name, flags));
    }
    STDMETHODIMP AdminServices(LPTSTR name, LPTSTR, ULONG_PTR, ULONG flags, LPSERVICEADMIN* out) override {
        if (HRESULT hr = Hook("IProfAdmin::AdminServices"))
            return hr;
        if (!name || !out)
            return MAPI_E_INVALID_PARAMETER;
        std::wstring profileName = ArgText(name, flags);
        if (!profile::Exists(profileName))
            return MAPI_E_NOT_FOUND;
        return Hand(CreateServiceAdmin(profileName), out);
    }
};

} // namespace

IProfSect* CreateProfSect(const std::wstring& profile, const MAPIUID& section) {
    return new ProfSect(profile, section);
}
IMsgServiceAdmin* CreateServiceAdmin(const std::wstring& profile) {
    return new ServiceAdmin(profile);
}
IProviderAdmin* CreateProviderAdmin(const std::wstring& profile, const MAPIUID& service) {
    return new ProviderAdmin(profile, service);
}

} // namespace standin

extern "C" HRESULT WINAPI Sa_MAPIAdminProfiles(ULONG, LPPROFADMIN* out) {
    if (HRESULT hr = standin::Hook("MAPIAdminProfiles"))
        return hr;
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    *out = new standin::ProfAdmin();
    return S_OK;
}
