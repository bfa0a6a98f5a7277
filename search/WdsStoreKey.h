// The client store key as the indexing operations take it.
#pragma once

#include "CDesktopLog.h"
#include "HearthkitConfig.h"
#include "config/ConfigMapi.h"

#include <string>

namespace hk {
namespace wds {

// A copy of the store key path in storeKey (a CloseDown on another thread
// cannot free it under the caller), or false after writing failText with
// the lookup's HRESULT at LOG_ERROR. lookup, when given, receives that
// HRESULT either way.
inline bool StoreKeyOrLog(CDesktopLog& log, std::wstring& storeKey, HRESULT* lookup = nullptr,
                          const char* failText = "The profile store key could not be found") {
    HRESULT hr = hk::config::KeyPathFor(CONFIG_VALUE_STORE, storeKey);
    if (lookup != nullptr) {
        *lookup = hr;
    }
    if (FAILED(hr)) {
        log.LogHR(LOG_ERROR, failText, hr);
        return false;
    }
    return true;
}

// The full path of a cache file under the store key path storeKey; false
// (logged) when the name is no plain file name or the key holds no usable
// "HLRootDirectory".
bool DBFullPathUnder(CDesktopLog& log, const std::wstring& storeKey, const CStringW& fileName,
                     CStringW& fullPath);

} // namespace wds
} // namespace hk
