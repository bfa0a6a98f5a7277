// HearthkitConfig: the desktop settings caches and the layered lookup over
// the registry, the desktop settings and the caller's default.
#include "config/ConfigRegistry.h"
#include "config/ConfigMapi.h"
#include "config/SettingsText.h"
#include "CDesktopLog.h"
#include "HkRegKey.h"
#include "HkResult.h"

#include <cwchar>
#include <functional>
#include <new>
#include <string>

HkSettingsMap HearthkitConfig::m_Settings;
HkSettingsMap HearthkitConfig::m_UpdatedSettings;
double HearthkitConfig::m_dSettingsOriginalModifiedTime = 0;
double HearthkitConfig::m_dSettingsLastModifiedTime = 0;
double HearthkitConfig::m_dCheckLatestMinInterval = 60.0;
double HearthkitConfig::s_dLastUpdateCheck = 0;

namespace {

// No settings attachment could be opened in any mailbox.
const HRESULT kNoSettingsMessage = static_cast<HRESULT>(0x8004E00C);
// Only another primary mailbox of the profile holds the settings message
// (ERROR_NO_SUCH_DOMAIN as an HRESULT).
const HRESULT kOnlyInNonDefaultStore = static_cast<HRESULT>(0x8007051C);
const DWORD kAllSources = 0xFFFFFFFF;

struct RegistrySource {
    HKEY root;
    DWORD bit;
    bool storeKey;
    const wchar_t* tag;     // for the string lines
    const char* numberLine; // for the 32-bit lines
};

// Consulted in this order.
const RegistrySource kSources[] = {
    {HKEY_LOCAL_MACHINE, 1, false, L"HKLM Client Root", " %s = %d [Registry HKLM Client Root]\n"},
    {HKEY_CURRENT_USER, 4, true, L"HKCU Store Key", " %s = %d [Registry HKCU Store Key]\n"},
    {HKEY_CURRENT_USER, 2, false, L"HKCU Client Root", " %s = %d [Registry HKCU Client Root]\n"},
};

// The current time as an OLE automation date (UTC).
double UtcNow() {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    double date = 0;
    ::SystemTimeToVariantTime(&now, &date);
    return date;
}

bool UpdateCheckDue(double now) {
    return now - HearthkitConfig::s_dLastUpdateCheck > HearthkitConfig::m_dCheckLatestMinInterval / 1440.0;
}

bool SettingsLoaded() {
    CHkCritSecLock lock(HearthkitConfig::m_hUpdatedSettingsCritSect);
    return !HearthkitConfig::m_Settings.empty();
}

// The profile's home server as wide text; empty when it has none.
std::wstring HomeServer(IMAPISession* session) {
    CComPtr<IProfSect> global;
    CheckedHr check;
    check = session->OpenProfileSection(const_cast<MAPIUID*>(&hk::mapi::kGlobalProfileSection), nullptr, 0,
                                        &global);
    TidyMAPIBuffer<SPropValue> server;
    if (FAILED(HrGetOneProp(global, PR_PROFILE_HOME_SERVER, server.put())) ||
        PROP_TYPE(server->ulPropTag) != PT_STRING8 || server->Value.lpszA == nullptr) {
        return std::wstring();
    }
    int chars = ::MultiByteToWideChar(CP_ACP, 0, server->Value.lpszA, -1, nullptr, 0);
    if (chars <= 1) {
        return std::wstring();
    }
    std::wstring text(static_cast<size_t>(chars), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, server->Value.lpszA, -1, &text[0], chars);
    text.resize(static_cast<size_t>(chars - 1));
    return text;
}

// Walks the registry sources the mask enables. tryRead answers true when
// the source held the value (and has logged it). A store key that cannot be
// derived ends the walk with its failure.
HRESULT WalkRegistry(DWORD mask, ConfigValueType type, HRESULT& status,
                     const std::function<bool(const CRegKey&, const RegistrySource&)>& tryRead) {
    for (const RegistrySource& source : kSources) {
        if ((mask & source.bit) == 0 || (source.storeKey && type != CONFIG_VALUE_STORE)) {
            continue;
        }
        std::wstring path = hk::config::kClientRootPath;
        if (source.storeKey) {
            HRESULT hr = hk::config::KeyPathFor(CONFIG_VALUE_STORE, path);
            if (FAILED(hr)) {
                return hr;
            }
            status = S_OK;
        }
        CRegKey key;
        if (key.Open(source.root, path.c_str(), KEY_READ) == ERROR_SUCCESS && tryRead(key, source)) {
            return S_FALSE;
        }
    }
    return S_OK;
}

// The mask of registry sources: all, unless the desktop settings restrict it.
DWORD SourceMask(int checkForUpdates, HRESULT& status) {
    CComBSTR text;
    status = HearthkitConfig::GetSetting(L"RESTRICTPOLICYLOOKUP", text, checkForUpdates);
    return status == S_OK ? static_cast<DWORD>(hk::config::SettingNumber(text)) : kAllSources;
}

enum class Answer { Registry, Desktop, Default, Failed };

// The layers of one lookup: the mask, the registry sources, the desktop
// setting (into desktop). status receives the lookup's result.
Answer LayeredLookup(const wchar_t* name, ConfigValueType type, int checkForUpdates,
                     const std::function<bool(const CRegKey&, const RegistrySource&)>& tryRead,
                     CComBSTR& desktop, HRESULT& status) {
    DWORD mask = SourceMask(checkForUpdates, status);
    HRESULT walked = WalkRegistry(mask, type, status, tryRead);
    if (FAILED(walked)) {
        status = walked;
        return Answer::Failed;
    }
    if (walked == S_FALSE) {
        return Answer::Registry;
    }
    status = HearthkitConfig::GetSetting(name, desktop, checkForUpdates);
    return SUCCEEDED(status) && status != S_FALSE ? Answer::Desktop : Answer::Default;
}

} // namespace

