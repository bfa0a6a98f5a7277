// The search text of Directory::GetFiles, apart so that its rules are
// tested without a file system.
#pragma once

#include <cwchar>
#include <string>

namespace hk {
namespace util {

// "\\?\" (unless directory begins with it) + directory + "\" (unless the
// text already ends with one) + pattern.
inline std::wstring DirectorySearchText(const wchar_t* directory, const wchar_t* pattern) {
    static const wchar_t kLongPrefix[] = L"\\\\?\\";
    std::wstring text;
    if (std::wcsncmp(directory, kLongPrefix, 4) != 0) {
        text = kLongPrefix;
    }
    text += directory;
    if (text.back() != L'\\') {
        text += L'\\';
    }
    text += pattern;
    return text;
}

} // namespace util
} // namespace hk
