// winsock2.h must come before windows.h.
#include <winsock2.h>

#include "WebServer.h"

#include "TestEnv.h"
#include "standins/webserver/ControlClient.h"
#include "standins/webserver/WineLaunch.h"

#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hk {
namespace test {
namespace {
using webserver::ByteJson;
using webserver::UnixPath;
using webserver::UnixPid;
} // namespace

std::string Reply::Json() const {
    std::string out =
        "{\"status\":" + std::to_string(status) + ",\"reason\":" + ByteJson(reason) + ",\"headers\":[";
    for (size_t i = 0; i < headers.size(); ++i) {
        out += (i ? "," : "") + std::string("[") + ByteJson(headers[i].first) + "," +
               ByteJson(headers[i].second) + "]";
    }
    out += "],\"body\":" + ByteJson(body) + ",\"repeat_body\":" + std::to_string(repeatBody);
    bool numeric = !length.empty() && length.find_first_not_of("0123456789") == std::string::npos;
    out += ",\"length\":" + (numeric ? length : ByteJson(length));
    out += ",\"delay_ms\":" + std::to_string(delayMs);
    if (!action.empty()) {
        out += ",\"action\":" + ByteJson(action);
    }
    if (!requireAuth.empty()) {
        out += ",\"require_auth\":" + ByteJson(requireAuth);
        out +=
            ",\"challenge\":{\"status\":401,\"reason\":\"Unauthorized\",\"headers\":[[\"WWW-Authenticate\"," +
            ByteJson(challenge.empty() ? "Basic realm=\"stowhaven\"" : challenge) + "]]}";
    }
    return out + "}";
}

std::string RecordedRequest::Header(const std::string& name) const {
    for (const auto& h : headers) {
        if (_stricmp(h.first.c_str(), name.c_str()) == 0) {
            return h.second;
        }
    }
    return "<none>";
}

int RecordedRequest::HeaderCount(const std::string& name) const {
    return static_cast<int>(std::count_if(headers.begin(), headers.end(), [&](const auto& h) {
        return _stricmp(h.first.c_str(), name.c_str()) == 0;
    }));
}

WebServer& WebServer::Get() {
    static WebServer server;
    return server;
}

WebServer::WebServer() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    static TempDir dir(L"webserver");
    std::string script = UnixPath(SourceDir() + L"\\standins\\webserver\\webserver.py");
    std::string tls = UnixPath(SourceDir() + L"\\tests\\http\\tls");
    if (script.empty() || tls.empty()) {
        m_error = "wine_get_unix_file_name is not available";
        return;
    }
    auto listener = [&](const wchar_t* portFile, const char* cert) {
        return " --tls \"" + UnixPath(dir.File(portFile)) + "," + tls + "/" + cert + ".pem," + tls + "/" +
               cert + ".key\"";
    };
    // Debian's own interpreter: the stand-in needs only the standard library.
    if (!webserver::StartUnix(Widen("/usr/bin/python3 \"" + script + "\" --port-file \"" +
                                    UnixPath(dir.File(L"port.txt")) + "\" --watch-pid " + UnixPid() +
                                    " --idle 300" + listener(L"trusted.txt", "server") +
                                    listener(L"untrusted.txt", "untrusted")))) {
        m_error = "CreateProcessW of /usr/bin/python3 failed: " + std::to_string(::GetLastError());
        return;
    }
    // The port file says when the server listens; the plain port is written last.
    for (int i = 0; i < 200 && m_port == 0; ++i) {
        m_port = std::atoi(ReadFileText(dir.File(L"port.txt")).c_str());
        ::Sleep(m_port == 0 ? 50 : 0);
    }
    m_trustedPort = std::atoi(ReadFileText(dir.File(L"trusted.txt")).c_str());
    m_untrustedPort = std::atoi(ReadFileText(dir.File(L"untrusted.txt")).c_str());
    if (m_port == 0) {
        m_error = "the web server stand-in did not write its port within 10 s";
    }
}

std::string WebServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}
std::wstring WebServer::UrlW(const std::string& path) const {
    return Widen(Url(path));
}
std::wstring WebServer::HttpsUrlW(const std::string& path, Tls tls) const {
    int port = tls == Tls::Trusted ? m_trustedPort : m_untrustedPort;
    return Widen("https://127.0.0.1:" + std::to_string(port) + path);
}

std::string WebServer::Control(const std::string& method, const std::string& path, const std::string& body,
                               int* status) {
    return webserver::ControlExchange(m_port, method, path, body, status);
}

void WebServer::Reset() {
    Control("POST", "/__control/reset", "");
}

void WebServer::Route(const std::string& path, const std::vector<Reply>& replies) {
    std::string json = "{\"path\":" + ByteJson(path) + ",\"replies\":[";
    for (size_t i = 0; i < replies.size(); ++i) {
        json += (i ? "," : "") + replies[i].Json();
    }
    Control("POST", "/__control/route", json + "]}");
}

int WebServer::Count() {
    return std::atoi(Control("GET", "/__control/count", "").c_str());
}

int WebServer::OpenConnections() {
    return std::atoi(Control("GET", "/__control/open", "").c_str());
}

RecordedRequest WebServer::Request(int index) {
    RecordedRequest r;
    int status = 0;
    std::string raw = Control("GET", "/__control/request/" + std::to_string(index), "", &status);
    size_t head = raw.find("\r\n\r\n");
    if (status != 200 || head == std::string::npos) {
        r.method = "<missing>";
        return r;
    }
    r.body = raw.substr(head + 4);
    size_t sp1 = raw.find(' '), sp2 = raw.find(' ', sp1 + 1);
    r.method = raw.substr(0, sp1);
    r.path = raw.substr(sp1 + 1, sp2 - sp1 - 1);
    for (size_t at = raw.find("\r\n") + 2; at < head + 2;) {
        size_t end = raw.find("\r\n", at);
        std::string line = raw.substr(at, end - at);
        at = end + 2;
        size_t colon = line.find(':');
        std::string value = colon == std::string::npos ? "" : line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        r.headers.emplace_back(line.substr(0, colon), value);
    }
    return r;
}

Reply Answer(std::string body, std::string length, std::string action) {
    Reply r;
    r.body = std::move(body);
    r.length = std::move(length);
    r.action = std::move(action);
    return r;
}

Reply Status(int status, std::string reason, std::string body) {
    Reply r = Answer(std::move(body));
    r.status = status;
    r.reason = std::move(reason);
    return r;
}

Reply Challenge(const std::string& challenge) {
    return Status(401, "Unauthorized").Header("WWW-Authenticate", challenge);
}

} // namespace test
} // namespace hk
