// Message stores served by the stand-in's providers.
#include "Profile.h"

namespace standin {

HRESULT OpenStore(const std::wstring&, const MAPIUID&, const PropBag&, ULONG, IMsgStore** out) {
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    return MAPI_E_NO_SUPPORT;
}

HRESULT PrepareStore(const PropBag&) {
    return S_OK;
}

} // namespace standin