HRESULT HearthkitConfig::GetConfigValue(const wchar_t* name, DWORD* value, DWORD defaultValue,
                                        ConfigValueType type, int checkForUpdates) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::GetConfigValue", &hr);
    if (value == nullptr || name == nullptr) {
        return hr = HkNullArgument(log, "name or value");
    }
    *value = defaultValue;
    try {
        CComBSTR text;
        auto read = [&](const CRegKey& key, const RegistrySource& source) {
            // One query: a value of another type or size is absent.
            DWORD data = 0, type = 0, size = sizeof(data);
            if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
                    ERROR_SUCCESS ||
                type != REG_DWORD || size != sizeof(data)) {
                return false;
            }
            *value = data;
            log.LogTextInt(LOG_DETAIL, source.numberLine, name, static_cast<int>(data));
            return true;
        };
        Answer answer = LayeredLookup(name, type, checkForUpdates, read, text, hr);
        if (answer == Answer::Desktop) {
            *value = static_cast<DWORD>(hk::config::SettingNumber(text));
            log.LogTextInt(LOG_DETAIL, " %s = %d [Desktop Setting]\n", name, static_cast<int>(*value));
        } else if (answer == Answer::Default) {
            log.LogTextInt(LOG_DETAIL, " %s = %d [default]\n", name, static_cast<int>(defaultValue));
        }
    } catch (...) {
        *value = defaultValue;
        hr = HkCaughtToHr(log, "HearthkitConfig::GetConfigValue");
    }
    return hr;
}

HRESULT HearthkitConfig::GetConfigStringValue(const wchar_t* name, CStringW& value,
                                              const wchar_t* defaultValue, ConfigValueType type,
                                              int checkForUpdates) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::GetConfigStringValue", &hr);
    const wchar_t* fallback = defaultValue != nullptr ? defaultValue : L"";
    try {
        value = fallback;
        if (name == nullptr) {
            return hr = HkNullArgument(log, "name");
        }
        CComBSTR text;
        auto read = [&](const CRegKey& key, const RegistrySource& source) {
            std::wstring data;
            if (key.QueryStringValue(name, data) != ERROR_SUCCESS) {
                return false;
            }
            value = data.c_str();
            log.LogText(LOG_DETAIL, " %s = %s [Registry %s]\n", name, value.GetString(), source.tag);
            return true;
        };
        Answer answer = LayeredLookup(name, type, checkForUpdates, read, text, hr);
        if (answer == Answer::Desktop) {
            value = text.m_str != nullptr ? static_cast<const wchar_t*>(text) : L"";
            log.LogText(LOG_DETAIL, " %s = %s [Desktop Setting]\n", name, value.GetString());
        } else if (answer == Answer::Default) {
            log.LogText(LOG_DETAIL, " %s = %s [default]\n", name, fallback);
        }
    } catch (...) {
        value = fallback;
        hr = HkCaughtToHr(log, "HearthkitConfig::GetConfigStringValue");
    }
    return hr;
}

