// The request engine and its seven operations against the web server stand-in:
// exact bytes on the wire, the readers, the 401 and resend rules, and replies
// that go wrong.
#include "HttpTestSupport.h"
#include "http/MultipartFraming.h"

#include <gtest/gtest.h>
#include <cstring>
#include <vector>

using namespace hk::test;

namespace {

const char kAuth[] = "Basic dXNlcjpwYXNz"; // user:pass
const HRESULT kCancelled = HRESULT_FROM_WIN32(ERROR_CANCELLED);

class Engine : public ServerTest {};

// The collected and the streamed multipart bodies, built from the framing.
std::string ExpectedBody(const std::string& b, const std::vector<FieldData>& fields,
                         const std::vector<FileData>& files) {
    std::string body;
    for (const auto& f : fields) {
        body += hk::multipart::FieldHeader(b.c_str(), f.strName).str() + f.strValue.str() + "\r\n";
    }
    for (const auto& f : files) {
        body += hk::multipart::FileHeader(b.c_str(), f.strFieldName, f.strFileName, f.strContentType).str();
        body.append(reinterpret_cast<const char*>(f.pData), static_cast<size_t>(f.nDataLength));
        body += "\r\n";
    }
    return body + "--" + b + "--\r\n";
}

TEST_F(Engine, FormPostSendsJoinedFieldsWithTheirLength) {
    Server().Route("/app/form", Reply());
    EngineOnServer s;
    std::vector<FieldData> fields = {{"a", "1"}, {"b", "2"}};
    ResponseDetails response;
    ASSERT_EQ(S_OK, s.engine.PostFormDataToServer("form", fields, &response));
    std::vector<FieldData> none;
    ASSERT_EQ(S_OK, s.engine.PostFormDataToServer("form", none, &response));

    ASSERT_EQ(2, Server().Count());
    RecordedRequest r = Server().Request(0);
    EXPECT_EQ("POST", r.method);
    EXPECT_EQ("/app/form", r.path);
    EXPECT_EQ("a=1&b=2", r.body);
    EXPECT_EQ("application/x-www-form-urlencoded", r.Header("Content-Type"));
    EXPECT_EQ("7", r.Header("Content-Length"));
    EXPECT_EQ(1, r.HeaderCount("Content-Length"));
    EXPECT_EQ("no-cache", r.Header("Cache-Control")); // INTERNET_FLAG_RELOAD
    EXPECT_EQ(0, r.HeaderCount("Cookie"));
    r = Server().Request(1);
    EXPECT_EQ("", r.body);
    EXPECT_EQ("0", r.Header("Content-Length"));
}

TEST_F(Engine, XmlPostSendsTheBstrBytesAsUtf16) {
    Server().Route("/app/xml", Reply());
    EngineOnServer s;
    CComBSTR xml(L"<a>\u00e9xy</a>"); // 10 characters
    ResponseDetails response;
    ASSERT_EQ(S_OK, s.engine.PostXMLDataToServer("xml", xml, &response));
    RecordedRequest r = Server().Request(0);
    EXPECT_EQ("text/xml; charset=UTF-16", r.Header("Content-Type"));
    EXPECT_EQ("20", r.Header("Content-Length"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(xml.m_str), 20), r.body);
}

TEST_F(Engine, Utf8XmlPostChecksTheReplyType) {
    Server().Route("/app/html", Reply().Header("Content-Type", "text/html"));
    Reply xml;
    xml.body = "<ok/>";
    xml.Header("Content-Type", "TEXT/XML; charset=utf-8");
    Server().Route("/app/xml", xml);
    EngineOnServer s;
    ResponseDetails html;
    Reply htmlReply;
    EXPECT_EQ(E_FAIL, s.engine.PostUTF8XMLDataToServer("html", L"Content-Type: text/xml; charset=UTF-8",
                                                       "<x>\xc3\xa9</x>", &html));
    EXPECT_EQ(200u, html.dwStatusCode);
    ResponseDetails ok;
    EXPECT_EQ(S_OK, s.engine.PostUTF8XMLDataToServer("xml", L"X-One: 1", "<y/>", &ok));
    EXPECT_EQ("<ok/>", Body(ok));

    RecordedRequest r = Server().Request(0);
    EXPECT_EQ("<x>\xc3\xa9</x>", r.body);
    EXPECT_EQ("text/xml; charset=UTF-8", r.Header("Content-Type"));
    EXPECT_EQ("1", Server().Request(1).Header("X-One"));
}

// Files are refused, not left out of a body whose length counts them.
TEST_F(Engine, CollectedMultipartPostIsByteExactAndRefusesFiles) {
    Server().Route("/app/parts", Reply());
    EngineOnServer s;
    std::vector<FieldData> fields = {{"n", "v"}, {"q\"uote", "line1\r\nline2\"\r\n"}, {"empty", ""}};
    BYTE data[3] = {1, 2, 3};
    std::vector<FileData> files = {{"f", "a.bin", data, 3, "application/octet-stream"}};
    ResponseDetails response;
    EXPECT_EQ(E_INVALIDARG, s.engine.PostDataToServer("parts", files, fields, &response));
    EXPECT_EQ(0, Server().Count());
    files.clear();
    ASSERT_EQ(S_OK, s.engine.PostDataToServer("parts", files, fields, &response));
    RecordedRequest r = Server().Request(0);
    std::string b = BoundaryOf(r);
    ASSERT_EQ(39u, b.size());
    EXPECT_EQ(ExpectedBody(b, fields, {}), r.body);
    EXPECT_EQ(std::to_string(r.body.size()), r.Header("Content-Length"));
    EXPECT_EQ(1, r.HeaderCount("Content-Length"));
}

TEST_F(Engine, LargePostProbesOnceThenStreamsEveryPartExactly) {
    Server().Route("/app/up", Reply());
    EngineOnServer s;
    std::string binary("\0\x01\xff\r\n--", 7);
    std::vector<FileData> files = {{"f1", "a \"b\".bin", reinterpret_cast<const BYTE*>(binary.data()),
                                    static_cast<int>(binary.size()), "application/octet-stream"},
                                   {"f2", "empty.txt", nullptr, 0, "text/plain"}};
    std::vector<FieldData> fields = {{"n", "v\r\n"}};
    ResponseDetails response;
    ASSERT_EQ(S_OK, s.engine.PostLargeDataToServer("up", files, fields, &response));
    ASSERT_EQ(S_OK, s.engine.PostLargeDataToServer("up", files, fields, &response));

    ASSERT_EQ(3, Server().Count()); // probe, upload, upload: the probe runs once
    RecordedRequest probe = Server().Request(0);
    std::string pb = BoundaryOf(probe);
    EXPECT_EQ("--" + pb + "--\r\n", probe.body);
    EXPECT_EQ("45", probe.Header("Content-Length"));
    for (int i = 1; i <= 2; ++i) {
        RecordedRequest r = Server().Request(i);
        EXPECT_EQ("/app/up", r.path);
        std::string b = BoundaryOf(r);
        EXPECT_EQ(ExpectedBody(b, fields, files), r.body);
        EXPECT_EQ(std::to_string(r.body.size()), r.Header("Content-Length"));
        EXPECT_EQ(1, r.HeaderCount("Content-Length"));
        EXPECT_EQ(1, r.HeaderCount("Content-Type"));
    }
    EXPECT_NE(BoundaryOf(Server().Request(1)), BoundaryOf(Server().Request(2)));
}

TEST_F(Engine, LargePostRefusesFilesThatDescribeNoBytes) {
    EngineOnServer s;
    std::vector<FileData> files = {{"f", "x", nullptr, 5, "text/plain"}};
    std::vector<FieldData> fields;
    ResponseDetails response;
    EXPECT_EQ(E_INVALIDARG, s.engine.PostLargeDataToServer("up", files, fields, &response));
    files[0].pData = reinterpret_cast<const BYTE*>("abcde");
    files[0].nDataLength = -1;
    EXPECT_EQ(E_INVALIDARG, s.engine.PostLargeDataToServer("up", files, fields, &response));
    EXPECT_EQ(0, Server().Count());
}

TEST_F(Engine, FailedProbeDoesNotStopTheUploadAndRunsAgainNextTime) {
    Reply denied;
    denied.status = 401;
    denied.reason = "Unauthorized";
    denied.Header("WWW-Authenticate", "Basic realm=\"probe\"");
    Server().Route("/app/up", {denied, Reply(), denied, Reply()});
    EngineOnServer s;
    s.engine.dialogAnswers = {0, 0}; // each probe's 401 ends without credentials
    std::vector<FileData> files;
    std::vector<FieldData> fields = {{"n", "v"}};
    ResponseDetails response;
    EXPECT_EQ(S_OK, s.engine.PostLargeDataToServer("up", files, fields, &response));
    EXPECT_EQ(S_OK, s.engine.PostLargeDataToServer("up", files, fields, &response));
    EXPECT_EQ(2, s.engine.dialogCalls);
    // probe, upload, probe again, upload
    ASSERT_EQ(4, Server().Count());
    EXPECT_EQ(45u, Server().Request(0).body.size());
    EXPECT_NE(45u, Server().Request(1).body.size());
    EXPECT_EQ(45u, Server().Request(2).body.size());
    EXPECT_NE(45u, Server().Request(3).body.size());
}

TEST_F(Engine, ResendRequestIsHonouredOnceInARow) {
    Server().Route("/app/up", Reply());
    std::vector<FileData> files;
    std::vector<FieldData> fields = {{"n", "v"}};
    {
        EngineOnServer s;
        s.engine.endFailures = {ERROR_INTERNET_FORCE_RETRY};
        ResponseDetails response;
        EXPECT_EQ(S_OK, s.engine.PostLargeDataToServer("up", files, fields, &response));
        EXPECT_EQ(2, s.engine.endCalls);
        ASSERT_EQ(3, Server().Count()); // probe and two uploads
        EXPECT_NE(BoundaryOf(Server().Request(1)), BoundaryOf(Server().Request(2)));
    }
    Server().Reset();
    Server().Route("/app/up", Reply());
    {
        EngineOnServer s;
        s.engine.endFailures = {ERROR_INTERNET_FORCE_RETRY, ERROR_INTERNET_FORCE_RETRY,
                                ERROR_INTERNET_FORCE_RETRY};
        ResponseDetails response;
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INTERNET_FORCE_RETRY),
                  s.engine.PostLargeDataToServer("up", files, fields, &response));
        EXPECT_EQ(2, s.engine.endCalls);
    }
}

