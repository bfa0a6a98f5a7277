// Text work of the provider configuration, free of I/O: the profile-name
// list of "HoardviewConfiguredProfiles" and the parts of an MDC path that
// name its client key.
#pragma once

#include <string>
#include <vector>

namespace hk {
namespace provider {

// The names of a "\"-separated list in order; runs of separators count as
// one and empty pieces are skipped.
std::vector<std::wstring> SplitProfileList(const std::wstring& list);
// The list with name appended (after a "\" unless the list is empty), even
// when it is there already.
std::wstring AppendProfile(const std::wstring& list, const std::wstring& name);
// The list rebuilt from its pieces without any piece equal to name
// (case-sensitive).
std::wstring RemoveProfile(const std::wstring& list, const std::wstring& name);
// Whether a piece of the list equals name (case-sensitive).
bool ListHasProfile(const std::wstring& list, const std::wstring& name);

// The MDC file's base name (its name without the extension) and the name of
// the directory holding it: "C:\Cache\STORE\a1.db" gives "STORE" and "a1".
// False (both empty) unless the file name has an extension and there are
// at least two directory levels above it.
bool ParseMdcPath(const std::wstring& mdcPath, std::wstring& parentName, std::wstring& baseName);

} // namespace provider
} // namespace hk
