// StdWStringUtil: trimming and splitting wide strings.
#pragma once

#include "HearthkitExport.h"

#include <list>
#include <string>

class HEARTHKIT_API StdWStringUtil {
public:
    // text without leading and trailing white space (the classic locale's
    // space and blank classes); white space only gives the empty string.
    static std::wstring trim(const std::wstring& text);
    // The pieces between separators, empty pieces included, except that a
    // separator at the very end gives no trailing empty piece and an empty
    // text gives no piece at all.
    static std::list<std::wstring> split(const std::wstring& text, wchar_t separator);
};
