#include "ToolInternet.h"

namespace hkdiag {

std::string RawHeaders(HINTERNET request, DWORD flags) {
    std::string headers(1024, '\0');
    DWORD size = static_cast<DWORD>(headers.size());
    BOOL ok = ::HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF | flags, &headers[0], &size, nullptr);
    if (!ok && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        headers.assign(size + 1, '\0');
        ok = ::HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF | flags, &headers[0], &size, nullptr);
    }
    headers.resize(ok ? size : 0);
    return headers;
}

std::vector<std::string> Challenges(const std::string& headers) {
    std::vector<std::string> values;
    const std::string name = "www-authenticate:";
    for (size_t line = 0; line < headers.size();) {
        size_t end = headers.find("\r\n", line);
        end = end == std::string::npos ? headers.size() : end;
        std::string text = headers.substr(line, end - line);
        bool match = text.size() > name.size();
        for (size_t i = 0; match && i < name.size(); ++i) {
            match = (text[i] | 0x20) == name[i];
        }
        if (match) {
            size_t value = text.find_first_not_of(' ', name.size());
            values.push_back(value == std::string::npos ? std::string() : text.substr(value));
        }
        line = end + 2;
    }
    return values;
}

std::string ChallengeList(const std::vector<std::string>& challenges) {
    std::string list;
    for (const std::string& challenge : challenges) {
        list += (list.empty() ? "" : ", ") + challenge;
    }
    return list.empty() ? "none" : list;
}

std::string HeaderLines(const std::string& block, const char* prefix) {
    std::string out;
    for (size_t at = 0; at < block.size();) {
        size_t end = block.find('\n', at);
        end = end == std::string::npos ? block.size() : end + 1;
        std::string line = block.substr(at, end - at);
        if (line.size() >= 2 && line[line.size() - 2] == '\r') {
            line.erase(line.size() - 2, 1);
        }
        out += prefix + line;
        at = end;
    }
    return out;
}

void SetTimeouts(HINTERNET handle, DWORD milliseconds) {
    for (DWORD option :
         {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        ::InternetSetOptionW(handle, option, &milliseconds, sizeof(milliseconds));
    }
}

} // namespace hkdiag
