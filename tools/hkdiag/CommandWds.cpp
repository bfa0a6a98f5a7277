// hkdiag wds queue: the queued desktop-search indexing requests; hkdiag wds
// replay: their replay against the Hoardlocal protocol handler.
#include "Hearthkit.h"
#include "Json.h"
#include "Tool.h"

#include <cstdio>
#include <cwchar>

namespace hkdiag {
namespace {

const wchar_t kClientRoot[] = L"SOFTWARE\\Talvo\\Stowhaven\\Client";

struct Request {
    std::wstring operation;
    std::wstring name;
};

struct WdsOptions {
    std::wstring action; // "queue" or "replay"
    std::wstring store;  // --store NAME, or empty: derived by the library
};

// The requests under the queue key, in replay order: operation by
// operation, each in the registry's enumeration order.
std::vector<Request> ReadQueue(const std::wstring& storeKey) {
    std::vector<Request> requests;
    for (const wchar_t* operation : WDSUtil::szWDSOps) {
        std::wstring path = storeKey + L"\\" + WDSUtil::szWDSIndexData + L"\\" + operation;
        CRegKey key;
        std::vector<std::wstring> names;
        if (key.Open(HKEY_CURRENT_USER, path.c_str(), KEY_READ) != ERROR_SUCCESS ||
            key.EnumKeys(names) != ERROR_SUCCESS) {
            continue;
        }
        for (const std::wstring& name : names) {
            requests.push_back({operation, name});
        }
    }
    return requests;
}

// Gives the library the store key the user named, as if it had derived it.
void UseStoreName(const std::wstring& name) {
    HearthkitConfig::CloseDown();
    std::wstring path = std::wstring(kClientRoot) + L"\\" + name;
    wchar_t* owned = new wchar_t[path.size() + 1];
    std::wcscpy(owned, path.c_str());
    HearthkitConfig::m_szStoreRootKey = owned;
    HearthkitConfig::m_StoreKey = name.c_str();
}

std::string VersionText(bool installed, double version) {
    if (!installed) {
        return std::string();
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f", version);
    return text;
}

std::string RequestsJson(const std::vector<Request>& requests) {
    std::string array = "[";
    for (const Request& request : requests) {
        if (array.size() > 1) {
            array += ",";
        }
        JsonObject item;
        item.Text("operation", Utf8(request.operation)).Text("name", Utf8(request.name));
        array += item.Done();
    }
    return array + "]";
}

void PrintRequests(const std::vector<Request>& requests) {
    for (const Request& request : requests) {
        bool wholeCache = _wcsicmp(request.name.c_str(), WDSUtil::szHoardlocal) == 0;
        std::printf("  %-8s %s%s\n", Utf8(request.operation).c_str(), Utf8(request.name).c_str(),
                    wholeCache ? " (the whole cache)" : "");
    }
}

int ParseOptions(const Invocation& invocation, WdsOptions* options) {
    const Command& command = FindCommand(L"wds");
    for (size_t i = 0; i < invocation.args.size(); ++i) {
        const std::wstring& arg = invocation.args[i];
        if (arg == L"--store") {
            if (++i == invocation.args.size() || invocation.args[i].empty()) {
                return ReportBadUsage(invocation, command, "--store needs a store key name");
            }
            options->store = invocation.args[i];
        } else if (!arg.empty() && arg[0] == L'-') {
            return ReportBadUsage(invocation, command, "unknown option \"" + Utf8(arg) + "\"");
        } else if (options->action.empty() && (arg == L"queue" || arg == L"replay")) {
            options->action = arg;
        } else {
            return ReportBadUsage(invocation, command, "unknown wds command \"" + Utf8(arg) + "\"");
        }
    }
    if (options->action.empty()) {
        return ReportBadUsage(invocation, command, "wds needs queue or replay");
    }
    return kExitSuccess;
}

} // namespace

int RunWds(const Invocation& invocation) {
    WdsOptions options;
    int usage = ParseOptions(invocation, &options);
    if (usage != kExitSuccess) {
        return usage;
    }
    // The store key comes from the default store of the mail client's
    // session, shared as the product's components share it (as config does).
    SharedMapiSession session;
    if (!options.store.empty()) {
        UseStoreName(options.store);
    }
    wchar_t* storeKey = nullptr;
    HRESULT hr = HearthkitConfig::GetClientStoreKey(&storeKey);
    if (FAILED(hr)) {
        Failure failure = session.Why("wds: the client store key");
        if (SUCCEEDED(session.Result())) {
            failure.hr = hr;
        }
        failure.hint = (failure.hint.empty() ? "" : failure.hint + "; ") +
                       "--store NAME names the store key instead (a key under "
                       "HKCU \"SOFTWARE\\Talvo\\Stowhaven\\Client\")";
        return ReportFailure(invocation, failure);
    }
    double version = -1.0;
    bool installed = WDSUtil::GetInstalledWDSVersion(version);
    std::string versionText = VersionText(installed, version);
    std::vector<Request> before = ReadQueue(storeKey);
    std::vector<Request> left = before;
    bool replay = options.action == L"replay";
    if (replay) {
        // The handler is a COM class; the library leaves COM to its host.
        HRESULT com = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        WDSUtil::UpdateWDSIndex();
        if (SUCCEEDED(com)) {
            ::CoUninitialize();
        }
        left = ReadQueue(storeKey);
    }
    if (invocation.json) {
        JsonObject json;
        json.Bool("ok", true).Text("storeKey", Utf8(storeKey));
        json.Raw("wdsVersion", versionText.empty() ? "null" : JsonString(versionText));
        if (replay) {
            json.Number("replayed", static_cast<long long>(before.size()));
        }
        json.Raw(replay ? "left" : "requests", RequestsJson(left));
        std::printf("%s\n", json.Done().c_str());
        return kExitSuccess;
    }
    std::printf("Store key: HKCU\\%s\n", Utf8(storeKey).c_str());
    std::string wds = versionText.empty() ? "not installed" : versionText;
    if (versionText.empty() || version < WDSUtil::GetWDSSupportedVer()) {
        wds += " (below 3.0: requests are removed without indexing)";
    }
    std::printf("Windows Desktop Search: %s\n", wds.c_str());
    if (replay) {
        std::printf("Replayed %lu queued requests; %lu left\n", static_cast<unsigned long>(before.size()),
                    static_cast<unsigned long>(left.size()));
    } else {
        std::printf("Queued requests: %lu\n", static_cast<unsigned long>(left.size()));
    }
    PrintRequests(left);
    return kExitSuccess;
}

} // namespace hkdiag
