// What the HTTP tests share: an engine on a connection to the stand-in whose
// login dialog and end-of-request call the test scripts.
#pragma once

#include "CInternetSendDataBase.h"
#include "http/InternetHandle.h"
#include "WebServer.h"

#include <gtest/gtest.h>
#include <deque>
#include <exception>
#include <string>

namespace hk {
namespace test {

// The dialog answers and the HttpEndRequestW failures come from queues; an
// empty queue means: the real WinINet call. skipEnd: the request is never
// ended. The dialog can raise instead, as an application's own dialog may.
class ScriptedEngine : public CInternetSendDataBase {
public:
    using CInternetSendDataBase::CInternetSendDataBase;
    std::deque<DWORD> dialogAnswers;
    std::deque<DWORD> endFailures;
    std::exception_ptr dialogRaises; // raised by the dialog when set
    int dialogCalls = 0;
    int endCalls = 0;
    bool skipEnd = false;
    std::string user = "user", password = "pass";

protected:
    DWORD DisplayLoginDialog(HINTERNET hRequest, DWORD dwStatusCode, char* szStatusText) override {
        ++dialogCalls;
        if (dialogRaises) {
            std::rethrow_exception(dialogRaises);
        }
        EXPECT_EQ(401u, dwStatusCode);
        EXPECT_STREQ("Unauthorized", szStatusText);
        DWORD answer = dialogAnswers.empty() ? ERROR_CANCELLED : dialogAnswers.front();
        if (!dialogAnswers.empty()) {
            dialogAnswers.pop_front();
        }
        if (answer == ERROR_INTERNET_FORCE_RETRY) { // the user entered credentials
            ::InternetSetOptionA(hRequest, INTERNET_OPTION_USERNAME, &user[0],
                                 static_cast<DWORD>(user.size()));
            ::InternetSetOptionA(hRequest, INTERNET_OPTION_PASSWORD, &password[0],
                                 static_cast<DWORD>(password.size()));
        }
        return answer;
    }
    // WinINet ends the exchange; then the scripted error, as WinINet reports
    // a resend request after the server has answered.
    BOOL EndRequest(HINTERNET hRequest) override {
        ++endCalls;
        BOOL ok = skipEnd || CInternetSendDataBase::EndRequest(hRequest);
        if (ok && !endFailures.empty()) {
            DWORD error = endFailures.front();
            endFailures.pop_front();
            ::SetLastError(error);
            return FALSE;
        }
        return ok;
    }
};

// A session and a connection to the stand-in, and an engine on them.
struct EngineOnServer {
    explicit EngineOnServer(DWORD timeoutMs = 0, INTERNET_SCHEME scheme = INTERNET_SCHEME_HTTP,
                            const char* urlBase = "/app/")
        : session(::InternetOpenW(L"hk-http-tests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0)),
          connect(::InternetConnectA(session.get(), "127.0.0.1",
                                     static_cast<INTERNET_PORT>(WebServer::Get().Port()), nullptr, nullptr,
                                     INTERNET_SERVICE_HTTP, 0, 0)),
          engine(connect.get(), scheme, urlBase, false) {
        // Wine applies only what is set on the connection to its requests.
        for (HINTERNET h : {session.get(), connect.get()}) {
            for (DWORD option : {INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT}) {
                if (timeoutMs != 0) {
                    ::InternetSetOptionW(h, option, &timeoutMs, sizeof(timeoutMs));
                }
            }
        }
    }
    hk::unique_hinternet session;
    hk::unique_hinternet connect;
    ScriptedEngine engine;
};

inline std::string BoundaryOf(const RecordedRequest& r) {
    std::string type = r.Header("Content-Type");
    size_t at = type.find("boundary=");
    return at == std::string::npos ? std::string() : type.substr(at + 9);
}

inline std::string Body(const ResponseDetails& r) {
    return r.pBody ? std::string(r.pBody, r.dwBodyLength ? r.dwBodyLength - 1 : 0) : std::string();
}

} // namespace test
} // namespace hk
