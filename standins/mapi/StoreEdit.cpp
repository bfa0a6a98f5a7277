// Store content operations beyond the basic ones: named-property ids back
// to their names, and folder deletion with what the folder holds.
#include "StoreData.h"

#include <set>

namespace standin {
namespace {

// The names of each tag, copied into one MAPI buffer under parent.
HRESULT CopyName(const NamedKey& key, void* parent, MAPINAMEID** out) {
    MAPINAMEID* name = nullptr;
    GUID* guid = nullptr;
    SCODE sc = AllocateMore(sizeof(MAPINAMEID), parent, reinterpret_cast<void**>(&name));
    if (SUCCEEDED(sc))
        sc = AllocateMore(sizeof(GUID), parent, reinterpret_cast<void**>(&guid));
    if (FAILED(sc))
        return sc;
    *guid = key.guid;
    name->lpguid = guid;
    name->ulKind = key.kind;
    if (key.kind == MNID_ID) {
        name->Kind.lID = key.id;
    } else {
        const ULONG bytes = static_cast<ULONG>((key.name.size() + 1) * sizeof(wchar_t));
        sc = AllocateMore(bytes, parent, reinterpret_cast<void**>(&name->Kind.lpwstrName));
        if (FAILED(sc))
            return sc;
        memcpy(name->Kind.lpwstrName, key.name.c_str(), bytes);
    }
    *out = name;
    return S_OK;
}

} // namespace

// With *tags null, every name of the store (of guid's set when given) and
// its tag in a new *tags the caller frees; otherwise the names of the tags
// given, a null entry (and MAPI_W_ERRORS_RETURNED) for an id that names
// nothing.
HRESULT StoreData::IdsToNames(LPSPropTagArray* tags, const GUID* guid, ULONG, ULONG* count,
                              LPMAPINAMEID** out) {
    if (!tags || !count || !out)
        return MAPI_E_INVALID_PARAMETER;
    std::vector<ULONG> wanted;
    const bool listAll = *tags == nullptr;
    if (listAll) {
        for (const auto& n : names)
            if (!guid || IsEqualGUID(*guid, n.first.guid))
                wanted.push_back(PROP_TAG(PT_UNSPECIFIED, n.second));
    } else {
        wanted.assign((*tags)->aulPropTag, (*tags)->aulPropTag + (*tags)->cValues);
    }
    const ULONG n = static_cast<ULONG>(wanted.size());
    Buffer<MAPINAMEID*> result;
    SCODE sc = AllocateBuffer(sizeof(MAPINAMEID*) * (n ? n : 1), reinterpret_cast<void**>(result.put()));
    Buffer<SPropTagArray> listed;
    if (SUCCEEDED(sc) && listAll)
        sc = AllocateBuffer(sizeof(ULONG) * (n + 1), reinterpret_cast<void**>(listed.put()));
    if (FAILED(sc))
        return sc;
    bool missing = false;
    for (ULONG i = 0; i < n; ++i) {
        result.get()[i] = nullptr;
        const NamedKey* key = nullptr;
        for (const auto& named : names)
            if (named.second == PROP_ID(wanted[i]) && PROP_ID(wanted[i]) >= 0x8000)
                key = &named.first;
        if (!key) {
            missing = true;
            continue;
        }
        if (FAILED(sc = CopyName(*key, result.get(), &result.get()[i])))
            return sc;
    }
    if (listAll) {
        listed->cValues = n;
        std::copy(wanted.begin(), wanted.end(), listed->aulPropTag);
        *tags = listed.detach();
    }
    *count = n;
    *out = result.detach();
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

// A folder that holds messages or folders goes only with DEL_MESSAGES or
// DEL_FOLDERS (MAPI_E_HAS_MESSAGES, MAPI_E_HAS_FOLDERS otherwise), and then
// with everything below it. The store's own folders stay.
HRESULT StoreData::RemoveFolder(ULONG parent, ULONG size, const ENTRYID* eid, ULONG flags) {
    BYTE type = 0;
    ULONG id = 0;
    if (!eid || !ParseEntryId(size, eid, &type, &id) || type != kEntryFolder)
        return MAPI_E_INVALID_ENTRYID;
    auto it = folders.find(id);
    if (it == folders.end() || it->second.parent != parent || id == parent)
        return MAPI_E_NOT_FOUND;
    if (id == kRootFolder || id == kIpmSubtree || id == kInbox || id == kDeletedItems)
        return MAPI_E_NO_ACCESS;
    std::set<ULONG> doomed{id};
    for (bool grew = true; grew;) { // every folder below id
        grew = false;
        for (const auto& f : folders)
            if (doomed.count(f.second.parent) && doomed.insert(f.first).second)
                grew = true;
    }
    bool hasMessages = false;
    for (const auto& m : messages)
        hasMessages = hasMessages || doomed.count(m.second.folder) != 0;
    if (doomed.size() > 1 && !(flags & DEL_FOLDERS))
        return MAPI_E_HAS_FOLDERS;
    if (hasMessages && !(flags & DEL_MESSAGES))
        return MAPI_E_HAS_MESSAGES;
    for (auto m = messages.begin(); m != messages.end();)
        m = doomed.count(m->second.folder) ? messages.erase(m) : std::next(m);
    for (ULONG f : doomed)
        folders.erase(f);
    return Save();
}

} // namespace standin
