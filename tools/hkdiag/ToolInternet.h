// The tool's own WinINet pieces: the holder of its handles, the header blocks
// of a request, and the schemes a 401 offers.
#pragma once

#include "HkHandle.h"

#include <windows.h>
#include <wininet.h>
#include <string>
#include <vector>

namespace hkdiag {

struct InternetHandleTraits {
    using type = HINTERNET;
    static type invalid() { return nullptr; }
    static void close(type h) { ::InternetCloseHandle(h); }
};
using unique_hinternet = hk::unique_any<InternetHandleTraits>;

// The raw header block of a request handle (CR LF between lines): the
// reply's, or with HTTP_QUERY_FLAG_REQUEST_HEADERS the request's as sent.
// Empty when WinINet has none.
std::string RawHeaders(HINTERNET request, DWORD flags = 0);

// The values of the WWW-Authenticate headers of a raw header block, in order
// ("Basic realm=\"x\"", "NTLM"). Pure.
std::vector<std::string> Challenges(const std::string& headers);

// "Basic realm=\"x\", NTLM", or "none" for no challenge.
std::string ChallengeList(const std::vector<std::string>& challenges);

// A header block for a text stream, which writes each line feed as CR LF:
// its lines with LF alone, each behind prefix ("> ", "< " or "").
std::string HeaderLines(const std::string& block, const char* prefix);

// Sets the send, receive and connect time-outs of a WinINet handle.
void SetTimeouts(HINTERNET handle, DWORD milliseconds);

} // namespace hkdiag
