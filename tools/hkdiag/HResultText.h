// What a support engineer needs to know about an HRESULT: its hexadecimal
// form, its symbolic name where the tool knows it, and a text: the system's,
// or the tool's own where the system has none (WinINet's 12xxx codes under
// some systems, HTTP statuses).
#pragma once

#include <windows.h>
#include <string>

namespace hkdiag {

// "S_OK", "MAPI_E_NOT_FOUND", "HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT)",
// "HTTP_E_STATUS_NOT_FOUND", or null for a code the table does not hold.
const char* HResultName(HRESULT hr);

// "0x80004005".
std::string HResultHex(HRESULT hr);

// The system's text for hr in UTF-8, without the trailing line end (WinINet's
// codes are looked up in wininet.dll); else the tool's own text; empty when
// neither knows the code.
std::string HResultMessage(HRESULT hr);

// "0x80004005 E_FAIL (Unspecified error)", the parts that are known.
std::string DescribeHResult(HRESULT hr);

// An HTTP status outside 2xx as an HRESULT of facility HTTP: 0x80190000 | status
// (404 gives 0x80190194, HTTP_E_STATUS_NOT_FOUND).
HRESULT HttpStatusHResult(DWORD status);

} // namespace hkdiag
