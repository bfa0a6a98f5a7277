// HearthkitConfig: lifecycle, the store key path and the plain registry reads
// and writes under HKEY_CURRENT_USER.
#include "config/ConfigRegistry.h"
#include "config/ConfigMapi.h"
#include "CDesktopLog.h"
#include "HkRegKey.h"
#include "HkResult.h"

#include <cwchar>

wchar_t* HearthkitConfig::m_szStoreRootKey = nullptr;
CStringW HearthkitConfig::m_StoreKey;
CHkCriticalSection HearthkitConfig::m_hUpdatedSettingsCritSect;

namespace hk {
namespace config {

const wchar_t kClientRootPath[] = L"SOFTWARE\\Talvo\\Stowhaven\\Client";

namespace {

const wchar_t kHoardviewConfiguredProfiles[] = L"HoardviewConfiguredProfiles";

} // namespace

HRESULT KeyPathFor(ConfigValueType type, std::wstring& path) {
    if (type != CONFIG_VALUE_STORE) {
        path = kClientRootPath;
        return S_OK;
    }
    // Copied under the lock: CloseDown may free the path once it is let go.
    CHkCritSecLock lock(ConfigLock());
    wchar_t* storeKey = nullptr;
    HRESULT hr = HearthkitConfig::GetClientStoreKey(&storeKey);
    if (SUCCEEDED(hr)) {
        path = storeKey;
    }
    return hr;
}

} // namespace config
} // namespace hk

using hk::config::KeyPathFor;

void HearthkitConfig::Startup() {}

void HearthkitConfig::Shutdown() {}

void HearthkitConfig::CloseDown() {
    CDesktopLog log("HearthkitConfig::CloseDown");
    CHkCritSecLock lock(hk::config::ConfigLock());
    if (m_szStoreRootKey != nullptr) {
        log.LogText(LOG_DETAIL, "Freeing store key\n");
        delete[] m_szStoreRootKey;
        m_szStoreRootKey = nullptr;
    }
}

HRESULT HearthkitConfig::GetClientStoreKey(wchar_t** storeKey) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::GetClientStoreKey", &hr);
    if (storeKey == nullptr) {
        return hr = HkNullArgument(log, "storeKey");
    }
    try {
        // Threads arriving together derive the key once.
        CHkCritSecLock lock(hk::config::ConfigLock());
        if (m_szStoreRootKey == nullptr) {
            CStringW name;
            hk::config::DeriveStoreKeyName(hk::config::SharedSession(), name);
            size_t chars = std::wcslen(hk::config::kClientRootPath) + 1 + name.GetLength() + 1;
            wchar_t* path = new wchar_t[chars];
            _snwprintf(path, chars, L"%s\\%s", hk::config::kClientRootPath, name.GetString());
            path[chars - 1] = L'\0';
            m_szStoreRootKey = path;
            m_StoreKey = name;
            log.LogText(LOG_DETAIL, "Store key is %s\n", m_szStoreRootKey);
        }
        *storeKey = m_szStoreRootKey;
    } catch (...) {
        hr = HkCaughtToHr(log, "HearthkitConfig::GetClientStoreKey");
    }
    return hr;
}

CStringW HearthkitConfig::GetStoreKey() {
    CHkCritSecLock lock(hk::config::ConfigLock());
    wchar_t* path = nullptr;
    HRESULT hr = GetClientStoreKey(&path);
    if (FAILED(hr)) {
        _com_issue_error(hr);
    }
    return m_StoreKey;
}

HRESULT HearthkitConfig::GetRegKeyValue(const wchar_t* name, DWORD* value, DWORD defaultValue,
                                        ConfigValueType type) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::GetRegKeyValue", &hr);
    if (value == nullptr) {
        return hr = HkNullArgument(log, "value");
    }
    *value = defaultValue;
    // A nameless value is no setting: reading the key's default value
    // instead would be a surprise.
    if (name == nullptr) {
        return hr = HkNullArgument(log, "name");
    }
    try {
        std::wstring path;
        hr = KeyPathFor(type, path);
        if (FAILED(hr)) {
            return hr;
        }
        CRegKey key;
        DWORD data = 0;
        if (key.Open(HKEY_CURRENT_USER, path.c_str(), KEY_READ | KEY_WRITE) == ERROR_SUCCESS &&
            key.QueryDWORDValue(name, data) == ERROR_SUCCESS) {
            *value = data;
            log.LogTextInt(LOG_DETAIL, " %s = %d [Registry]\n", name, static_cast<int>(data));
        } else {
            log.LogTextInt(LOG_DETAIL, " %s = %d [default]\n", name, static_cast<int>(defaultValue));
        }
    } catch (...) {
        *value = defaultValue;
        hr = HkCaughtToHr(log, "HearthkitConfig::GetRegKeyValue");
    }
    return hr;
}

