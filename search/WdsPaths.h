// The pure work of desktop-search indexing: splitting registry and file
// paths, forming the cache's file paths and request names, reading the WDS
// version text. No I/O.
#pragma once

#include <string>
#include <vector>

namespace hk {
namespace wds {

// The pieces of path between backslashes, empty pieces skipped.
std::vector<std::wstring> SplitPath(const std::wstring& path);

// root, a backslash unless root already ends with one, the store directory
// and a backslash: the directory that holds the store's database files.
std::wstring StoreDirectory(const std::wstring& root, const std::wstring& storeDir);

// The request name a recorded path stands for: "Hoardlocal" (whatever its
// case) for the whole cache, otherwise the path's last piece. False when
// the path has no piece.
bool RequestName(const std::wstring& path, std::wstring& name);

// The leading decimal number of a version text ("4.0.6001.16503" is 4.0,
// "2.6" is 2.6); 0.0 when the text does not start with one.
double ParseVersion(const wchar_t* text);

} // namespace wds
} // namespace hk
