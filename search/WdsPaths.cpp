#include "search/WdsPaths.h"

#include <cwchar>

namespace hk {
namespace wds {

namespace {
const wchar_t kWholeCache[] = L"Hoardlocal";
}

std::vector<std::wstring> SplitPath(const std::wstring& path) {
    std::vector<std::wstring> pieces;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) {
            end = path.size();
        }
        if (end > start) {
            pieces.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return pieces;
}

std::wstring StoreDirectory(const std::wstring& root, const std::wstring& storeDir) {
    std::wstring directory = root;
    if (directory.empty() || directory.back() != L'\\') {
        directory += L'\\';
    }
    directory += storeDir;
    directory += L'\\';
    return directory;
}

bool IsFileName(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L"..") {
        return false;
    }
    for (wchar_t c : name) {
        if (c < L' ' || std::wcschr(L"\\/:*?\"<>|", c) != nullptr) {
            return false;
        }
    }
    return true;
}

bool RequestName(const std::wstring& path, std::wstring& name) {
    if (_wcsicmp(path.c_str(), kWholeCache) == 0) {
        name = kWholeCache;
        return true;
    }
    std::vector<std::wstring> pieces = SplitPath(path);
    if (pieces.empty() || !IsFileName(pieces.back())) {
        return false;
    }
    name = pieces.back();
    return true;
}

} // namespace wds
} // namespace hk