TEST_F(Engine, UnauthorizedGoesToTheLoginDialog) {
    Reply granted;
    granted.body = "granted";
    granted.requireAuth = kAuth;
    Server().Route("/app/auth", granted);
    // Refusals first: WinINet keeps Basic credentials for the host once given.
    {
        EngineOnServer s;
        s.engine.dialogAnswers = {ERROR_CANCELLED};
        ResponseDetails response;
        EXPECT_EQ(kCancelled, s.engine.GetDataFromServer("auth", &response));
        EXPECT_EQ(401u, response.dwStatusCode);
    }
    {
        // Wrong credentials: the server refuses again and again until the
        // user gives up; no limit of the engine's own ends it earlier.
        EngineOnServer s;
        s.engine.password = "wrong";
        s.engine.dialogAnswers = {ERROR_INTERNET_FORCE_RETRY, ERROR_INTERNET_FORCE_RETRY,
                                  ERROR_INTERNET_FORCE_RETRY, ERROR_CANCELLED};
        ResponseDetails response;
        EXPECT_EQ(kCancelled, s.engine.GetDataFromServer("auth", &response));
        EXPECT_EQ(4, s.engine.dialogCalls);
        EXPECT_EQ(401u, response.dwStatusCode);
    }
    {
        EngineOnServer s;
        s.engine.dialogAnswers = {0};
        ResponseDetails response;
        std::vector<FieldData> fields = {{"a", "1"}};
        EXPECT_EQ(E_ACCESSDENIED, s.engine.PostFormDataToServer("auth", fields, &response));
    }
    {
        // Credentials entered: the exchange repeats and the record holds only
        // the final reply.
        EngineOnServer s;
        s.engine.dialogAnswers = {ERROR_INTERNET_FORCE_RETRY};
        ResponseDetails response;
        EXPECT_EQ(S_OK, s.engine.GetDataFromServer("auth", &response));
        EXPECT_EQ(1, s.engine.dialogCalls);
        EXPECT_EQ(200u, response.dwStatusCode);
        EXPECT_EQ("granted", Body(response));
        EXPECT_EQ(std::string::npos, std::string(response.pHeaders).find("401"));
        EXPECT_EQ(kAuth, Server().Request(Server().Count() - 1).Header("Authorization"));
    }
}

