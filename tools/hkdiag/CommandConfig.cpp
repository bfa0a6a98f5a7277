// hkdiag config: the client's configuration as the library sees it: the
// store key, the desktop settings load, each setting with its layer, and
// both desktop settings caches.
#include "Hearthkit.h"
#include "HResultText.h"
#include "Json.h"
#include "Redact.h"
#include "Tool.h"

#include <cstdio>
#include <set>

namespace hkdiag {
namespace {

const wchar_t kClientKey[] = L"SOFTWARE\\Talvo\\Stowhaven\\Client";

// Value names compare without regard to case, as the registry and the
// settings keys do.
struct NoCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return _wcsicmp(a.c_str(), b.c_str()) < 0;
    }
};
using NameSet = std::set<std::wstring, NoCase>;

struct Setting {
    std::wstring name;
    CStringW value;
    CStringW source;
};

struct Cache {
    std::vector<std::wstring> names;
    std::vector<std::wstring> values;
    std::string modified; // ISO 8601 UTC, or empty when never loaded
};

// The value names of one registry key, added to names.
void AddValueNames(HKEY root, const wchar_t* path, NameSet& names) {
    CRegKey key;
    if (key.Open(root, path, KEY_READ) != ERROR_SUCCESS) {
        return;
    }
    wchar_t name[16384];
    for (DWORD i = 0;; ++i) {
        DWORD chars = 16384;
        if (::RegEnumValueW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        if (chars > 0) {
            names.insert(name);
        }
    }
}

Cache ReadCache(bool updated) {
    Cache cache;
    HearthkitConfig::GetItemsInCache(updated, cache.names, cache.values);
    for (size_t i = 0; i < cache.names.size() && i < cache.values.size(); ++i) {
        if (IsSecretName(Utf8(cache.names[i])) && !cache.values[i].empty()) {
            cache.values[i] = Wide(kMask);
        }
    }
    FILETIME modified = HearthkitConfig::GetSettingsLastModTime(updated ? 1 : 0);
    cache.modified =
        (modified.dwLowDateTime | modified.dwHighDateTime) == 0 ? std::string() : IsoTime(modified);
    return cache;
}

std::string CacheJson(const Cache& cache) {
    std::string entries = "{";
    for (size_t i = 0; i < cache.names.size(); ++i) {
        entries +=
            (i ? "," : "") + JsonString(Utf8(cache.names[i])) + ":" + JsonString(Utf8(cache.values[i]));
    }
    JsonObject json;
    json.Raw("modified", cache.modified.empty() ? "null" : JsonString(cache.modified))
        .Raw("entries", entries + "}");
    return json.Done();
}

void PrintCache(const char* title, const Cache& cache) {
    std::printf("%s (modified %s):\n", title, cache.modified.empty() ? "never" : cache.modified.c_str());
    if (cache.names.empty()) {
        std::printf("  (empty)\n");
    }
    for (size_t i = 0; i < cache.names.size(); ++i) {
        std::printf("  %s = %s\n", Utf8(cache.names[i]).c_str(), Utf8(cache.values[i]).c_str());
    }
}

} // namespace

int RunConfig(const Invocation& invocation) {
    const Command& command = FindCommand(L"config");
    std::vector<std::wstring> asked;
    for (const std::wstring& arg : invocation.args) {
        if (!arg.empty() && arg[0] == L'-') {
            return ReportBadUsage(invocation, command, "unknown option \"" + Utf8(arg) + "\"");
        }
        asked.push_back(arg);
    }
    // Without MAPI the registry layers still answer: a failed logon is shown,
    // not fatal.
    SharedMapiSession session;
    HRESULT logon = session.Result();
    std::string logonText = MapiRegistered() ? HResultHex(logon) : NoMapiText();
    wchar_t* storeKey = nullptr;
    HRESULT storeKeyHr = HearthkitConfig::GetClientStoreKey(&storeKey);
    CComBSTR probe;
    HRESULT load = HearthkitConfig::GetSetting(L"RESTRICTPOLICYLOOKUP", probe, 0);
    if (SUCCEEDED(load)) {
        load = S_OK; // loaded; whether that one setting exists does not matter here
    }
    Cache first = ReadCache(false), updated = ReadCache(true);
    if (asked.empty()) {
        NameSet names;
        AddValueNames(HKEY_LOCAL_MACHINE, kClientKey, names);
        AddValueNames(HKEY_CURRENT_USER, kClientKey, names);
        if (SUCCEEDED(storeKeyHr)) {
            AddValueNames(HKEY_CURRENT_USER, storeKey, names);
        }
        for (const std::wstring& name : first.names) {
            if (!name.empty() && name[0] != L';') {
                names.insert(name);
            }
        }
        asked.assign(names.begin(), names.end());
    }
    // The store key layer is consulted only when the key can be derived.
    const ConfigValueType type = SUCCEEDED(storeKeyHr) ? CONFIG_VALUE_STORE : CONFIG_VALUE_CLIENT;
    std::vector<Setting> settings;
    for (const std::wstring& name : asked) {
        Setting setting{name, CStringW(), CStringW()};
        HearthkitConfig::DescribeConfigValue(name.c_str(), type, setting.value, setting.source);
        if (IsSecretName(Utf8(name)) && !setting.value.IsEmpty()) {
            setting.value = Wide(kMask).c_str();
        }
        settings.push_back(setting);
    }

    if (invocation.json) {
        std::string list = "[";
        for (size_t i = 0; i < settings.size(); ++i) {
            JsonObject item;
            item.Text("name", Utf8(settings[i].name))
                .Text("value", Utf8(settings[i].value.GetString()))
                .Text("source", Utf8(settings[i].source.GetString()));
            list += (i ? "," : "") + item.Done();
        }
        JsonObject json;
        json.Bool("ok", true)
            .Text("logon", HResultHex(logon))
            .Text("logonMessage", FAILED(logon) ? logonText : std::string())
            .Text("storeKey", SUCCEEDED(storeKeyHr) ? Utf8(storeKey) : std::string())
            .Text("storeKeyResult", HResultHex(storeKeyHr))
            .Text("loadResult", HResultHex(load))
            .Raw("settings", list + "]")
            .Raw("desktopSettings", CacheJson(first))
            .Raw("updatedDesktopSettings", CacheJson(updated));
        std::printf("%s\n", json.Done().c_str());
        return kExitSuccess;
    }
    if (FAILED(logon)) {
        std::printf("MAPI logon: failed: %s\n", logonText.c_str());
    }
    if (SUCCEEDED(storeKeyHr)) {
        std::printf("Store key: %s\n", Utf8(storeKey).c_str());
    } else {
        std::printf("Store key: not available (%s)\n", HResultHex(storeKeyHr).c_str());
    }
    if (FAILED(load)) {
        std::printf("Desktop settings: not loaded (%s)\n", HResultHex(load).c_str());
    }
    std::printf("Settings:\n");
    for (const Setting& setting : settings) {
        std::printf("  %s = %s [%s]\n", Utf8(setting.name).c_str(), Utf8(setting.value.GetString()).c_str(),
                    Utf8(setting.source.GetString()).c_str());
    }
    PrintCache("Desktop settings", first);
    PrintCache("Updated desktop settings", updated);
    return kExitSuccess;
}

} // namespace hkdiag
