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

bool RequestName(const std::wstring& path, std::wstring& name) {
    if (_wcsicmp(path.c_str(), kWholeCache) == 0) {
        name = kWholeCache;
        return true;
    }
    std::vector<std::wstring> pieces = SplitPath(path);
    if (pieces.empty()) {
        return false;
    }
    name = pieces.back();
    return true;
}

// Digits, then optionally a point and more digits; the rest is ignored.
// Parsed by hand so that neither the C runtime's locale nor its exponent and
// hexadecimal forms change what a version reads as.
double ParseVersion(const wchar_t* text) {
    if (text == nullptr) {
        return 0.0;
    }
    double value = 0.0;
    const wchar_t* p = text;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        value = value * 10.0 + (*p - L'0');
    }
    if (p != text && *p == L'.') {
        double scale = 0.1;
        for (++p; *p >= L'0' && *p <= L'9'; ++p) {
            value += (*p - L'0') * scale;
            scale /= 10.0;
        }
    }
    return value;
}

} // namespace wds
} // namespace hk
