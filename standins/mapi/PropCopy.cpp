// IMAPIProp::CopyTo and CopyProps for the store objects: the source's
// values, read with its own GetProps, are written with the destination's
// SetProps. Only properties are copied: attachments, recipients and folder
// contents stay where they are.
#include "Standin.h"

#include <set>

namespace standin {
namespace {

template <class T>
T* Query(IUnknown* object, REFIID iid) {
    void* out = nullptr;
    return SUCCEEDED(object->QueryInterface(iid, &out)) ? static_cast<T*>(out) : nullptr;
}

} // namespace

HRESULT CopyProperties(IMAPIProp* source, const SPropTagArray* include, const SPropTagArray* exclude,
                       LPCIID iid, void* dest, ULONG flags, LPSPropProblemArray* problems) {
    if (!iid || !dest)
        return MAPI_E_INVALID_PARAMETER;
    if (flags & ~(MAPI_MOVE | MAPI_NOREPLACE | MAPI_DIALOG | MAPI_DECLINE_OK))
        return MAPI_E_UNKNOWN_FLAGS;
    IUnknown* destUnknown = static_cast<IUnknown*>(dest);
    Ref<IMAPIProp> target(Query<IMAPIProp>(destUnknown, IID_IMAPIProp));
    if (!target)
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    Ref<IUnknown> self(Query<IUnknown>(source, IID_IUnknown));
    Ref<IUnknown> other(Query<IUnknown>(target.get(), IID_IUnknown));
    if (self.get() == other.get())
        return MAPI_E_NO_ACCESS; // an object cannot be copied onto itself

    std::set<ULONG> skipped; // property ids
    for (ULONG i = 0; exclude && i < exclude->cValues; ++i)
        skipped.insert(PROP_ID(exclude->aulPropTag[i]));
    if (flags & MAPI_NOREPLACE) {
        Buffer<SPropTagArray> present;
        if (SUCCEEDED(target->GetPropList(MAPI_UNICODE, present.put())) && present.get())
            for (ULONG i = 0; i < present->cValues; ++i)
                skipped.insert(PROP_ID(present->aulPropTag[i]));
    }

    ULONG count = 0;
    Buffer<SPropValue> held;
    HRESULT hr = source->GetProps(const_cast<SPropTagArray*>(include), MAPI_UNICODE, &count, held.put());
    if (FAILED(hr))
        return hr;
    const SPropValue* values = held.get();
    std::vector<SPropValue> chosen;
    std::vector<BYTE> movedRaw(sizeof(ULONG) * (count + 1));
    SPropTagArray* moved = reinterpret_cast<SPropTagArray*>(movedRaw.data());
    for (ULONG i = 0; i < count; ++i) {
        if (PROP_TYPE(values[i].ulPropTag) == PT_ERROR || skipped.count(PROP_ID(values[i].ulPropTag)))
            continue;
        chosen.push_back(values[i]);
        moved->aulPropTag[moved->cValues++] = values[i].ulPropTag;
    }
    hr = chosen.empty() ? S_OK : target->SetProps(static_cast<ULONG>(chosen.size()), chosen.data(), nullptr);
    if (SUCCEEDED(hr) && (flags & MAPI_MOVE) && moved->cValues)
        hr = source->DeleteProps(moved, nullptr);
    if (SUCCEEDED(hr) && problems)
        *problems = nullptr;
    return hr;
}

} // namespace standin