HRESULT HearthkitConfig::DescribeConfigValue(const wchar_t* name, ConfigValueType type, CStringW& value,
                                             CStringW& source) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::DescribeConfigValue", &hr);
    try {
        value = L"";
        source = L"default";
        if (name == nullptr) {
            return hr = HkNullArgument(log, "name");
        }
        CComBSTR text;
        auto read = [&](const CRegKey& key, const RegistrySource& from) {
            std::wstring data;
            DWORD number = 0;
            if (key.QueryStringValue(name, data) == ERROR_SUCCESS) {
                value = data.c_str();
            } else if (key.QueryDWORDValue(name, number) == ERROR_SUCCESS) {
                value = std::to_wstring(number).c_str();
            } else {
                return false;
            }
            source = from.tag;
            return true;
        };
        if (LayeredLookup(name, type, 0, read, text, hr) == Answer::Desktop) {
            value = text.m_str != nullptr ? static_cast<const wchar_t*>(text) : L"";
            source = L"Desktop Setting";
        }
    } catch (...) {
        hr = HkCaughtToHr(log, "HearthkitConfig::DescribeConfigValue");
    }
    return hr;
}

HRESULT HearthkitConfig::GetSetting(const wchar_t* name, CComBSTR& value, int checkForUpdates) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::GetSetting", &hr);
    try {
        value.Empty();
        if (name == nullptr) {
            return hr = HkNullArgument(log, "name");
        }
        // Held from the load to the look-up: a ReleaseStatics on another
        // thread must not empty the caches in between, or a loaded setting
        // would answer as absent.
        CHkCritSecLock config(hk::config::ConfigLock());
        hr = LoadSettingsFromHiddenMessage(nullptr, checkForUpdates);
        if (FAILED(hr)) {
            return hr;
        }
        log.LogText(LOG_DETAIL, "    Desktop Setting: %s\n", name);
        bool fromUpdated = false;
        if (checkForUpdates) {
            CHkCritSecLock lock(m_hUpdatedSettingsCritSect);
            fromUpdated = GetSettingFromCache(name, m_UpdatedSettings, value);
        }
        if (fromUpdated) {
            log.LogText(LOG_DETAIL, "    Value: %s [from updated settings]\n", value.m_str);
            return hr = S_OK;
        }
        bool found = false;
        {
            CHkCritSecLock lock(m_hUpdatedSettingsCritSect);
            found = GetSettingFromCache(name, m_Settings, value);
        }
        if (found) {
            log.LogText(LOG_DETAIL, "    Value: %s\n", value.m_str);
            return hr = S_OK;
        }
        log.LogText(LOG_DETAIL, "    No Value\n");
        hr = S_FALSE;
    } catch (...) {
        hr = HkCaughtToHr(log, "HearthkitConfig::GetSetting");
    }
    return hr;
}

bool HearthkitConfig::GetSettingFromCache(const wchar_t* name, const HkSettingsMap& settings,
                                          CComBSTR& value) {
    if (name == nullptr) {
        CDesktopLog log("HearthkitConfig::GetSettingFromCache");
        HkNullArgument(log, "name");
        return false;
    }
    if (settings.empty()) {
        return false;
    }
    auto found = settings.find(hk::config::ToUpperKey(name));
    if (found == settings.end()) {
        return false;
    }
    CComBSTR copy(static_cast<UINT>(found->second.size()), found->second.c_str());
    if (!copy) {
        throw std::bad_alloc();
    }
    value = std::move(copy);
    return true;
}

HRESULT HearthkitConfig::AddSetting(const wchar_t* name, int value) {
    return AddSetting(name, std::to_wstring(value).c_str());
}

