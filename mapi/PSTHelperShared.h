// What the PST store helper and its growth-policy exemption share: the list
// of living helpers with the lock that guards it and every helper's store
// reference, and the one-property read both use.
#pragma once

#include "include/hearthkit/AutoPtrWithFreePolicy.h"
#include "include/hearthkit/HkLock.h"
#include "include/hearthkit/MAPILoader.h"
#include "mapi/MapiExtras.h"

class CDesktopPSTHelperBase;

namespace hk {
namespace pst {

using PropBuffer = AutoPtrWithFreePolicy<SPropValue, MAPIFreeBufferPolicy>;

// Held while a helper is listed or unlisted, while its store reference is
// set or taken away, and for the whole of a growth-policy callback, so that
// the provider's thread never meets a helper or a store that is going.
CHkCriticalSection& HelperLock();

void AddLiveHelper(const CDesktopPSTHelperBase* helper);
void RemoveLiveHelper(const CDesktopPSTHelperBase* helper);

// GetProps for one tag (flags 0). The value may come back as PT_ERROR with
// MAPI_W_ERRORS_RETURNED.
inline HRESULT GetOneProp(IMAPIProp* object, ULONG tag, PropBuffer& value) {
    SizedSPropTagArray(1, tags) = {1, {tag}};
    ULONG count = 0;
    return object->GetProps(hk::mapi::TagArray(tags), 0, &count, value.put());
}

} // namespace pst
} // namespace hk
