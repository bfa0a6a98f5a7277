#include "UrlComponents.h"
#include "CDesktopLog.h"
#include "HkResult.h"

#include <cstring>
#include <cwchar>
#include <vector>

namespace {

// InternetCrackUrlA/W behind one name for the two forms.
BOOL CrackUrl(const char* url, URL_COMPONENTSA* parts) {
    return ::InternetCrackUrlA(url, 0, 0, parts);
}
BOOL CrackUrl(const wchar_t* url, URL_COMPONENTSW* parts) {
    return ::InternetCrackUrlW(url, 0, 0, parts);
}

template <typename Ch>
struct CrackParts;
template <>
struct CrackParts<char> {
    using type = URL_COMPONENTSA;
};
template <>
struct CrackParts<wchar_t> {
    using type = URL_COMPONENTSW;
};

size_t TextLength(const char* text) {
    return std::strlen(text);
}
size_t TextLength(const wchar_t* text) {
    return std::wcslen(text);
}

} // namespace

template <typename Ch>
UrlComponents<Ch>::UrlComponents(const Ch* url) {
    Fill(url);
}

template <typename Ch>
bool UrlComponents<Ch>::Fill(const Ch* url) {
    if (url == nullptr) {
        CDesktopLog log("UrlComponents::UrlComponents");
        HkNullArgument(log, "url");
        return false;
    }
    // Each part gets a buffer as long as the whole URL.
    DWORD size = static_cast<DWORD>(TextLength(url)) + 1;
    std::vector<Ch> buffers[6];
    for (auto& b : buffers) {
        b.resize(size);
    }
    typename CrackParts<Ch>::type parts = {};
    parts.dwStructSize = sizeof(parts);
    // The six text parts, in the order of the buffers.
    struct Part {
        Ch** text;
        DWORD* length;
        String* out;
    } const table[6] = {{&parts.lpszScheme, &parts.dwSchemeLength, &strScheme},
                        {&parts.lpszHostName, &parts.dwHostNameLength, &strHostName},
                        {&parts.lpszUserName, &parts.dwUserNameLength, &strUserName},
                        {&parts.lpszPassword, &parts.dwPasswordLength, &strPassword},
                        {&parts.lpszUrlPath, &parts.dwUrlPathLength, &strUrlPath},
                        {&parts.lpszExtraInfo, &parts.dwExtraInfoLength, &strExtraInfo}};
    for (int i = 0; i < 6; ++i) {
        *table[i].text = buffers[i].data();
        *table[i].length = size;
    }
    if (!CrackUrl(url, &parts)) {
        return false;
    }
    for (const Part& part : table) {
        *part.out = String(*part.text, static_cast<int>(*part.length));
    }
    nScheme = parts.nScheme;
    nPort = parts.nPort;
    return true;
}

template class UrlComponents<char>;
template class UrlComponents<wchar_t>;