HRESULT HearthkitConfig::AddSetting(const wchar_t* name, const wchar_t* value) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::AddSetting", &hr);
    if (name == nullptr || value == nullptr) {
        return hr = HkNullArgument(log, "name or value");
    }
    try {
        std::wstring key = hk::config::ToUpperKey(name);
        CHkCritSecLock lock(m_hUpdatedSettingsCritSect);
        m_Settings[key] = value != nullptr ? value : L"";
    } catch (...) {
        hr = HkCaughtToHr(log, "HearthkitConfig::AddSetting");
    }
    return hr;
}

HRESULT HearthkitConfig::GetItemsInCache(bool updatedCache, std::vector<std::wstring>& names,
                                         std::vector<std::wstring>& values) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::GetItemsInCache", &hr);
    try {
        HkSettingsMap copy;
        {
            CHkCritSecLock lock(m_hUpdatedSettingsCritSect);
            copy = updatedCache ? m_UpdatedSettings : m_Settings;
        }
        if (copy.empty()) {
            return hr;
        }
        std::vector<std::wstring> newNames, newValues;
        newNames.reserve(copy.size());
        newValues.reserve(copy.size());
        for (const auto& entry : copy) {
            newNames.push_back(entry.first);
            newValues.push_back(entry.second);
        }
        names.swap(newNames);
        values.swap(newValues);
    } catch (...) {
        hr = HkCaughtToHr(log, "HearthkitConfig::GetItemsInCache");
    }
    return hr;
}

void HearthkitConfig::LogUpdatedDesktopSettings() {
    CDesktopLog log("HearthkitConfig::LogUpdatedDesktopSettings");
    try {
        HkSettingsMap copy;
        {
            CHkCritSecLock lock(m_hUpdatedSettingsCritSect);
            copy = m_UpdatedSettings;
        }
        const size_t kLineChars = 2048;
        const wchar_t kCut[] = L"...\n";
        wchar_t line[kLineChars];
        for (const auto& entry : copy) {
            int written =
                _snwprintf(line, kLineChars, L"    %s = %s\n", entry.first.c_str(), entry.second.c_str());
            if (written < 0 || static_cast<size_t>(written) >= kLineChars) {
                std::wcscpy(line + kLineChars - sizeof(kCut) / sizeof(kCut[0]), kCut);
            }
            log.LogText(LOG_INFO, line);
        }
    } catch (...) {
        // Logged, never raised: logging does not fail its caller.
        HkCaughtToHr(log, "HearthkitConfig::LogUpdatedDesktopSettings");
    }
}

HRESULT HearthkitConfig::SetUpdateSettingsInterval(UINT minutes) {
    m_dCheckLatestMinInterval = minutes;
    return S_OK;
}

FILETIME HearthkitConfig::GetSettingsLastModTime(int latest) {
    // Zero until settings were loaded: a time of 0 means "never", not the
    // OLE epoch.
    FILETIME time = {};
    double date = latest ? m_dSettingsLastModifiedTime : m_dSettingsOriginalModifiedTime;
    SYSTEMTIME system;
    if (date != 0 && ::VariantTimeToSystemTime(date, &system)) {
        ::SystemTimeToFileTime(&system, &time);
    }
    return time;
}

void HearthkitConfig::ReleaseStatics() {
    // Waits for a first load or an update check in progress, so what it
    // publishes is emptied too.
    CHkCritSecLock config(hk::config::ConfigLock());
    LogOffMAPI();
    CHkCritSecLock lock(m_hUpdatedSettingsCritSect);
    m_Settings.clear();
    m_UpdatedSettings.clear();
}