TEST_F(Engine, StatusTextAndErrorStatusesAreNoFailures) {
    Reply server;
    server.status = 500;
    server.reason = "Internal Server Error";
    server.body = "boom";
    Server().Route("/app/err", server);
    EngineOnServer s;
    DWORD status = 0xdeadbeef;
    char text[64];
    memset(text, 'x', sizeof(text));
    EXPECT_EQ(S_OK, s.engine.GetURLStatusText("missing", &status, text, sizeof(text)));
    EXPECT_EQ(404u, status);
    EXPECT_STREQ("Not Found", text);
    ResponseDetails response;
    EXPECT_EQ(S_OK, s.engine.GetDataFromServer("err", &response));
    EXPECT_EQ(500u, response.dwStatusCode);
    EXPECT_STREQ("Internal Server Error", response.szStatusText);
    EXPECT_EQ("boom", Body(response));
    EXPECT_EQ(5u, response.dwBodyLength);
}

TEST_F(Engine, ReadersCollectHeadersAndBodiesOfEveryFraming) {
    Reply chunked;
    chunked.body = "abc";
    chunked.length = "chunked";
    Reply closing;
    closing.body = "closed";
    closing.length = "none";
    Reply empty;
    empty.Header("X-Long-Header", std::string(300, 'h'));
    Server().Route("/app/chunked", chunked);
    Server().Route("/app/close", closing);
    Server().Route("/app/empty", empty);
    EngineOnServer s;
    ResponseDetails r1;
    ASSERT_EQ(S_OK, s.engine.GetDataFromServer("chunked", &r1));
    EXPECT_EQ(4u, r1.dwBodyLength);
    EXPECT_EQ(0, memcmp("abc", r1.pBody, 4));
    ResponseDetails r2;
    ASSERT_EQ(S_OK, s.engine.GetDataFromServer("close", &r2));
    EXPECT_EQ("closed", Body(r2));
    ResponseDetails r3;
    ASSERT_EQ(S_OK, s.engine.GetDataFromServer("empty", &r3));
    EXPECT_EQ(nullptr, r3.pBody);
    EXPECT_EQ(0u, r3.dwBodyLength);
    std::string headers(r3.pHeaders);
    EXPECT_EQ(r3.dwHeadersLength, headers.size() + 1);
    EXPECT_EQ(0u, headers.find("HTTP/1.1 200 OK\r\n"));
    EXPECT_NE(std::string::npos, headers.find("X-Long-Header: " + std::string(300, 'h') + "\r\n"));
    // A record reused without Reset accumulates.
    ASSERT_EQ(S_OK, s.engine.GetDataFromServer("close", &r2));
    EXPECT_EQ("closedclosed", Body(r2));
}

