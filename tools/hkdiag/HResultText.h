// What a support engineer needs to know about an HRESULT: its hexadecimal
// form, its symbolic name where the tool knows it, and the system's message.
#pragma once

#include <windows.h>
#include <string>

namespace hkdiag {

// "S_OK", "MAPI_E_NOT_FOUND", "HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT)",
// or null for a code the table does not hold.
const char* HResultName(HRESULT hr);

// "0x80004005".
std::string HResultHex(HRESULT hr);

// The system's text for hr in UTF-8, without the trailing line end; WinINet's
// codes are looked up in wininet.dll. Empty when the system has none.
std::string HResultMessage(HRESULT hr);

// "0x80004005 E_FAIL (Unspecified error)", the parts that are known.
std::string DescribeHResult(HRESULT hr);

} // namespace hkdiag