HRESULT HearthkitConfig::LoadSettingsFromHiddenMessage(IMAPISession* session, int checkForUpdates) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitConfig::LoadSettingsFromHiddenMessage", &hr);
    if (SettingsLoaded()) {
        return hr = checkForUpdates ? CheckForUpdatedSettings(session) : S_FALSE;
    }
    // Threads arriving before the first load has finished wait for it and
    // then find the cache filled.
    CHkCritSecLock first(hk::config::ConfigLock());
    if (SettingsLoaded()) {
        return hr = checkForUpdates ? CheckForUpdatedSettings(session) : S_FALSE;
    }
    CComPtr<IMAPISession> use =
        session != nullptr ? CComPtr<IMAPISession>(session) : hk::config::SharedSession();
    if (!use) {
        return hr = HkNullArgument(log, "session", E_POINTER);
    }
    // Filled aside and published whole once an attachment was found.
    HkSettingsMap loaded;
    CComPtr<IAttach> attachment;
    bool onlyInNonDefaultStore = false;
    try {
        CheckedHr check;
        loaded[L";SERVER;"] = HomeServer(use);
        CComPtr<IMsgStore> store;
        if (SUCCEEDED(OpenDesktopSettingsAttachment(use, hk::config::kPrimaryMailboxProvider, &store,
                                                    &attachment, &onlyInNonDefaultStore))) {
            loaded[L"MAILBOXTYPE"] = L"PrimaryUser";
            TidyMAPIBuffer<SPropValue> account;
            if (SUCCEEDED(GetMailUserProperty(use, store, PR_ACCOUNT_W, account.put())) &&
                PROP_TYPE(account->ulPropTag) == PT_UNICODE && account->Value.lpszW != nullptr) {
                loaded[L";MAILBOX;"] = account->Value.lpszW;
            }
        } else {
            check = OpenDesktopSettingsAttachment(use, hk::config::kDelegateMailboxProvider, nullptr,
                                                  &attachment, nullptr);
            loaded[L"MAILBOXTYPE"] = L"Delegate";
        }
        double modified = 0;
        check = GetAttachmentLastModifiedTime(attachment, &modified);
        m_dSettingsOriginalModifiedTime = modified;
        m_dSettingsLastModifiedTime = modified;
        hr = PopulateSettingsCache(attachment, &loaded);
    } catch (...) {
        hr = HkCaughtToHr(log, "LoadSettingsFromHiddenMessage", E_FAIL);
    }
    if (!attachment) {
        return hr = onlyInNonDefaultStore ? kOnlyInNonDefaultStore : kNoSettingsMessage;
    }
    CHkCritSecLock lock(m_hUpdatedSettingsCritSect);
    for (auto& entry : loaded) {
        m_Settings[entry.first] = std::move(entry.second);
    }
    return hr;
}

HRESULT HearthkitConfig::CheckForUpdatedSettings(IMAPISession* session) {
    HRESULT hr = S_FALSE;
    CDesktopLog log("HearthkitConfig::CheckForUpdatedSettings", &hr);
    const double now = UtcNow();
    if (!UpdateCheckDue(now)) {
        return hr;
    }
    // One thread checks; the others find the check done when they get here.
    CHkCritSecLock first(hk::config::ConfigLock());
    if (!UpdateCheckDue(now)) {
        return hr;
    }
    CComPtr<IMAPISession> use =
        session != nullptr ? CComPtr<IMAPISession>(session) : hk::config::SharedSession();
    if (!use) {
        return hr = HkNullArgument(log, "session", E_POINTER);
    }
    log.LogText(LOG_DETAIL, "Checking for updated desktop settings\n");
    try {
        CheckedHr check;
        CComPtr<IAttach> attachment;
        if (FAILED(OpenDesktopSettingsAttachment(use, hk::config::kPrimaryMailboxProvider, nullptr,
                                                 &attachment, nullptr))) {
            check = OpenDesktopSettingsAttachment(use, hk::config::kDelegateMailboxProvider, nullptr,
                                                  &attachment, nullptr);
        }
        double modified = 0;
        check = GetAttachmentLastModifiedTime(attachment, &modified);
        if (modified > m_dSettingsLastModifiedTime) {
            CHkCritSecLock lock(m_hUpdatedSettingsCritSect);
            log.LogText(LOG_DETAIL, "Detected updated desktop settings, populating updated settings cache");
            check = PopulateSettingsCache(attachment, &m_UpdatedSettings);
            m_dSettingsLastModifiedTime = modified;
            log.LogText(LOG_INFO, "\nContents of updated Desktop Settings cache:\n");
            LogUpdatedDesktopSettings();
            log.LogText(LOG_INFO, "\n");
        }
        s_dLastUpdateCheck = now;
        hr = S_OK;
    } catch (...) {
        hr = HkCaughtToHr(log, "CheckForUpdatedSettings");
    }
    return hr;
}
