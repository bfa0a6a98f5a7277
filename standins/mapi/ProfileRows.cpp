// Rows and lookups over the UID lists of a profile, shared by the session
// and the admin objects.
#include "Profile.h"

namespace standin {
namespace profile {

void AppendSectionRows(const std::wstring& name, const std::vector<MAPIUID>& sections,
                       std::vector<PropBag>* rows,
                       const std::function<void(const MAPIUID&, PropBag*)>& extra) {
    for (const MAPIUID& uid : sections) {
        PropBag row;
        if (FAILED(ReadSection(name, uid, &row)))
            continue;
        row.Set(MakeBinary(PR_INSTANCE_KEY, uid.ab, 16));
        row.Set(MakeLong(PR_ROWID, static_cast<LONG>(rows->size())));
        if (extra)
            extra(uid, &row);
        rows->push_back(std::move(row));
    }
}

bool Lists(const std::wstring& name, const MAPIUID& section, ULONG tag, const MAPIUID& uid) {
    for (const MAPIUID& listed : ReadUidList(name, section, tag))
        if (memcmp(listed.ab, uid.ab, sizeof(uid.ab)) == 0)
            return true;
    return false;
}

} // namespace profile

LONG LongOf(const PropBag& bag, ULONG tag) {
    const SPropValue* v = bag.Find(tag);
    return v && PROP_TYPE(v->ulPropTag) == PT_LONG ? v->Value.l : 0;
}

} // namespace standin
