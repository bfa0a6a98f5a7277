// Store content and its file. The file is the stand-in's own format:
// "HKSTORE1", then the counters, the store's properties, the named property
// ids, the folders and the messages with their attachments; each property
// as tag, size and the bytes of EncodeValue.
#include "StoreData.h"

#include <cstdio>

namespace standin {
namespace {

const char kMagic[8] = {'H', 'K', 'S', 'T', 'O', 'R', 'E', '1'};

std::mutex g_openLock;
std::map<std::wstring, std::weak_ptr<StoreData>> g_open;

class Writer {
public:
    void U32(ULONG v) { Bytes(&v, 4); }
    void Bytes(const void* p, size_t n) {
        const BYTE* b = static_cast<const BYTE*>(p);
        m_data.insert(m_data.end(), b, b + n);
    }
    void Bag(const PropBag& bag) {
        std::vector<std::pair<ULONG, std::vector<BYTE>>> values;
        for (const auto& p : bag.All()) {
            std::vector<BYTE> data;
            if (EncodeValue(*p.second.get(), &data))
                values.emplace_back(p.second.tag(), std::move(data));
        }
        U32(static_cast<ULONG>(values.size()));
        for (const auto& v : values) {
            U32(v.first);
            U32(static_cast<ULONG>(v.second.size()));
            Bytes(v.second.data(), v.second.size());
        }
    }
    const std::vector<BYTE>& Data() const { return m_data; }

private:
    std::vector<BYTE> m_data;
};

class Reader {
public:
    explicit Reader(std::vector<BYTE> data) : m_data(std::move(data)) {}
    bool U32(ULONG* v) { return Bytes(v, 4); }
    bool Bytes(void* p, size_t n) {
        if (m_pos + n > m_data.size())
            return false;
        memcpy(p, m_data.data() + m_pos, n);
        m_pos += n;
        return true;
    }
    bool Bag(PropBag* bag) {
        ULONG count = 0;
        if (!U32(&count))
            return false;
        for (ULONG i = 0; i < count; ++i) {
            ULONG tag = 0, size = 0;
            if (!U32(&tag) || !U32(&size) || m_pos + size > m_data.size())
                return false;
            std::vector<BYTE> value(m_data.begin() + m_pos, m_data.begin() + m_pos + size);
            m_pos += size;
            DecodeValue(tag, value, bag);
        }
        return true;
    }

private:
    std::vector<BYTE> m_data;
    size_t m_pos = 0;
};

} // namespace

bool NamedKey::operator<(const NamedKey& o) const {
    int g = memcmp(&guid, &o.guid, sizeof(GUID));
    if (g != 0)
        return g < 0;
    if (kind != o.kind)
        return kind < o.kind;
    if (kind == MNID_ID)
        return id < o.id;
    return name < o.name;
}

HRESULT StoreData::Open(const std::wstring& path, std::shared_ptr<StoreData>* out) {
    if (path.empty())
        return MAPI_E_UNCONFIGURED;
    std::lock_guard<std::mutex> lock(g_openLock);
    std::wstring key = Lower(path);
    if (auto existing = g_open[key].lock()) {
        *out = existing;
        return S_OK;
    }
    auto data = std::make_shared<StoreData>();
    data->path = path;
    HRESULT hr = data->Load();
    if (FAILED(hr))
        return hr;
    g_open[key] = data;
    *out = data;
    return S_OK;
}

void StoreData::Initialise() {
    MAPIUID recordKey = NewUid();
    props.Set(MakeBinary(PR_RECORD_KEY, recordKey.ab, 16));
    struct Folder {
        ULONG id, parent;
        const wchar_t* name;
    } wellKnown[] = {{kRootFolder, kRootFolder, L""},
                     {kIpmSubtree, kRootFolder, L"Top of Information Store"},
                     {kInbox, kIpmSubtree, L"Inbox"},
                     {kDeletedItems, kIpmSubtree, L"Deleted Items"}};
    for (const Folder& f : wellKnown) {
        FolderData folder;
        folder.id = f.id;
        folder.parent = f.parent;
        folder.props.Set(MakeUnicode(PR_DISPLAY_NAME_W, f.name));
        folders[f.id] = folder;
    }
}

HRESULT StoreData::Load() {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND)
            return HRESULT_FROM_WIN32(error);
        Initialise(); // a missing file is made
        return Save();
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    std::vector<BYTE> bytes(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    BOOL ok = bytes.empty() || ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    if (!ok || read != bytes.size())
        return MAPI_E_CORRUPT_DATA;
    Reader r(std::move(bytes));
    char magic[8];
    ULONG nextId = 0, nextNamed = 0, count = 0;
    if (!r.Bytes(magic, 8) || memcmp(magic, kMagic, 8) != 0 || !r.U32(&nextId) || !r.U32(&nextNamed) ||
        !r.Bag(&props))
        return MAPI_E_CORRUPT_DATA;
    m_nextId = nextId;
    m_nextNamed = static_cast<WORD>(nextNamed);
    if (!r.U32(&count))
        return MAPI_E_CORRUPT_DATA;
    for (ULONG i = 0; i < count; ++i) {
        NamedKey k{};
        ULONG id = 0, length = 0, propId = 0;
        if (!r.Bytes(&k.guid, sizeof(GUID)) || !r.U32(&k.kind) || !r.U32(&id) || !r.U32(&length))
            return MAPI_E_CORRUPT_DATA;
        k.id = static_cast<LONG>(id);
        k.name.resize(length);
        if ((length && !r.Bytes(&k.name[0], length * sizeof(wchar_t))) || !r.U32(&propId))
            return MAPI_E_CORRUPT_DATA;
        names[k] = static_cast<WORD>(propId);
    }
    if (!r.U32(&count))
        return MAPI_E_CORRUPT_DATA;
    for (ULONG i = 0; i < count; ++i) {
        FolderData f;
        if (!r.U32(&f.id) || !r.U32(&f.parent) || !r.Bag(&f.props))
            return MAPI_E_CORRUPT_DATA;
        folders[f.id] = f;
    }
    if (!r.U32(&count))
        return MAPI_E_CORRUPT_DATA;
    for (ULONG i = 0; i < count; ++i) {
        MessageData m;
        ULONG associated = 0, attachments = 0;
        if (!r.U32(&m.id) || !r.U32(&m.folder) || !r.U32(&associated) || !r.U32(&m.nextAttach) ||
            !r.Bag(&m.props) || !r.U32(&attachments))
            return MAPI_E_CORRUPT_DATA;
        m.associated = associated != 0;
        for (ULONG a = 0; a < attachments; ++a) {
            AttachmentData att;
            if (!r.U32(&att.num) || !r.Bag(&att.props))
                return MAPI_E_CORRUPT_DATA;
            m.attachments.push_back(att);
        }
        messages[m.id] = m;
    }
    return S_OK;
}

HRESULT StoreData::Save() {
    Writer w;
    w.Bytes(kMagic, 8);
    w.U32(m_nextId);
    w.U32(m_nextNamed);
    w.Bag(props);
    w.U32(static_cast<ULONG>(names.size()));
    for (const auto& n : names) {
        w.Bytes(&n.first.guid, sizeof(GUID));
        w.U32(n.first.kind);
        w.U32(static_cast<ULONG>(n.first.id));
        w.U32(static_cast<ULONG>(n.first.name.size()));
        w.Bytes(n.first.name.data(), n.first.name.size() * sizeof(wchar_t));
        w.U32(n.second);
    }
    w.U32(static_cast<ULONG>(folders.size()));
    for (const auto& f : folders) {
        w.U32(f.second.id);
        w.U32(f.second.parent);
        w.Bag(f.second.props);
    }
    w.U32(static_cast<ULONG>(messages.size()));
    for (const auto& m : messages) {
        w.U32(m.second.id);
        w.U32(m.second.folder);
        w.U32(m.second.associated ? 1 : 0);
        w.U32(m.second.nextAttach);
        w.Bag(m.second.props);
        w.U32(static_cast<ULONG>(m.second.attachments.size()));
        for (const AttachmentData& a : m.second.attachments) {
            w.U32(a.num);
            w.Bag(a.props);
        }
    }
    // Written beside the file and moved over it, so a store is never half
    // written.
    std::wstring temp = path + L".tmp";
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return HRESULT_FROM_WIN32(GetLastError());
    DWORD written = 0;
    BOOL ok = WriteFile(file, w.Data().data(), static_cast<DWORD>(w.Data().size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || !MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DWORD error = GetLastError();
        DeleteFileW(temp.c_str());
        return HRESULT_FROM_WIN32(error);
    }
    return S_OK;
}

std::vector<BYTE> StoreData::EntryId(BYTE type, ULONG id) const {
    std::vector<BYTE> eid(4, 0);
    const SPropValue* key = props.Find(PR_RECORD_KEY);
    eid.insert(eid.end(), key->Value.bin.lpb, key->Value.bin.lpb + 16);
    eid.push_back(type);
    const BYTE* b = reinterpret_cast<const BYTE*>(&id);
    eid.insert(eid.end(), b, b + 4);
    return eid;
}

bool StoreData::ParseEntryId(ULONG size, const ENTRYID* eid, BYTE* type, ULONG* id) const {
    if (!eid || size != 25 || IsBadReadPtr(eid, size))
        return false;
    const BYTE* b = reinterpret_cast<const BYTE*>(eid);
    const SPropValue* key = props.Find(PR_RECORD_KEY);
    if (memcmp(b + 4, key->Value.bin.lpb, 16) != 0)
        return false;
    *type = b[20];
    memcpy(id, b + 21, 4);
    return true;
}

HRESULT StoreData::NamesToIds(ULONG count, LPMAPINAMEID* input, ULONG flags, LPSPropTagArray* out) {
    if (!out || !count || !input)
        return MAPI_E_INVALID_PARAMETER; // listing every name is not offered
    SPropTagArray* tags = nullptr;
    HRESULT hr = AllocateBuffer(sizeof(ULONG) * (count + 1), reinterpret_cast<void**>(&tags));
    if (FAILED(hr))
        return hr;
    tags->cValues = count;
    bool missing = false;
    bool created = false;
    for (ULONG i = 0; i < count; ++i) {
        const MAPINAMEID* n = input[i];
        tags->aulPropTag[i] = PROP_TAG(PT_ERROR, 0);
        if (!n || !n->lpguid || (n->ulKind != MNID_ID && n->ulKind != MNID_STRING) ||
            (n->ulKind == MNID_STRING && !n->Kind.lpwstrName)) {
            missing = true;
            continue;
        }
        NamedKey key{*n->lpguid, n->ulKind, n->ulKind == MNID_ID ? n->Kind.lID : 0,
                     n->ulKind == MNID_STRING ? n->Kind.lpwstrName : L""};
        auto it = names.find(key);
        if (it == names.end()) {
            if (!(flags & MAPI_CREATE) || m_nextNamed == 0xFFFF) {
                missing = true;
                continue;
            }
            it = names.emplace(key, m_nextNamed++).first;
            created = true;
        }
        tags->aulPropTag[i] = PROP_TAG(PT_UNSPECIFIED, it->second);
    }
    if (created && FAILED(hr = Save())) {
        FreeBuffer(tags);
        return hr;
    }
    *out = tags;
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

} // namespace standin
