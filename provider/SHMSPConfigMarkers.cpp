// SHMSPConfig: the profile UID, the per-MDC configuration records under the
// store key and the profile-name list of "HoardviewConfiguredProfiles".
#include "SHMSPConfig.h"
#include "config/ConfigMapi.h"
#include "provider/ShmspMapi.h"
#include "provider/ShmspText.h"

#include "CDesktopLog.h"
#include "HearthkitConfig.h"
#include "HearthkitUtil.h"
#include "HkCom.h"
#include "HkRegKey.h"
#include "HkResult.h"
#include "TidyMAPIBuffer.h"

namespace hk {
namespace provider {

const char kServiceName[] = "SHMSP";

void RequireNonNull(CDesktopLog& log, const void* p, const char* what) {
    if (p == nullptr) {
        _com_issue_error(HkNullArgument(log, what, E_POINTER));
    }
}

std::wstring ProfilesKeyPath(const wchar_t* storeKey, const std::wstring& mdcKey) {
    return std::wstring(storeKey) + L"\\" + mdcKey + L"\\Profiles";
}

bool ProfileUidAndStoreKey(IUnknown* object, std::wstring& uid, std::wstring& storeKey) {
    // A copy: CloseDown on another thread may free the class's own path.
    return SHMSPConfig::GetProfileUID(object, uid) &&
           SUCCEEDED(hk::config::KeyPathFor(CONFIG_VALUE_STORE, storeKey));
}

void VisitProfilesKeys(const wchar_t* storeKey,
                       const std::function<bool(const wchar_t* mdcKey, CRegKey& profiles)>& visit) {
    CRegKey store;
    if (store.Open(HKEY_CURRENT_USER, storeKey, KEY_READ | KEY_WRITE) != ERROR_SUCCESS) {
        return;
    }
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD chars = 256;
        if (store.EnumKey(i, name, &chars) != ERROR_SUCCESS) {
            return;
        }
        CRegKey profiles;
        if (profiles.Open(HKEY_CURRENT_USER, ProfilesKeyPath(storeKey, name).c_str(), KEY_READ | KEY_WRITE) ==
                ERROR_SUCCESS &&
            visit(name, profiles)) {
            return;
        }
    }
}

namespace {

// The session's global profile section; a failing call is raised.
CComPtr<IProfSect> OpenGlobalSection(IMAPISession* session) {
    CComPtr<IProfSect> section;
    CheckedHr check;
    check = session->OpenProfileSection(const_cast<MAPIUID*>(&hk::mapi::kGlobalProfileSection), nullptr, 0,
                                        &section);
    return section;
}

// PR_PROFILE_NAME_W of the session's profile, raising a failed read. False
// when the value comes back error-typed.
bool ReadProfileName(IMAPISession* session, std::wstring& name) {
    CComPtr<IProfSect> section = OpenGlobalSection(session);
    TidyMAPIBuffer<SPropValue> value;
    CheckedHr check;
    check = HrGetOneProp(section, PR_PROFILE_NAME_W, value.put());
    if (!value || value->ulPropTag != PR_PROFILE_NAME_W || value->Value.lpszW == nullptr) {
        return false;
    }
    name = value->Value.lpszW;
    return true;
}

} // namespace
} // namespace provider
} // namespace hk

using namespace hk::provider;

bool SHMSPConfig::GetProfileUID(IUnknown* object, std::wstring& uid) {
    CDesktopLog log("SHMSPConfig::GetProfileUID");
    if (object == nullptr) {
        HkNullArgument(log, "object");
        return false;
    }
    CComPtr<IProfSect> section;
    CComPtr<IMAPISession> session;
    CComPtr<IProviderAdmin> providerAdmin;
    MAPIUID* global = const_cast<MAPIUID*>(&hk::mapi::kGlobalProfileSection);
    // A section that cannot be opened is an answer (false), not an error.
    if (SUCCEEDED(object->QueryInterface(IID_IMAPISession, reinterpret_cast<void**>(&session)))) {
        session->OpenProfileSection(global, nullptr, 0, &section);
    } else if (SUCCEEDED(
                   object->QueryInterface(IID_IProviderAdmin, reinterpret_cast<void**>(&providerAdmin)))) {
        providerAdmin->OpenProfileSection(global, nullptr, 0, &section);
    } else {
        log.LogText(LOG_ERROR, "Neither a session nor a provider administration object\n");
        _com_issue_error(E_NOINTERFACE);
    }
    if (!section) {
        return false;
    }
    TidyMAPIBuffer<SPropValue> value;
    if (FAILED(HrGetOneProp(section, PR_SERVICE_UID, value.put())) || !value ||
        value->ulPropTag != PR_SERVICE_UID) {
        return false;
    }
    const SBinary& bin = value->Value.bin;
    int limit = static_cast<int>(2 * bin.cb + 1);
    std::wstring text(2 * bin.cb, L'\0');
    if (FAILED(HearthkitUtil::HexStrToWchar(bin, text, limit))) {
        return false;
    }
    uid = text.c_str();
    log.LogText(LOG_DETAIL, "Profile UID is %s\n", uid.c_str());
    return true;
}

