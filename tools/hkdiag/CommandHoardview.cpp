// hkdiag hoardview: the SHMSP services (the Hoardview) of a MAPI profile,
// adding and removing one, and the registry clean-up of every profile.
#include "Hearthkit.h"
#include "Json.h"
#include "Tool.h"

#include <cstdio>
#include <vector>

namespace hkdiag {
namespace {

const ULONG kTagMdcPath = 0x6700001F;
const ULONG kTagDisplayName = 0x3001001F; // PR_DISPLAY_NAME_W
const ULONG kTagProviderUid = 0x300C0102; // PR_PROVIDER_UID
const ULONG kTagServiceUid = 0x3D0C0102;  // PR_SERVICE_UID
const ULONG kMapiForceAccess = 0x00080000;
const wchar_t kProfilesRoot[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
const wchar_t kServicesSection[] = L"\\9207f3e0a3b11019908b08002b2a56c2";
const wchar_t kClientRoot[] = L"SOFTWARE\\Talvo\\Stowhaven\\Client";

struct Options {
    std::wstring verb = L"list";
    std::wstring mdcPath;
    std::wstring mdcKey;
    std::wstring displayName = L"Hoardview";
    std::wstring profile;
    bool keepConfig = false;
    bool dryRun = false;
};

struct Service {
    std::string uid;
    std::string displayName;
    std::string mdcPath;
    std::string mdcKey;
    std::string record;
};

// The MDC key of a file in the cache layout: its base name.
std::wstring MdcKeyOf(const std::wstring& mdcPath) {
    size_t slash = mdcPath.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? mdcPath : mdcPath.substr(slash + 1);
    size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string Hex(const BYTE* bytes, ULONG count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (ULONG i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

const char* RecordName(SHMSPProfileConfig config) {
    switch (config) {
    case SHMSPProfileConfigOn:
        return "on";
    case SHMSPProfileConfigOff:
        return "off";
    default:
        return "none";
    }
}

// A wide string property of a MAPI object, empty when it cannot be read.
std::wstring ReadText(IMAPIProp* object, ULONG tag) {
    TidyMAPIBuffer<SPropValue> value;
    if (object == nullptr || FAILED(HrGetOneProp(object, tag, value.put())) || value->ulPropTag != tag ||
        value->Value.lpszW == nullptr) {
        return std::wstring();
    }
    return value->Value.lpszW;
}

// What one service shows: its display name from its own section, the MDC
// path from its provider's section.
Service Describe(IMAPISession* session, IMsgServiceAdmin* admin, const MAPIUID& uid) {
    Service service;
    service.uid = Hex(uid.ab, sizeof(uid.ab));
    CheckedHr check;
    CComPtr<IProfSect> own;
    check = admin->OpenProfileSection(const_cast<MAPIUID*>(&uid), nullptr, kMapiForceAccess, &own);
    service.displayName = Utf8(ReadText(own, kTagDisplayName));
    CComPtr<IProviderAdmin> providers;
    check = admin->AdminProviders(const_cast<MAPIUID*>(&uid), 0, &providers);
    CComPtr<IMAPITable> table;
    check = providers->GetProviderTable(0, &table);
    SizedSPropTagArray(1, columns) = {1, {kTagProviderUid}};
    TidyRowSet rows;
    check =
        HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, rows.put());
    std::wstring mdcPath;
    for (ULONG i = 0; i < rows->cRows && mdcPath.empty(); ++i) {
        const SPropValue& v = rows->aRow[i].lpProps[0];
        if (v.ulPropTag != kTagProviderUid || v.Value.bin.cb != sizeof(MAPIUID)) {
            continue;
        }
        CComPtr<IProfSect> section;
        if (SUCCEEDED(providers->OpenProfileSection(reinterpret_cast<MAPIUID*>(v.Value.bin.lpb), nullptr,
                                                    kMapiForceAccess, &section))) {
            mdcPath = ReadText(section, kTagMdcPath);
        }
    }
    std::wstring key = MdcKeyOf(mdcPath);
    service.mdcPath = Utf8(mdcPath);
    service.mdcKey = Utf8(key);
    service.record = RecordName(SHMSPConfig::GetSHMSPProfileConfiguration(session, key));
    return service;
}

int List(const Invocation& invocation, IMAPISession* session) {
    std::wstring profileUid;
    SHMSPConfig::GetProfileUID(session, profileUid);
    wchar_t* storeKey = nullptr;
    bool haveStoreKey = SUCCEEDED(HearthkitConfig::GetClientStoreKey(&storeKey));
    CComPtr<IMsgServiceAdmin> admin;
    CheckedHr check;
    check = session->AdminServices(0, &admin);
    TidyRowSet rows;
    SHMSPConfig::GetSHMSPServices(admin, rows.put());
    std::vector<Service> services;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue& v = rows->aRow[i].lpProps[0];
        if (v.ulPropTag == kTagServiceUid && v.Value.bin.cb == sizeof(MAPIUID)) {
            services.push_back(Describe(session, admin, *reinterpret_cast<const MAPIUID*>(v.Value.bin.lpb)));
        }
    }
    if (invocation.json) {
        std::string array = "[";
        for (const Service& s : services) {
            JsonObject item;
            item.Text("uid", s.uid).Text("displayName", s.displayName).Text("mdcPath", s.mdcPath);
            item.Text("mdcKey", s.mdcKey).Text("record", s.record);
            array += (array.size() > 1 ? "," : "") + item.Done();
        }
        JsonObject json;
        json.Bool("ok", true).Text("profileUid", Utf8(profileUid));
        json.Text("storeKey", haveStoreKey ? Utf8(storeKey) : std::string());
        json.Number("count", static_cast<long long>(rows->cRows)).Raw("services", array + "]");
        std::printf("%s\n", json.Done().c_str());
        return kExitSuccess;
    }
    std::printf("Profile UID: %s\nSHMSP services: %lu\n", Utf8(profileUid).c_str(),
                static_cast<unsigned long>(rows->cRows));
    for (const Service& s : services) {
        std::printf("  %s \"%s\"\n    MDC path: %s\n    record of %s: %s\n", s.uid.c_str(),
                    s.displayName.c_str(), s.mdcPath.c_str(), s.mdcKey.c_str(),
                    haveStoreKey ? s.record.c_str() : "unknown (no store key)");
    }
    return kExitSuccess;
}

int AddOrRemove(const Invocation& invocation, IMAPISession* session, const Options& options) {
    const std::wstring key = options.mdcKey.empty() ? MdcKeyOf(options.mdcPath) : options.mdcKey;
    bool existed = SHMSPConfig::SHMSPServiceExists(session, options.mdcPath);
    if (options.verb == L"add") {
        SHMSPConfig::AddSHMSPService(session, key, options.mdcPath, options.displayName);
    } else {
        SHMSPConfig::RemoveSHMSPService(session, key, options.mdcPath, options.keepConfig);
    }
    bool exists = SHMSPConfig::SHMSPServiceExists(session, options.mdcPath);
    if (invocation.json) {
        JsonObject json;
        json.Bool("ok", true).Text("mdcPath", Utf8(options.mdcPath)).Text("mdcKey", Utf8(key));
        json.Bool("existed", existed).Bool("exists", exists);
        std::printf("%s\n", json.Done().c_str());
    } else {
        std::printf("%s: %s\n", Utf8(options.mdcPath).c_str(),
                    existed == exists
                        ? (exists ? "already configured, nothing changed" : "not configured, nothing removed")
                        : (exists ? "added" : "removed"));
    }
    return kExitSuccess;
}

// Lengths of a profile's service and store-provider lists, in UIDs.
std::pair<long long, long long> ListLengths(const std::wstring& profile) {
    CRegKey key;
    std::vector<BYTE> services, stores;
    if (key.Open(HKEY_CURRENT_USER,
                 (std::wstring(kProfilesRoot) + L"\\" + profile + kServicesSection).c_str(),
                 KEY_READ) == ERROR_SUCCESS) {
        key.QueryBinaryValue(L"01023d0e", services);
        key.QueryBinaryValue(L"01023d00", stores);
    }
    return {static_cast<long long>(services.size() / 16), static_cast<long long>(stores.size() / 16)};
}

// A profile's value that holds a wide string as REG_BINARY (MAPI's layout).
std::wstring BinaryText(const std::wstring& key, const wchar_t* name) {
    CRegKey open;
    std::vector<BYTE> bytes;
    if (open.Open(HKEY_CURRENT_USER, key.c_str(), KEY_READ) != ERROR_SUCCESS ||
        open.QueryBinaryValue(name, bytes) != ERROR_SUCCESS) {
        return std::wstring();
    }
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

// The client key of an MDC file the cleanup deletes: "<parent>\<base name>"
// of its path, which needs an extension and two folder levels.
std::wstring ClientKeyOf(std::wstring path) {
    size_t cut = path.rfind(L'.');
    if (cut == std::wstring::npos || cut == 0) {
        return std::wstring();
    }
    path.resize(cut);
    cut = path.rfind(L'\\');
    if (cut == std::wstring::npos || cut == 0) {
        return std::wstring();
    }
    std::wstring base = path.substr(cut + 1);
    path.resize(cut);
    cut = path.rfind(L'\\');
    if (cut == std::wstring::npos || cut == 0 || base.empty() || cut + 1 == path.size()) {
        return std::wstring();
    }
    return path.substr(cut + 1) + L"\\" + base;
}

// hoardview cleanup --dry-run: what the cleanup would remove, read from the
// registry as SHMSPConfig::RemoveSHMSPFromRegistryProfiles reads it.
int CleanupPlan(const Invocation& invocation) {
    struct Removal {
        std::wstring profile;
        const char* kind;
        std::wstring key;
    };
    std::vector<Removal> removals;
    std::vector<std::wstring> profiles;
    CRegKey root;
    if (root.Open(HKEY_CURRENT_USER, kProfilesRoot, KEY_READ) == ERROR_SUCCESS) {
        root.EnumKeys(profiles);
    }
    const struct {
        const wchar_t* list;
        const wchar_t* dll;
        const char* kind;
        bool clientKeys; // the store-provider pass cleans the client keys too
    } kLists[] = {{L"01023d0e", L"001f3d0a", "service section", false},
                  {L"01023d00", L"001f300a", "store provider section", true}};
    for (const std::wstring& profile : profiles) {
        std::wstring profileKey = std::wstring(kProfilesRoot) + L"\\" + profile;
        for (const auto& list : kLists) {
            CRegKey section;
            std::vector<BYTE> uids;
            if (section.Open(HKEY_CURRENT_USER, (profileKey + kServicesSection).c_str(), KEY_READ) !=
                    ERROR_SUCCESS ||
                section.QueryBinaryValue(list.list, uids) != ERROR_SUCCESS || uids.size() % 16 != 0) {
                continue;
            }
            for (size_t at = 0; at < uids.size(); at += 16) {
                std::wstring hex = Wide(Hex(&uids[at], 16));
                ::CharLowerW(&hex[0]);
                std::wstring key = profileKey + L"\\" + hex;
                if (_wcsicmp(BinaryText(key, list.dll).c_str(), L"SHMSP.DLL") != 0) {
                    continue;
                }
                removals.push_back({profile, list.kind, key});
                std::wstring client = ClientKeyOf(BinaryText(key, L"001f6700"));
                CRegKey clientKey;
                if (list.clientKeys && !client.empty() &&
                    clientKey.Open(HKEY_CURRENT_USER, (std::wstring(kClientRoot) + L"\\" + client).c_str(),
                                   KEY_READ) == ERROR_SUCCESS) {
                    removals.push_back(
                        {profile, "client key", std::wstring(kClientRoot) + L"\\" + client + L"\\Profiles"});
                }
            }
        }
    }
    std::string array = "[";
    if (!invocation.json) {
        std::printf("Dry run: the cleanup would remove %lu key(s) and changes nothing now.\n",
                    static_cast<unsigned long>(removals.size()));
    }
    for (const Removal& removal : removals) {
        if (invocation.json) {
            JsonObject item;
            item.Text("profile", Utf8(removal.profile))
                .Text("kind", removal.kind)
                .Text("key", Utf8(removal.key));
            array += (array.size() > 1 ? "," : "") + item.Done();
        } else {
            std::printf("  %s: %s HKCU\\%s\n", Utf8(removal.profile).c_str(), removal.kind,
                        Utf8(removal.key).c_str());
        }
    }
    if (invocation.json) {
        std::printf(
            "%s\n",
            JsonObject().Bool("ok", true).Bool("dryRun", true).Raw("removals", array + "]").Done().c_str());
    }
    return kExitSuccess;
}

int Cleanup(const Invocation& invocation) {
    std::vector<std::wstring> profiles;
    CRegKey root;
    if (root.Open(HKEY_CURRENT_USER, kProfilesRoot, KEY_READ) == ERROR_SUCCESS) {
        root.EnumKeys(profiles);
    }
    std::vector<std::pair<long long, long long>> before;
    for (const std::wstring& p : profiles) {
        before.push_back(ListLengths(p));
    }
    SHMSPConfig::RemoveSHMSPFromRegistryProfiles();
    std::string array = "[";
    for (size_t i = 0; i < profiles.size(); ++i) {
        auto after = ListLengths(profiles[i]);
        if (invocation.json) {
            JsonObject item;
            item.Text("profile", Utf8(profiles[i])).Number("servicesBefore", before[i].first);
            item.Number("servicesAfter", after.first).Number("storeProvidersBefore", before[i].second);
            item.Number("storeProvidersAfter", after.second);
            array += (array.size() > 1 ? "," : "") + item.Done();
        } else {
            std::printf("%s: services %lld -> %lld, store providers %lld -> %lld\n",
                        Utf8(profiles[i]).c_str(), before[i].first, after.first, before[i].second,
                        after.second);
        }
    }
    if (invocation.json) {
        JsonObject json;
        json.Bool("ok", true).Raw("profiles", array + "]");
        std::printf("%s\n", json.Done().c_str());
    } else if (profiles.empty()) {
        std::printf("No MAPI profiles.\n");
    }
    return kExitSuccess;
}

int ParseOptions(const Invocation& invocation, Options& options) {
    const Command& command = FindCommand(L"hoardview");
    size_t i = 0;
    if (!invocation.args.empty() && invocation.args[0][0] != L'-') {
        options.verb = invocation.args[i++];
    }
    if (options.verb != L"list" && options.verb != L"add" && options.verb != L"remove" &&
        options.verb != L"cleanup") {
        return ReportBadUsage(invocation, command,
                              "unknown hoardview command \"" + Utf8(options.verb) + "\"");
    }
    for (; i < invocation.args.size(); ++i) {
        const std::wstring& arg = invocation.args[i];
        std::wstring* value = arg == L"--profile" ? &options.profile
                              : arg == L"--key"   ? &options.mdcKey
                              : arg == L"--name"  ? &options.displayName
                                                  : nullptr;
        if (value != nullptr) {
            if (++i == invocation.args.size()) {
                return ReportBadUsage(invocation, command, Utf8(arg) + " needs a value");
            }
            *value = invocation.args[i];
        } else if (arg == L"--keep-config") {
            options.keepConfig = true;
        } else if (arg == L"--dry-run" && options.verb == L"cleanup") {
            options.dryRun = true;
        } else if (!arg.empty() && arg[0] != L'-' && options.mdcPath.empty()) {
            options.mdcPath = arg;
        } else {
            return ReportBadUsage(invocation, command, "unexpected \"" + Utf8(arg) + "\"");
        }
    }
    bool needsPath = options.verb == L"add" || options.verb == L"remove";
    if (needsPath != !options.mdcPath.empty()) {
        return ReportBadUsage(invocation, command,
                              needsPath ? "hoardview " + Utf8(options.verb) + " needs an MDC path"
                                        : "hoardview " + Utf8(options.verb) + " takes no MDC path");
    }
    return kExitSuccess;
}

} // namespace

int RunHoardview(const Invocation& invocation) {
    Options options;
    if (int rc = ParseOptions(invocation, options)) {
        return rc;
    }
    if (options.verb == L"cleanup") {
        return options.dryRun ? CleanupPlan(invocation) : Cleanup(invocation);
    }
    std::string what = "hoardview " + Utf8(options.verb);
    // The store key (and so each MDC's record) comes from the mail client's
    // session, shared as the product shares it.
    SharedMapiSession shared;
    try {
        CComPtr<IMAPISession> session;
        ULONG flags = MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_UNICODE;
        if (options.profile.empty()) {
            flags |= MAPI_USE_DEFAULT;
        }
        HRESULT hr =
            MAPILogonEx(0, options.profile.empty() ? nullptr : reinterpret_cast<LPTSTR>(&options.profile[0]),
                        nullptr, flags, &session);
        if (FAILED(hr)) {
            Failure failure;
            failure.what = "MAPILogonEx";
            failure.hr = hr;
            failure.message = MapiRegistered() ? std::string() : NoMapiText();
            return ReportFailure(invocation, failure);
        }
        return options.verb == L"list" ? List(invocation, session)
                                       : AddOrRemove(invocation, session, options);
    } catch (const _com_error& e) {
        return ReportFailure(invocation, what, e.Error());
    }
}

} // namespace hkdiag