HRESULT HearthkitConfig::GetRegKeyValue(const wchar_t* name, CStringW& value, const wchar_t* defaultValue,
                                        ConfigValueType type) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::GetRegKeyValue", &hr);
    try {
        value = defaultValue != nullptr ? defaultValue : L"";
        if (name == nullptr) {
            return hr = HkNullArgument(log, "name");
        }
        std::wstring path;
        hr = KeyPathFor(type, path);
        if (FAILED(hr)) {
            return hr;
        }
        CRegKey key;
        std::wstring data;
        if (key.Open(HKEY_CURRENT_USER, path.c_str(), KEY_READ | KEY_WRITE) == ERROR_SUCCESS &&
            key.QueryStringValue(name, data) == ERROR_SUCCESS) {
            value = data.c_str();
        }
    } catch (...) {
        hr = HkCaughtToHr(log, "HearthkitConfig::GetRegKeyValue");
    }
    return hr;
}

namespace {

// Opens the key that type selects for writing and runs write on it. A key
// that does not exist is not created: nothing is written and the answer is
// S_OK. A failed write answers its Win32 error as an HRESULT, E_FAIL when
// the registry gave no code.
template <typename Write>
HRESULT WriteConfigValue(CDesktopLog& log, const char* scope, ConfigValueType type, Write write) {
    try {
        std::wstring path;
        HRESULT hr = KeyPathFor(type, path);
        if (FAILED(hr)) {
            return hr;
        }
        CRegKey key;
        if (key.Open(HKEY_CURRENT_USER, path.c_str(), KEY_READ | KEY_WRITE) != ERROR_SUCCESS) {
            return S_OK;
        }
        LONG rc = write(key);
        if (rc == ERROR_SUCCESS) {
            return S_OK;
        }
        hr = HkHResultFromWin32(rc);
        return SUCCEEDED(hr) ? E_FAIL : hr;
    } catch (...) {
        return HkCaughtToHr(log, scope);
    }
}

} // namespace

HRESULT HearthkitConfig::SetRegKeyValue(const wchar_t* name, const wchar_t* value, ConfigValueType type) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::SetRegKeyValue", &hr);
    if (name == nullptr) {
        return hr = HkNullArgument(log, "name");
    }
    hr = WriteConfigValue(log, "HearthkitConfig::SetRegKeyValue", type, [&](CRegKey& key) -> LONG {
        if (value == nullptr || *value == L'\0') {
            // Removing a value that is already gone leaves what was asked for.
            LONG rc = key.DeleteValue(name);
            return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
        }
        return key.SetStringValue(name, value);
    });
    return hr;
}

HRESULT HearthkitConfig::SetRegKeyValue(const wchar_t* name, DWORD value, ConfigValueType type) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::SetRegKeyValue", &hr);
    if (name == nullptr) {
        return hr = HkNullArgument(log, "name");
    }
    hr = WriteConfigValue(log, "HearthkitConfig::SetRegKeyValue", type,
                          [&](CRegKey& key) { return key.SetDWORDValue(name, value); });
    return hr;
}

void HearthkitConfig::SetHoardviewConfiguredProfiles(const wchar_t* profiles) {
    SetRegKeyValue(hk::config::kHoardviewConfiguredProfiles, profiles != nullptr ? profiles : L"",
                   CONFIG_VALUE_STORE);
}

void HearthkitConfig::GetHoardviewConfiguredProfiles(CStringW& profiles) {
    GetRegKeyValue(hk::config::kHoardviewConfiguredProfiles, profiles, L"", CONFIG_VALUE_STORE);
}