TEST_F(Engine, ServerThatNeverAnswersTimesOut) {
    Reply hang;
    hang.action = "hang";
    Server().Route("/app/hang", hang);
    EngineOnServer s(1000);
    ResponseDetails response;
    DWORD start = ::GetTickCount();
    EXPECT_PRED1(IsTimeout, s.engine.GetDataFromServer("hang", &response));
    DWORD elapsed = ::GetTickCount() - start;
    EXPECT_GE(elapsed, 900u);
    EXPECT_LT(elapsed, 6000u);
}

TEST_F(Engine, BrokenRepliesEndInAResultWithoutHanging) {
    Reply truncated;
    truncated.body = "0123456789";
    truncated.length = "100";
    Reply reset;
    reset.body = std::string(64 * 1024, 'r');
    reset.action = "reset_mid_body";
    Reply hugeHeaders;
    hugeHeaders.Header("X-Huge", std::string(1024 * 1024, 'H'));
    Reply garbage;
    garbage.action = "raw";
    garbage.body = "\x01\x02 this is no HTTP\r\n\r\n";
    Server().Route("/app/truncated", truncated);
    Server().Route("/app/reset", reset);
    Server().Route("/app/huge", hugeHeaders);
    Server().Route("/app/garbage", garbage);
    EngineOnServer s(3000);
    auto timed = [&](const char* path, ResponseDetails& response) {
        DWORD start = ::GetTickCount();
        HRESULT hr = s.engine.GetDataFromServer(path, &response);
        EXPECT_LT(::GetTickCount() - start, 8000u) << path;
        return hr;
    };
    // WinINet ends a body at the connection's end, whatever was announced:
    // what arrived stands.
    ResponseDetails r1;
    EXPECT_EQ(S_OK, timed("truncated", r1));
    EXPECT_EQ("0123456789", Body(r1));
    ResponseDetails r2;
    HRESULT hr = timed("reset", r2);
    EXPECT_TRUE(hr == S_OK || hr == HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_RESET)) << std::hex << hr;
    EXPECT_LT(r2.dwBodyLength, 64u * 1024u);
    EXPECT_EQ(std::string(Body(r2).size(), 'r'), Body(r2));
    ResponseDetails r3;
    EXPECT_EQ(S_OK, timed("huge", r3));
    EXPECT_EQ(200u, r3.dwStatusCode); // WinINet keeps what it can of the 1 MiB line
    EXPECT_EQ(r3.dwHeadersLength, std::strlen(r3.pHeaders) + 1);
    ResponseDetails r4;
    timed("garbage", r4); // WinINet reads it as a headerless reply: any result, no hang
    EXPECT_LE(r4.dwBodyLength, 24u);
}

