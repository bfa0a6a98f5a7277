// SHMSPConfig: stripping the provider out of MAPI's profile registry without
// a MAPI session, and removing the client keys of the MDC files it served.
//
// MAPI keeps a profile under HKCU "...\Windows Messaging Subsystem\Profiles"
// in a key of its name: one sub key per section named by its UID in hex, one
// REG_BINARY value per property named by its tag (type first). The section
// "9207f3e0a3b11019908b08002b2a56c2" lists the profile's services
// ("01023d0e") and store providers ("01023d00") as 16-byte UIDs.
#include "SHMSPConfig.h"
#include "provider/ShmspText.h"

#include "CDesktopLog.h"
#include "HearthkitUtil.h"
#include "HkRegKey.h"

#include <vector>

namespace hk {
namespace provider {
namespace {

const wchar_t kProfilesRoot[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
const wchar_t kServicesSection[] = L"9207f3e0a3b11019908b08002b2a56c2";
const wchar_t kServiceList[] = L"01023d0e";
const wchar_t kServiceDllName[] = L"001f3d0a";
const wchar_t kStoreProviderList[] = L"01023d00";
const wchar_t kProviderDllName[] = L"001f300a";
const wchar_t kMdcPathValue[] = L"001f6700";
const wchar_t kProviderDll[] = L"SHMSP.DLL";
const wchar_t kClientRoot[] = L"SOFTWARE\\Talvo\\Stowhaven\\Client";
const size_t kUidBytes = 16;

using RegDeleteKeyExFn = LONG(WINAPI*)(HKEY, const wchar_t*, REGSAM, DWORD);

// RegDeleteKeyExW where Advapi32 has it, looked up once per process.
RegDeleteKeyExFn DeleteKeyEx() {
    static const RegDeleteKeyExFn fn = [] {
        HMODULE advapi = ::GetModuleHandleW(L"Advapi32.dll");
        return advapi ? reinterpret_cast<RegDeleteKeyExFn>(
                            reinterpret_cast<void*>(::GetProcAddress(advapi, "RegDeleteKeyExW")))
                      : nullptr;
    }();
    return fn;
}

// Deletes one sub key that has no sub keys of its own.
LONG DeleteKey(HKEY parent, const wchar_t* name) {
    if (RegDeleteKeyExFn fn = DeleteKeyEx()) {
        return fn(parent, name, 0, 0);
    }
    return ::RegDeleteKeyW(parent, name);
}

// Deletes a sub key with everything below it: its first sub key again and
// again until none is left, then the key itself.
LONG DeleteKeyTree(HKEY parent, const wchar_t* name) {
    CRegKey key;
    LONG rc = key.Open(parent, name, KEY_READ | KEY_WRITE);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    wchar_t child[256];
    for (;;) {
        DWORD chars = 256;
        if (key.EnumKey(0, child, &chars) != ERROR_SUCCESS) {
            break;
        }
        rc = DeleteKeyTree(key, child);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
    }
    key.Close();
    return DeleteKey(parent, name);
}

std::wstring UidHex(const BYTE* bytes) {
    SBinary bin = {static_cast<ULONG>(kUidBytes), const_cast<BYTE*>(bytes)};
    std::wstring text(2 * kUidBytes, L'\0');
    HearthkitUtil::HexStrToWchar(bin, text, static_cast<int>(2 * kUidBytes + 1));
    return text;
}

// A REG_BINARY value holding a wide string (with or without its NUL).
bool ReadBinaryString(HKEY key, const wchar_t* name, std::wstring& text) {
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_BINARY) {
        return false;
    }
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &size) !=
            ERROR_SUCCESS ||
        type != REG_BINARY) {
        return false;
    }
    text = value.c_str();
    return true;
}

std::wstring ProfilePath(const std::wstring& profile) {
    return std::wstring(kProfilesRoot) + L"\\" + profile;
}

} // namespace
} // namespace provider
} // namespace hk

using namespace hk::provider;

