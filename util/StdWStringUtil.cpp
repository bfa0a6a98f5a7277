// StdWStringUtil: trim and split.
#include "StdWStringUtil.h"

#include <locale>

namespace {

bool IsWhiteSpace(wchar_t c) {
    static const std::ctype<wchar_t>& classic = std::use_facet<std::ctype<wchar_t>>(std::locale::classic());
    return classic.is(std::ctype_base::space | std::ctype_base::blank, c);
}

} // namespace

std::wstring StdWStringUtil::trim(const std::wstring& text) {
    size_t first = 0;
    while (first < text.size() && IsWhiteSpace(text[first])) {
        ++first;
    }
    size_t last = text.size();
    while (last > first && IsWhiteSpace(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

std::list<std::wstring> StdWStringUtil::split(const std::wstring& text, wchar_t separator) {
    std::list<std::wstring> pieces;
    size_t position = 0;
    while (position < text.size()) {
        size_t next = text.find(separator, position);
        if (next == std::wstring::npos) {
            pieces.push_back(text.substr(position));
            break;
        }
        pieces.push_back(text.substr(position, next - position));
        position = next + 1;
    }
    return pieces;
}
