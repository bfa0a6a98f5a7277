// Profiles in the registry, the service catalog and adding or removing
// services.
#include "Profile.h"

#include <mutex>
#include <set>

namespace standin {
namespace profile {

const wchar_t kRoot[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
const MAPIUID kGlobalSection = {
    {0x13, 0xDB, 0xB0, 0xC8, 0xAA, 0x05, 0x10, 0x1A, 0x9B, 0xB0, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A}};
const MAPIUID kServicesSection = {
    {0x92, 0x07, 0xF3, 0xE0, 0xA3, 0xB1, 0x10, 0x19, 0x90, 0x8B, 0x08, 0x00, 0x2B, 0x2A, 0x56, 0xC2}};

namespace {

std::mutex g_lock;
std::map<std::wstring, int> g_sessions; // lower-case name -> live sessions
std::set<std::wstring> g_pendingDelete;

class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (m_key)
            RegCloseKey(m_key);
    }
    HKEY* put() { return &m_key; }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

std::wstring ProfilePath(const std::wstring& name) {
    return std::wstring(kRoot) + L"\\" + name;
}
std::wstring SectionPath(const std::wstring& name, const MAPIUID& section) {
    return ProfilePath(name) + L"\\" + UidHex(section);
}

// Value names put the type first: PR_SERVICE_DLL_NAME_W (0x3D0A001F) is
// "001f3d0a".
std::wstring TagName(ULONG tag) {
    tag = (PROP_TYPE(tag) << 16) | PROP_ID(tag);
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text(8, L'0');
    for (int i = 7; i >= 0; --i, tag >>= 4)
        text[i] = digits[tag & 15];
    return text;
}

bool Pending(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_pendingDelete.count(Lower(name)) != 0;
}

} // namespace

bool Exists(const std::wstring& name) {
    if (name.empty() || Pending(name))
        return false;
    Key key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, ProfilePath(name).c_str(), 0, KEY_READ, key.put()) ==
           ERROR_SUCCESS;
}

bool Alive(const std::wstring& name) {
    Key key;
    return !name.empty() && RegOpenKeyExW(HKEY_CURRENT_USER, ProfilePath(name).c_str(), 0, KEY_READ,
                                          key.put()) == ERROR_SUCCESS;
}

HRESULT Create(const std::wstring& name) {
    if (name.empty() || name.find(L'\\') != std::wstring::npos)
        return MAPI_E_INVALID_PARAMETER;
    if (Exists(name))
        return MAPI_E_NO_ACCESS; // MAPI refuses a duplicate name this way
    Key key;
    DWORD disposition = 0;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, ProfilePath(name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key.put(), &disposition);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    MAPIUID profileUid = NewUid();
    Prop values[] = {MakeUnicode(PR_PROFILE_NAME_W, name.c_str()),
                     MakeBinary(PR_SERVICE_UID, profileUid.ab, sizeof(profileUid.ab))};
    for (const Prop& p : values) {
        HRESULT hr = WriteProps(name, kGlobalSection, p.get(), 1);
        if (FAILED(hr))
            return hr;
    }
    HRESULT hr = WriteUidList(name, kServicesSection, PR_SERVICES, {});
    if (SUCCEEDED(hr))
        hr = WriteUidList(name, kServicesSection, PR_STORE_PROVIDERS, {});
    return hr;
}

HRESULT Delete(const std::wstring& name) {
    if (name.empty())
        return MAPI_E_INVALID_PARAMETER;
    if (!Exists(name))
        return MAPI_E_NOT_FOUND;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        if (g_sessions[Lower(name)] > 0) {
            g_pendingDelete.insert(Lower(name));
            return S_OK;
        }
    }
    LONG rc = RegDeleteTreeW(HKEY_CURRENT_USER, ProfilePath(name).c_str());
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    if (Lower(DefaultName()) == Lower(name)) {
        Key root;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kRoot, 0, KEY_SET_VALUE, root.put()) == ERROR_SUCCESS)
            RegDeleteValueW(root.get(), L"DefaultProfile");
    }
    return S_OK;
}

void SessionStarted(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(g_lock);
    ++g_sessions[Lower(name)];
}

