// The client store key as the indexing operations take it.
#pragma once

#include "CDesktopLog.h"
#include "HearthkitConfig.h"

namespace hk {
namespace wds {

// The store key path (owned by HearthkitConfig), or null after writing
// failText with the lookup's HRESULT at LOG_ERROR. lookup, when given,
// receives that HRESULT either way.
inline const wchar_t* StoreKeyOrLog(CDesktopLog& log, HRESULT* lookup = nullptr,
                                    const char* failText = "The profile store key could not be found") {
    wchar_t* storeKey = nullptr;
    HRESULT hr = HearthkitConfig::GetClientStoreKey(&storeKey);
    if (lookup != nullptr) {
        *lookup = hr;
    }
    if (FAILED(hr)) {
        log.LogHR(LOG_ERROR, failText, hr);
        return nullptr;
    }
    return storeKey;
}

} // namespace wds
} // namespace hk