bool SHMSPConfig::RemoveSHMSPFromRegistryProfiles() {
    CDesktopLog log("SHMSPConfig::RemoveSHMSPFromRegistryProfiles");
    CRegKey root;
    if (root.Open(HKEY_CURRENT_USER, kProfilesRoot, KEY_READ | KEY_WRITE) != ERROR_SUCCESS) {
        return true;
    }
    wchar_t profile[256];
    for (DWORD i = 0;; ++i) {
        DWORD chars = 256;
        if (root.EnumKey(i, profile, &chars) != ERROR_SUCCESS) {
            break;
        }
        // Services first: a store provider's section outlives its service's
        // only until the second pass.
        RemoveSHMSPFromRegistryProfile(profile, kServiceList, kServiceDllName);
        RemoveSHMSPFromRegistryProfile(profile, kStoreProviderList, kProviderDllName);
    }
    return true;
}

void SHMSPConfig::RemoveSHMSPFromRegistryProfile(const std::wstring& profile, const std::wstring& listValue,
                                                 const std::wstring& dllValue) {
    CDesktopLog log("SHMSPConfig::RemoveSHMSPFromRegistryProfile");
    log.LogText(LOG_DETAIL, "Processing profile %s ; Provider %s \n", profile.c_str(), listValue.c_str());
    const std::wstring profilePath = ProfilePath(profile);
    CRegKey services;
    std::vector<BYTE> list;
    if (services.Open(HKEY_CURRENT_USER, (profilePath + L"\\" + kServicesSection).c_str(),
                      KEY_READ | KEY_WRITE) != ERROR_SUCCESS ||
        services.QueryBinaryValue(listValue.c_str(), list) != ERROR_SUCCESS || list.size() % kUidBytes != 0) {
        return;
    }
    const bool storeProviders = _wcsicmp(listValue.c_str(), kStoreProviderList) == 0;
    std::vector<BYTE> kept;
    for (size_t offset = 0; offset < list.size(); offset += kUidBytes) {
        const BYTE* uid = list.data() + offset;
        std::wstring hex = UidHex(uid);
        CRegKey section;
        std::wstring dll;
        if (section.Open(HKEY_CURRENT_USER, (profilePath + L"\\" + hex).c_str(), KEY_READ | KEY_WRITE) !=
                ERROR_SUCCESS ||
            !ReadBinaryString(section, dllValue.c_str(), dll) || _wcsicmp(dll.c_str(), kProviderDll) != 0) {
            kept.insert(kept.end(), uid, uid + kUidBytes);
            continue;
        }
        if (storeProviders) {
            RemoveSHClientProfileKey(section, hex);
        }
        section.Close();
        CRegKey profileKey;
        if (profileKey.Open(HKEY_CURRENT_USER, profilePath.c_str(), KEY_READ | KEY_WRITE) == ERROR_SUCCESS) {
            log.LogText(LOG_DETAIL, "Deleting %s sub key from profile: %s\n", hex.c_str(), profile.c_str());
            // A section with sub keys of its own would survive a plain
            // delete, an orphan once its UID has left the list.
            DeleteKeyTree(profileKey, hex.c_str());
        }
    }
    if (kept.size() != list.size()) {
        services.SetBinaryValue(listValue.c_str(), kept.data(), static_cast<ULONG>(kept.size()));
    }
}

void SHMSPConfig::RemoveSHClientProfileKey(HKEY sectionKey, const std::wstring& uidHex) {
    CDesktopLog log("SHMSPConfig::RemoveSHClientProfileKey");
    log.LogText(LOG_DETAIL, "Querying %s key for MDC Path (%s)\n", uidHex.c_str(), kMdcPathValue);
    std::wstring mdcPath;
    if (!ReadBinaryString(sectionKey, kMdcPathValue, mdcPath)) {
        return;
    }
    log.LogText(LOG_DETAIL, "Got MDC Path: %s\n", mdcPath.c_str());
    std::wstring parentName;
    std::wstring baseName;
    if (!ParseMdcPath(mdcPath, parentName, baseName)) {
        log.LogText(LOG_DETAIL, "Failed to parse MDC Path");
        return;
    }
    std::wstring clientKeyPath = std::wstring(kClientRoot) + L"\\" + parentName + L"\\" + baseName;
    CRegKey clientKey;
    if (clientKey.Open(HKEY_CURRENT_USER, clientKeyPath.c_str(), KEY_READ | KEY_WRITE) != ERROR_SUCCESS) {
        return;
    }
    log.LogText(LOG_DETAIL, "Deleting SH Client Profiles key: %s\\Profiles\n", clientKeyPath.c_str());
    DeleteKeyTree(clientKey, L"Profiles");
}