void SessionEnded(const std::wstring& name) {
    bool erase = false;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        std::wstring lower = Lower(name);
        if (--g_sessions[lower] <= 0) {
            g_sessions.erase(lower);
            erase = g_pendingDelete.erase(lower) != 0;
        }
    }
    if (erase)
        RegDeleteTreeW(HKEY_CURRENT_USER, ProfilePath(name).c_str());
}

std::vector<std::wstring> Names() {
    std::vector<std::wstring> names;
    Key root;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRoot, 0, KEY_READ, root.put()) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(root.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (!Pending(name))
            names.push_back(name);
    }
    return names;
}

std::wstring DefaultName() {
    wchar_t value[256] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, kRoot, L"DefaultProfile", RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return std::wstring();
    return value;
}

HRESULT SetDefault(const std::wstring& name) {
    if (!Exists(name))
        return MAPI_E_NOT_FOUND;
    Key root;
    LONG rc =
        RegCreateKeyExW(HKEY_CURRENT_USER, kRoot, 0, nullptr, 0, KEY_SET_VALUE, nullptr, root.put(), nullptr);
    if (rc == ERROR_SUCCESS)
        rc = RegSetValueExW(root.get(), L"DefaultProfile", 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(name.c_str()),
                            static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
    return HRESULT_FROM_WIN32(rc);
}

HRESULT ReadSection(const std::wstring& name, const MAPIUID& section, PropBag* bag) {
    if (!Exists(name) && !Pending(name))
        return MAPI_E_NOT_FOUND;
    Key key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SectionPath(name, section).c_str(), 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS)
        return S_OK;
    for (DWORD i = 0;; ++i) {
        wchar_t valueName[64];
        DWORD nameLength = 64;
        DWORD type = 0;
        DWORD size = 0;
        LONG rc = RegEnumValueW(key.get(), i, valueName, &nameLength, nullptr, &type, nullptr, &size);
        if (rc != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size);
        nameLength = 64;
        if (RegEnumValueW(key.get(), i, valueName, &nameLength, nullptr, &type, data.data(), &size) !=
            ERROR_SUCCESS)
            continue;
        data.resize(size);
        wchar_t* end = nullptr;
        ULONG swapped = wcstoul(valueName, &end, 16);
        if (wcslen(valueName) != 8 || *end)
            continue; // not a property value
        ULONG tag = PROP_TAG(swapped >> 16, swapped & 0xFFFF);
        DecodeValue(tag, data, bag);
    }
    return S_OK;
}

