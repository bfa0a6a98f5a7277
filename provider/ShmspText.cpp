#include "provider/ShmspText.h"

namespace hk {
namespace provider {

namespace {
const wchar_t kSeparator = L'\\';
} // namespace

std::vector<std::wstring> SplitProfileList(const std::wstring& list) {
    std::vector<std::wstring> names;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(kSeparator, start);
        if (end == std::wstring::npos) {
            end = list.size();
        }
        if (end > start) {
            names.push_back(list.substr(start, end - start));
        }
        start = end + 1;
    }
    return names;
}

std::wstring AppendProfile(const std::wstring& list, const std::wstring& name) {
    return list.empty() ? name : list + kSeparator + name;
}

std::wstring RemoveProfile(const std::wstring& list, const std::wstring& name) {
    std::wstring kept;
    for (const std::wstring& piece : SplitProfileList(list)) {
        if (piece != name) {
            kept = AppendProfile(kept, piece);
        }
    }
    return kept;
}

bool ListHasProfile(const std::wstring& list, const std::wstring& name) {
    for (const std::wstring& piece : SplitProfileList(list)) {
        if (piece == name) {
            return true;
        }
    }
    return false;
}

bool ParseMdcPath(const std::wstring& mdcPath, std::wstring& parentName, std::wstring& baseName) {
    parentName.clear();
    baseName.clear();
    // Only a dot in the file name itself is its extension: a dot in a
    // directory name above an extension-less file would otherwise cut the
    // path in the wrong place and name another file's key.
    size_t lastSlash = mdcPath.rfind(kSeparator);
    size_t dot = mdcPath.rfind(L'.');
    if (dot == std::wstring::npos || dot == 0 || (lastSlash != std::wstring::npos && dot < lastSlash)) {
        return false;
    }
    std::wstring rest = mdcPath.substr(0, dot);
    size_t slash = rest.rfind(kSeparator);
    if (slash == std::wstring::npos || slash == 0) {
        return false;
    }
    std::wstring base = rest.substr(slash + 1);
    rest.resize(slash);
    slash = rest.rfind(kSeparator);
    if (slash == std::wstring::npos || slash == 0) {
        return false;
    }
    std::wstring parent = rest.substr(slash + 1);
    if (base.empty() || parent.empty()) {
        return false;
    }
    parentName = parent;
    baseName = base;
    return true;
}

} // namespace provider
} // namespace hk