SHMSPProfileConfig SHMSPConfig::GetSHMSPProfileConfiguration(IMAPISession* session,
                                                             const std::wstring& mdcKey) {
    CDesktopLog log("SHMSPConfig::GetSHMSPProfileConfiguration");
    std::wstring uid;
    std::wstring storeKey;
    if (!ProfileUidAndStoreKey(session, uid, storeKey)) {
        return SHMSPProfileConfigNone;
    }
    CRegKey key;
    DWORD value = 0;
    if (key.Open(HKEY_CURRENT_USER, ProfilesKeyPath(storeKey.c_str(), mdcKey).c_str(),
                 KEY_READ | KEY_WRITE) != ERROR_SUCCESS ||
        key.QueryDWORDValue(uid.c_str(), value) != ERROR_SUCCESS) {
        return SHMSPProfileConfigNone;
    }
    log.LogTextInt(LOG_DETAIL, "Configuration of %s is %d\n", mdcKey.c_str(), static_cast<int>(value));
    switch (value) {
    case SHMSPProfileConfigOff:
        return SHMSPProfileConfigOff;
    case SHMSPProfileConfigOn:
        return SHMSPProfileConfigOn;
    default:
        return SHMSPProfileConfigNone;
    }
}

void SHMSPConfig::SetSHMSPProfileConfiguration(IUnknown* object, const std::wstring& mdcKey,
                                               const SHMSPProfileConfig& config) {
    CDesktopLog log("SHMSPConfig::SetSHMSPProfileConfiguration");
    std::wstring uid;
    std::wstring storeKey;
    if (!ProfileUidAndStoreKey(object, uid, storeKey)) {
        return;
    }
    CRegKey key;
    if (key.Create(HKEY_CURRENT_USER, ProfilesKeyPath(storeKey.c_str(), mdcKey).c_str()) != ERROR_SUCCESS) {
        return;
    }
    log.LogTextInt(LOG_DETAIL, "Setting configuration of %s to %d\n", mdcKey.c_str(),
                   static_cast<int>(config));
    switch (config) {
    case SHMSPProfileConfigOn:
    case SHMSPProfileConfigOff:
        key.SetDWORDValue(uid.c_str(), static_cast<DWORD>(config));
        break;
    default:
        key.DeleteValue(uid.c_str());
        break;
    }
}

bool SHMSPConfig::IsSHMSPConfiguredInProfile(IMAPISession* session) {
    CDesktopLog log("SHMSPConfig::IsSHMSPConfiguredInProfile");
    std::wstring uid;
    std::wstring storeKey;
    if (!ProfileUidAndStoreKey(session, uid, storeKey)) {
        return false;
    }
    // Any readable DWORD counts, Off included: the profile has been set up.
    bool configured = false;
    VisitProfilesKeys(storeKey.c_str(), [&](const wchar_t* mdcKey, CRegKey& profiles) {
        DWORD value = 0;
        configured = profiles.QueryDWORDValue(uid.c_str(), value) == ERROR_SUCCESS;
        if (configured) {
            log.LogText(LOG_DETAIL, "Configured for %s\n", mdcKey);
        }
        return configured;
    });
    return configured;
}

bool SHMSPConfig::IsSHMSPConfiguredInProfileV8SP3(IMAPISession* session) {
    CDesktopLog log("SHMSPConfig::IsSHMSPConfiguredInProfileV8SP3");
    RequireNonNull(log, session, "session");
    CStringW list;
    HearthkitConfig::GetHoardviewConfiguredProfiles(list);
    std::wstring name;
    if (!ReadProfileName(session, name)) {
        return false;
    }
    return ListHasProfile(list.GetString(), name);
}

void SHMSPConfig::SetSHMSPConfiguredInProfileV8SP3(IMAPISession* session, bool configured) {
    CDesktopLog log("SHMSPConfig::SetSHMSPConfiguredInProfileV8SP3");
    RequireNonNull(log, session, "session");
    CStringW list;
    HearthkitConfig::GetHoardviewConfiguredProfiles(list);
    std::wstring name;
    if (!ReadProfileName(session, name)) {
        return;
    }
    std::wstring updated =
        configured ? AppendProfile(list.GetString(), name) : RemoveProfile(list.GetString(), name);
    log.LogText(LOG_DETAIL, "Configured profiles: %s\n", updated.c_str());
    HearthkitConfig::SetHoardviewConfiguredProfiles(updated.c_str());
}