HRESULT WriteProps(const std::wstring& name, const MAPIUID& section, const SPropValue* values, ULONG count) {
    if (!Exists(name) && !Pending(name))
        return MAPI_E_NOT_FOUND;
    Key key;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, SectionPath(name, section).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    for (ULONG i = 0; i < count; ++i) {
        std::vector<BYTE> data;
        if (!EncodeValue(values[i], &data))
            return MAPI_E_BAD_VALUE;
        // Another type of the same id goes: one value per property id.
        DeleteProp(name, section, values[i].ulPropTag);
        rc = RegSetValueExW(key.get(), TagName(values[i].ulPropTag).c_str(), 0, REG_BINARY, data.data(),
                            static_cast<DWORD>(data.size()));
        if (rc != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(rc);
    }
    return S_OK;
}

HRESULT DeleteProp(const std::wstring& name, const MAPIUID& section, ULONG tag) {
    PropBag bag;
    HRESULT hr = ReadSection(name, section, &bag);
    if (FAILED(hr))
        return hr;
    const SPropValue* have = bag.Find(tag);
    if (!have)
        return S_OK;
    Key key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SectionPath(name, section).c_str(), 0, KEY_SET_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return S_OK;
    RegDeleteValueW(key.get(), TagName(have->ulPropTag).c_str());
    return S_OK;
}

HRESULT DeleteSection(const std::wstring& name, const MAPIUID& section) {
    LONG rc = RegDeleteTreeW(HKEY_CURRENT_USER, SectionPath(name, section).c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}

std::vector<MAPIUID> ReadUidList(const std::wstring& name, const MAPIUID& section, ULONG tag) {
    std::vector<MAPIUID> uids;
    PropBag bag;
    if (FAILED(ReadSection(name, section, &bag)))
        return uids;
    const SPropValue* v = bag.Find(tag);
    if (!v || PROP_TYPE(v->ulPropTag) != PT_BINARY)
        return uids;
    for (ULONG off = 0; off + sizeof(MAPIUID) <= v->Value.bin.cb; off += sizeof(MAPIUID)) {
        MAPIUID uid;
        memcpy(uid.ab, v->Value.bin.lpb + off, sizeof(uid.ab));
        uids.push_back(uid);
    }
    return uids;
}

HRESULT WriteUidList(const std::wstring& name, const MAPIUID& section, ULONG tag,
                     const std::vector<MAPIUID>& uids) {
    Prop list = MakeBinary(tag, uids.empty() ? nullptr : uids.data(),
                           static_cast<ULONG>(uids.size() * sizeof(MAPIUID)));
    return WriteProps(name, section, list.get(), 1);
}

} // namespace profile

namespace {

const BYTE kPstProvider[16] = {0x4E, 0x49, 0x54, 0x41, 0xF9, 0xBF, 0xB8, 0x01,
                               0x00, 0xAA, 0x00, 0x37, 0xD9, 0x6E, 0x00, 0x00};
const BYTE kPrimaryProvider[16] = {0x54, 0x94, 0xA1, 0xC0, 0x29, 0x7F, 0x10, 0x1B,
                                   0xA5, 0x87, 0x08, 0x00, 0x2B, 0x2A, 0x25, 0x17};
const BYTE kPublicProvider[16] = {0x78, 0xB2, 0xFA, 0x70, 0xAF, 0xF7, 0x11, 0xCD,
                                  0x9B, 0xC8, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A};
// The SHMSP provider's store UID is the product's affair; this one is the
// stand-in's own.
const BYTE kShmspProvider[16] = {0x53, 0x48, 0x4D, 0x53, 0x50, 0x00, 0x4D, 0x44,
                                 0x43, 0x00, 0x53, 0x54, 0x41, 0x4E, 0x44, 0x49};

const std::vector<ServiceDef>& Catalog() {
    static const std::vector<ServiceDef> catalog = {
        {L"MSUPST MS",
         L"MSPST.DLL",
         L"Personal Folders",
         {{L"MSPST.DLL", L"Personal Folders", StoreKindPstUnicode, kPstProvider}}},
        {L"MSPST MS",
         L"MSPST.DLL",
         L"Personal Folders",
         {{L"MSPST.DLL", L"Personal Folders", StoreKindPstAnsi, kPstProvider}}},
        {L"SHMSP",
         L"SHMSP.DLL",
         L"Hoardview",
         {{L"SHMSP.DLL", L"Hoardview", StoreKindShmsp, kShmspProvider}}},
        {L"MSEMS",
         L"EMSMDB.DLL",
         L"Microsoft Exchange",
         {{L"EMSMDB.DLL", L"Mailbox", StoreKindMailboxPrimary, kPrimaryProvider},
          {L"EMSMDB.DLL", L"Public Folders", StoreKindPublicFolders, kPublicProvider}}},
    };
    return catalog;
}

} // namespace

const ServiceDef* FindService(const std::wstring& name) {
    for (const ServiceDef& def : Catalog())
        if (_wcsicmp(def.name, name.c_str()) == 0)
            return &def;
    return nullptr;
}

HRESULT AddStoreProvider(const std::wstring& profileName, const MAPIUID& serviceUid, const ServiceDef& def,
                         const ProviderDef& provider, MAPIUID* providerUid) {
    MAPIUID uid = NewUid();
    Prop values[] = {
        MakeUnicode(PR_PROVIDER_DLL_NAME_W, provider.dllName),
        MakeUnicode(PR_SERVICE_NAME_W, def.name),
        MakeUnicode(PR_DISPLAY_NAME_W, provider.displayName),
        MakeBinary(PR_SERVICE_UID, serviceUid.ab, 16),
        MakeBinary(PR_PROVIDER_UID, uid.ab, 16),
        MakeBinary(PR_MDB_PROVIDER, provider.mdbProvider, 16),
        MakeLong(PR_RESOURCE_TYPE, MAPI_STORE_PROVIDER),
        MakeLong(PR_RESOURCE_FLAGS, 0),
        MakeLong(PR_STANDIN_STORE_KIND, provider.kind),
    };
    for (const Prop& p : values) {
        HRESULT hr = profile::WriteProps(profileName, uid, p.get(), 1);
        if (FAILED(hr))
            return hr;
    }
    auto own = profile::ReadUidList(profileName, serviceUid, PR_STORE_PROVIDERS);
    own.push_back(uid);
    HRESULT hr = profile::WriteUidList(profileName, serviceUid, PR_STORE_PROVIDERS, own);
    if (FAILED(hr))
        return hr;
    auto all = profile::ReadUidList(profileName, profile::kServicesSection, PR_STORE_PROVIDERS);
    all.push_back(uid);
    hr = profile::WriteUidList(profileName, profile::kServicesSection, PR_STORE_PROVIDERS, all);
    if (SUCCEEDED(hr) && providerUid)
        *providerUid = uid;
    return hr;
}

HRESULT AddService(const std::wstring& profileName, const ServiceDef& def, const std::wstring& displayName,
                   MAPIUID* serviceUid) {
    MAPIUID uid = NewUid();
    Prop values[] = {
        MakeUnicode(PR_SERVICE_NAME_W, def.name),
        MakeUnicode(PR_SERVICE_DLL_NAME_W, def.dllName),
        MakeUnicode(PR_DISPLAY_NAME_W, displayName.empty() ? def.displayName : displayName.c_str()),
        MakeBinary(PR_SERVICE_UID, uid.ab, 16),
        MakeLong(PR_RESOURCE_FLAGS, 0),
    };
    for (const Prop& p : values) {
        HRESULT hr = profile::WriteProps(profileName, uid, p.get(), 1);
        if (FAILED(hr))
            return hr;
    }
    auto services = profile::ReadUidList(profileName, profile::kServicesSection, PR_SERVICES);
    services.push_back(uid);
    HRESULT hr = profile::WriteUidList(profileName, profile::kServicesSection, PR_SERVICES, services);
    for (const ProviderDef& provider : def.providers) {
        if (FAILED(hr))
            return hr;
        hr = AddStoreProvider(profileName, uid, def, provider, nullptr);
    }
    if (SUCCEEDED(hr) && serviceUid)
        *serviceUid = uid;
    return hr;
}

namespace {

void RemoveUid(std::vector<MAPIUID>* list, const MAPIUID& uid) {
    for (auto it = list->begin(); it != list->end();)
        it = memcmp(it->ab, uid.ab, 16) == 0 ? list->erase(it) : it + 1;
}

} // namespace

HRESULT RemoveService(const std::wstring& profileName, const MAPIUID& serviceUid) {
    auto services = profile::ReadUidList(profileName, profile::kServicesSection, PR_SERVICES);
    size_t before = services.size();
    RemoveUid(&services, serviceUid);
    if (services.size() == before)
        return MAPI_E_NOT_FOUND;
    HRESULT hr = profile::WriteUidList(profileName, profile::kServicesSection, PR_SERVICES, services);
    if (FAILED(hr))
        return hr;
    auto stores = profile::ReadUidList(profileName, profile::kServicesSection, PR_STORE_PROVIDERS);
    for (const MAPIUID& provider : profile::ReadUidList(profileName, serviceUid, PR_STORE_PROVIDERS)) {
        RemoveUid(&stores, provider);
        profile::DeleteSection(profileName, provider);
    }
    hr = profile::WriteUidList(profileName, profile::kServicesSection, PR_STORE_PROVIDERS, stores);
    profile::DeleteSection(profileName, serviceUid);
    return hr;
}

namespace {
// Marks store entry ids of the stand-in.
const BYTE kEntryIdMark[16] = {0x8C, 0x1E, 0x53, 0x74, 0x61, 0x6E, 0x64, 0x69,
                               0x6E, 0x4D, 0x44, 0x42, 0x00, 0x01, 0x00, 0x00};
} // namespace

std::vector<BYTE> MakeStoreEntryId(const MAPIUID& provider) {
    std::vector<BYTE> id(4, 0);
    id.insert(id.end(), kEntryIdMark, kEntryIdMark + 16);
    id.insert(id.end(), provider.ab, provider.ab + 16);
    return id;
}

bool ParseStoreEntryId(ULONG size, const ENTRYID* id, MAPIUID* provider) {
    if (!id || size != 36)
        return false;
    const BYTE* b = reinterpret_cast<const BYTE*>(id);
    if (memcmp(b + 4, kEntryIdMark, 16) != 0)
        return false;
    memcpy(provider->ab, b + 20, 16);
    return true;
}

} // namespace standin
