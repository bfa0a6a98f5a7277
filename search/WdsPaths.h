// The pure work of desktop-search indexing: splitting registry and file
// paths, forming the cache's file paths and request names. No I/O.
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

// Whether name can stand for one file in the store directory: not empty,
// not "." or "..", no separator, drive or wildcard character and no control
// character. A request name read back from the queue is joined into a path,
// so anything else could reach outside the cache.
bool IsFileName(const std::wstring& name);

// The request name a recorded path stands for: "Hoardlocal" (whatever its
// case) for the whole cache, otherwise the path's last piece. False when
// the path has no piece or its last piece is no file name.
bool RequestName(const std::wstring& path, std::wstring& name);

} // namespace wds
} // namespace hk
