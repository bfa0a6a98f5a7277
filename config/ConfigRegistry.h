// What the configuration's files share: the registry paths and the key path a
// ConfigValueType selects.
#pragma once

#include "HearthkitConfig.h"

#include <string>

namespace hk {
namespace config {

extern const wchar_t kClientRootPath[];

// The path under HKEY_CURRENT_USER that type selects: the client root path,
// or for CONFIG_VALUE_STORE the store key path (which may fail to derive).
HRESULT KeyPathFor(ConfigValueType type, std::wstring& path);

} // namespace config
} // namespace hk