// A request handle left open keeps its connection (WinINet's handles are no
// kernel handles): the stand-in counts the connections still open.
TEST_F(Engine, AThousandExchangesLeaveNoHandleBehind) {
    Reply ok;
    ok.body = "ok";
    Reply missing;
    missing.status = 404;
    missing.reason = "Not Found";
    Reply truncated;
    truncated.body = "0123456789";
    truncated.length = "100";
    Reply chunked;
    chunked.body = "chunked body";
    chunked.length = "chunked";
    Server().Route("/app/ok", ok);
    Server().Route("/app/missing", missing);
    Server().Route("/app/truncated", truncated);
    Server().Route("/app/chunked", chunked);
    const char* paths[] = {"ok", "missing", "truncated", "chunked"};
    EngineOnServer s(5000);
    std::vector<FieldData> fields = {{"a", "1"}};
    auto exchange = [&](int i) {
        ResponseDetails response;
        HRESULT hr = i % 2 ? s.engine.GetDataFromServer(paths[i % 4], &response)
                           : s.engine.PostFormDataToServer(paths[i % 4], fields, &response);
        EXPECT_EQ(S_OK, hr) << i;
    };
    for (int i = 0; i < 8; ++i) {
        exchange(i); // WinINet's own first-use handles
    }
    DWORD before = 0, after = 0;
    ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &before));
    for (int i = 0; i < 1000 && !HasFailure(); ++i) {
        exchange(i);
    }
    ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &after));
    EXPECT_EQ(before, after);
    EXPECT_LE(Server().OpenConnections(), 3); // the kept-alive one and this question
}

} // namespace
