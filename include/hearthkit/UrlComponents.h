// UrlComponents: one URL split into its parts by InternetCrackUrl (no
// decoding, no escaping). UrlComponents<char> holds CStringA parts,
// UrlComponents<wchar_t> CStringW parts. A URL that cannot be split leaves
// every part empty, scheme 0 and port 0.
#pragma once

#include "HearthkitExport.h"
#include "HkString.h"

#include <windows.h>
#include <wininet.h>
#include <type_traits>

template <typename Ch>
class HEARTHKIT_API UrlComponents {
public:
    using String = hk::CStringT<Ch, typename std::conditional<sizeof(Ch) == 1, wchar_t, char>::type>;

    explicit UrlComponents(const Ch* url);

    String strScheme;
    INTERNET_SCHEME nScheme = INTERNET_SCHEME_DEFAULT;
    String strHostName;
    INTERNET_PORT nPort = 0;
    String strUserName;
    String strPassword;
    String strUrlPath;
    String strExtraInfo;

private:
    bool Fill(const Ch* url);
};

extern template class HEARTHKIT_API UrlComponents<char>;
extern template class HEARTHKIT_API UrlComponents<wchar_t>;
