// The archive web server stand-in (standins/webserver/webserver.py) as the
// tests see it. Started once per test program: Wine starts the Unix program
// directly (CreateProcessW of "/usr/bin/python3 ..."), the server writes its
// ephemeral port to a file, and it ends by itself when this process ends.
#pragma once

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace hk {
namespace test {

// One reply the stand-in gives for a path (see webserver.py).
struct Reply {
    int status = 200;
    std::string reason = "OK";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    int repeatBody = 1;
    std::string length = "auto"; // "auto", "none", "chunked" or a number
    std::string action;          // "", "hang", "reset", "reset_mid_body", "raw"
    int delayMs = 0;
    std::string requireAuth; // the Authorization value that passes
    std::string challenge;   // WWW-Authenticate of the 401 otherwise

    Reply& Header(const std::string& name, const std::string& value) {
        headers.emplace_back(name, value);
        return *this;
    }
    std::string Json() const;
};

// A request as the stand-in received it.
struct RecordedRequest {
    std::string method;
    std::string path;
    std::vector<std::pair<std::string, std::string>> headers; // in order, names as sent
    std::string body;
    // The first header of that name (case-insensitive), or "<none>".
    std::string Header(const std::string& name) const;
    int HeaderCount(const std::string& name) const;
};

class WebServer {
public:
    // The stand-in of this test program, started on first use.
    static WebServer& Get();

    bool Ok() const { return m_port != 0; }
    const std::string& Error() const { return m_error; }
    int Port() const { return m_port; }
    std::string Url(const std::string& path) const;
    std::wstring UrlW(const std::string& path) const;

    // The same server over https: with a certificate that tests/http/tls/ca.pem
    // signed, and with a self-signed one that nobody trusts.
    enum class Tls { Trusted, Untrusted };
    std::wstring HttpsUrlW(const std::string& path, Tls tls = Tls::Trusted) const;

    // Forget every route and recorded request.
    void Reset();
    // The replies for path, given in turn; the last one repeats.
    void Route(const std::string& path, const std::vector<Reply>& replies);
    void Route(const std::string& path, const Reply& reply) { Route(path, std::vector<Reply>{reply}); }
    int Count();
    // Connections open now, the one asking included.
    int OpenConnections();
    RecordedRequest Request(int index);

private:
    WebServer();
    std::string Control(const std::string& method, const std::string& path, const std::string& body,
                        int* status = nullptr);
    int m_port = 0;
    int m_trustedPort = 0;
    int m_untrustedPort = 0;
    std::string m_error;
};

// Every test starts from a stand-in with no routes and no requests.
class ServerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Server().Ok()) << Server().Error();
        Server().Reset();
    }
    static WebServer& Server() { return WebServer::Get(); }
};

// Replies in one line: a body with its framing or action, a status, a 401.
Reply Answer(std::string body, std::string length = "auto", std::string action = "");
Reply Status(int status, std::string reason, std::string body = "");
Reply Challenge(const std::string& challenge = "Basic realm=\"x\"");

} // namespace test
} // namespace hk
