// The request engine and its seven operations against the web server stand-in:
// exact bytes on the wire, the readers, the 401 and resend rules, and replies
// that go wrong.
#include "HttpTestSupport.h"
#include "http/MultipartFraming.h"

#include <gtest/gtest.h>
#include <comdef.h>
#include <cstring>
#include <new>
#include <numeric>
#include <stdexcept>
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

TEST_F(Engine, FormAndXmlPostsSendExactBytes) {
    Server().Route("/app/form", Reply());
    Server().Route("/app/utf16", Reply());
    Server().Route("/app/html", Reply().Header("Content-Type", "text/html"));
    Server().Route("/app/xml", Answer("<ok/>").Header("Content-Type", "TEXT/XML; charset=utf-8"));
    EngineOnServer s;
    std::vector<FieldData> fields = {{"a", "1"}, {"b", "2"}}, none;
    ResponseDetails response, html, ok;
    ASSERT_EQ(S_OK, s.engine.PostFormDataToServer("form", fields, &response));
    ASSERT_EQ(S_OK, s.engine.PostFormDataToServer("form", none, &response));
    // XML: the BSTR's bytes as UTF-16; the UTF-8 post checks the reply's type.
    CComBSTR utf16(L"<a>\u00e9xy</a>"); // 10 characters
    ASSERT_EQ(S_OK, s.engine.PostXMLDataToServer("utf16", utf16, &response));
    EXPECT_EQ(E_FAIL, s.engine.PostUTF8XMLDataToServer("html", L"Content-Type: text/xml; charset=UTF-8",
                                                       "<x>\xc3\xa9</x>", &html));
    EXPECT_EQ(200u, html.dwStatusCode);
    EXPECT_EQ(S_OK, s.engine.PostUTF8XMLDataToServer("xml", L"X-One: 1", "<y/>", &ok));
    EXPECT_EQ("<ok/>", Body(ok));

    ASSERT_EQ(5, Server().Count());
    const struct {
        const char *path, *type, *length;
        std::string body;
    } sent[] = {{"/app/form", "application/x-www-form-urlencoded", "7", "a=1&b=2"},
                {"/app/form", "application/x-www-form-urlencoded", "0", ""},
                {"/app/utf16", "text/xml; charset=UTF-16", "20",
                 std::string(reinterpret_cast<const char*>(utf16.m_str), 20)},
                {"/app/html", "text/xml; charset=UTF-8", "9", "<x>\xc3\xa9</x>"},
                {"/app/xml", "<none>", "4", "<y/>"}};
    for (int i = 0; i < 5; ++i) {
        RecordedRequest r = Server().Request(i);
        EXPECT_EQ("POST " + std::string(sent[i].path), r.method + " " + r.path);
        EXPECT_EQ(sent[i].type, r.Header("Content-Type")) << i;
        EXPECT_EQ(sent[i].length, r.Header("Content-Length")) << i;
        EXPECT_EQ(1, r.HeaderCount("Content-Length")) << i;
        EXPECT_EQ(sent[i].body, r.body) << i;
        EXPECT_EQ("no-cache", r.Header("Cache-Control")) << i; // INTERNET_FLAG_RELOAD
        EXPECT_EQ(0, r.HeaderCount("Cookie")) << i;
    }
    EXPECT_EQ("1", Server().Request(4).Header("X-One"));
}

// The collected post refuses files rather than leave them out of a body whose
// length counts them; the streamed one refuses files that describe no bytes.
TEST_F(Engine, MultipartPostsAreByteExactAndTheProbeRunsOnce) {
    Server().Route("/app/parts", Reply());
    Server().Route("/app/up", Reply());
    EngineOnServer s;
    ResponseDetails response;
    std::vector<FieldData> fields = {{"n", "v"}, {"q\"uote", "line1\r\nline2\"\r\n"}, {"empty", ""}};
    std::vector<FileData> none;
    BYTE data[3] = {1, 2, 3};
    std::vector<FileData> bad[] = {{{"f", "a.bin", data, 3, "application/octet-stream"}},
                                   {{"f", "x", nullptr, 5, "text/plain"}},
                                   {{"f", "x", data, -1, "text/plain"}}};
    EXPECT_EQ(E_INVALIDARG, s.engine.PostDataToServer("parts", bad[0], fields, &response));
    EXPECT_EQ(E_INVALIDARG, s.engine.PostLargeDataToServer("up", bad[1], fields, &response));
    EXPECT_EQ(E_INVALIDARG, s.engine.PostLargeDataToServer("up", bad[2], fields, &response));
    EXPECT_EQ(0, Server().Count());
    ASSERT_EQ(S_OK, s.engine.PostDataToServer("parts", none, fields, &response));
    RecordedRequest r = Server().Request(0);
    ASSERT_EQ(39u, BoundaryOf(r).size());
    EXPECT_EQ(ExpectedBody(BoundaryOf(r), fields, {}), r.body);
    EXPECT_EQ(std::to_string(r.body.size()), r.Header("Content-Length"));
    EXPECT_EQ(1, r.HeaderCount("Content-Length"));

    std::string binary("\0\x01\xff\r\n--", 7);
    std::vector<FileData> files = {{"f1", "a \"b\".bin", reinterpret_cast<const BYTE*>(binary.data()),
                                    static_cast<int>(binary.size()), "application/octet-stream"},
                                   {"f2", "empty.txt", nullptr, 0, "text/plain"}};
    fields.resize(1);
    ASSERT_EQ(S_OK, s.engine.PostLargeDataToServer("up", files, fields, &response));
    ASSERT_EQ(S_OK, s.engine.PostLargeDataToServer("up", files, fields, &response));
    ASSERT_EQ(4, Server().Count()); // probe, upload, upload: the probe runs once
    RecordedRequest probe = Server().Request(1);
    EXPECT_EQ("--" + BoundaryOf(probe) + "--\r\n", probe.body);
    EXPECT_EQ("45", probe.Header("Content-Length"));
    for (int i = 2; i <= 3; ++i) {
        r = Server().Request(i);
        EXPECT_EQ("/app/up", r.path);
        EXPECT_EQ(ExpectedBody(BoundaryOf(r), fields, files), r.body);
        EXPECT_EQ(std::to_string(r.body.size()), r.Header("Content-Length"));
        EXPECT_EQ(1, r.HeaderCount("Content-Length"));
        EXPECT_EQ(1, r.HeaderCount("Content-Type"));
    }
    EXPECT_NE(BoundaryOf(Server().Request(2)), BoundaryOf(Server().Request(3)));
}

// A failed probe does not stop the upload and runs again next time; a resend
// request is honoured once in a row.
TEST_F(Engine, FailedProbesAndResendRequests) {
    Reply denied = Challenge();
    Server().Route("/app/up", {denied, Reply(), denied, Reply()});
    std::vector<FileData> files;
    std::vector<FieldData> fields = {{"n", "v"}};
    ResponseDetails response;
    {
        EngineOnServer s;
        s.engine.dialogAnswers = {0, 0}; // each probe's 401 ends without credentials
        EXPECT_EQ(S_OK, s.engine.PostLargeDataToServer("up", files, fields, &response));
        EXPECT_EQ(S_OK, s.engine.PostLargeDataToServer("up", files, fields, &response));
        EXPECT_EQ(2, s.engine.dialogCalls);
        ASSERT_EQ(4, Server().Count()); // probe, upload, probe again, upload
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(i % 2 == 0, Server().Request(i).body.size() == 45u) << i;
        }
    }
    {
        EngineOnServer s;
        s.engine.endFailures = {ERROR_INTERNET_FORCE_RETRY};
        EXPECT_EQ(S_OK, s.engine.PostLargeDataToServer("up", files, fields, &response));
        EXPECT_EQ(2, s.engine.endCalls);
        ASSERT_EQ(7, Server().Count()); // probe and two uploads
        EXPECT_NE(BoundaryOf(Server().Request(5)), BoundaryOf(Server().Request(6)));
    }
    EngineOnServer s;
    s.engine.endFailures = {ERROR_INTERNET_FORCE_RETRY, ERROR_INTERNET_FORCE_RETRY,
                            ERROR_INTERNET_FORCE_RETRY};
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INTERNET_FORCE_RETRY),
              s.engine.PostLargeDataToServer("up", files, fields, &response));
    EXPECT_EQ(2, s.engine.endCalls);
}

TEST_F(Engine, UnauthorizedGoesToTheLoginDialog) {
    const DWORD retry = ERROR_INTERNET_FORCE_RETRY;
    // Refusals first: WinINet keeps Basic credentials for the host once given,
    // so each later success needs a user of its own. Wrong credentials are
    // refused until the user gives up: the engine has no limit of its own.
    // Credentials entered: the exchange repeats (for the streamed upload, the
    // probe does, and the upload then carries them) and the record holds only
    // the final reply, whose type the UTF-8 post checks.
    enum Op { Get, Form, Utf8Xml, Upload };
    const struct {
        std::deque<DWORD> answers;
        const char* user;
        const char* password;
        const char* auth;
        Op op;
        HRESULT hr;
        DWORD status;
    } cases[] = {{{ERROR_CANCELLED}, "user", "pass", kAuth, Get, kCancelled, 401},
                 {{retry, retry, retry, ERROR_CANCELLED}, "user", "wrong", kAuth, Get, kCancelled, 401},
                 {{0}, "user", "pass", kAuth, Form, E_ACCESSDENIED, 401},
                 {{retry}, "user", "pass", kAuth, Get, S_OK, 200},
                 {{retry}, "xml", "pass", "Basic eG1sOnBhc3M=", Utf8Xml, S_OK, 200},
                 {{retry}, "upload", "pass", "Basic dXBsb2FkOnBhc3M=", Upload, S_OK, 200}};
    for (const auto& c : cases) {
        Reply granted = Answer("<granted/>").Header("Content-Type", "text/xml");
        granted.requireAuth = c.auth;
        Server().Route(std::string("/app/") + c.user, granted);
        int before = Server().Count();
        EngineOnServer s;
        s.engine.dialogAnswers = c.answers;
        s.engine.user = c.user;
        s.engine.password = c.password;
        ResponseDetails response;
        std::vector<FieldData> fields = {{"a", "1"}};
        std::vector<FileData> files;
        HRESULT hr = c.op == Get       ? s.engine.GetDataFromServer(c.user, &response)
                     : c.op == Form    ? s.engine.PostFormDataToServer(c.user, fields, &response)
                     : c.op == Utf8Xml ? s.engine.PostUTF8XMLDataToServer(c.user, L"Content-Type: text/xml",
                                                                          "<x/>", &response)
                                       : s.engine.PostLargeDataToServer(c.user, files, fields, &response);
        EXPECT_EQ(c.hr, hr) << c.user;
        EXPECT_EQ(static_cast<int>(c.answers.size()), s.engine.dialogCalls) << c.user;
        EXPECT_EQ(c.status, response.dwStatusCode) << c.user;
        if (c.hr != S_OK) {
            continue;
        }
        EXPECT_EQ("<granted/>", Body(response));
        EXPECT_EQ(std::string::npos, std::string(response.pHeaders).find("401"));
        // WinINet may try cached credentials of its own first: only the last
        // requests are ours to check.
        int count = Server().Count();
        ASSERT_GE(count, before + 2) << c.user;
        if (c.op == Upload) {
            RecordedRequest probe = Server().Request(count - 2);
            EXPECT_EQ(45u, probe.body.size());
            EXPECT_EQ(c.auth, probe.Header("Authorization"));
        }
        RecordedRequest last = Server().Request(count - 1);
        EXPECT_EQ(c.auth, last.Header("Authorization")) << c.user;
        EXPECT_EQ(c.op == Upload    ? ExpectedBody(BoundaryOf(last), fields, files)
                  : c.op == Utf8Xml ? "<x/>"
                                    : "",
                  last.body)
            << c.user;
    }
}

// What a step raises (here the application's login dialog) ends in the
// operation's result, never out of the exported call.
TEST_F(Engine, WhatAStepRaisesEndsInTheResult) {
    Server().Route("/app/raise", Challenge());
    const struct {
        std::exception_ptr raised;
        HRESULT hr;
    } cases[] = {{std::make_exception_ptr(std::bad_alloc()), E_OUTOFMEMORY},
                 {std::make_exception_ptr(_com_error(E_ABORT)), E_ABORT},
                 {std::make_exception_ptr(std::runtime_error("dialog")), E_UNEXPECTED}};
    for (const auto& c : cases) {
        EngineOnServer s;
        s.engine.dialogRaises = c.raised;
        ResponseDetails response;
        std::vector<FieldData> fields = {{"a", "1"}};
        std::vector<FileData> files;
        DWORD status = 0;
        char text[64] = {};
        CComBSTR xml(L"<x/>");
        EXPECT_EQ(c.hr, s.engine.GetDataFromServer("raise", &response));
        EXPECT_EQ(c.hr, s.engine.GetURLStatusText("raise", &status, text, sizeof(text)));
        EXPECT_EQ(c.hr, s.engine.PostFormDataToServer("raise", fields, &response));
        EXPECT_EQ(c.hr, s.engine.PostXMLDataToServer("raise", xml, &response));
        EXPECT_EQ(c.hr, s.engine.PostUTF8XMLDataToServer("raise", L"", "<x/>", &response));
        EXPECT_EQ(c.hr, s.engine.PostDataToServer("raise", files, fields, &response));
        EXPECT_EQ(c.hr, s.engine.PostLargeDataToServer("raise", files, fields, &response));
        EXPECT_EQ(7, s.engine.dialogCalls);
    }
}

// Every framing, small and of several megabytes with every byte value, read
// whole with its NUL behind; error statuses are no failures; WinINet ends a
// body at the connection's end whatever was announced. A header line of 1 MiB
// is kept as far as WinINet can; a reply that announces more than a record can
// hold is refused unread.
TEST_F(Engine, RepliesArriveWholeInEveryFraming) {
    std::string pattern(251, '\0'), big;
    std::iota(pattern.begin(), pattern.end(), '\0'); // every byte value
    const int repeat = 6 * 1024 * 1024 / 251;
    for (int i = 0; i < repeat; ++i) {
        big += pattern;
    }
    const struct {
        const char* path;
        Reply reply;
        HRESULT hr;
        DWORD status;
        std::string body;
    } cases[] = {{"err", Status(500, "Internal Server Error", "boom"), S_OK, 500, "boom"},
                 {"chunked", Answer("abc", "chunked"), S_OK, 200, "abc"},
                 {"close", Answer("closed", "none"), S_OK, 200, "closed"},
                 {"truncated", Answer("0123456789", "100"), S_OK, 200, "0123456789"},
                 {"big", Answer(pattern), S_OK, 200, big},
                 {"bigchunked", Answer(pattern, "chunked"), S_OK, 200, big},
                 {"bigclose", Answer(pattern, "none"), S_OK, 200, big},
                 {"empty", Reply().Header("X-Long", std::string(300, 'h')), S_OK, 200, ""},
                 {"huge", Reply().Header("X-Huge", std::string(1024 * 1024, 'H')), S_OK, 200, ""},
                 {"oversized", Answer("x", "5000000000"), HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), 200, ""}};
    EngineOnServer s(10000);
    for (auto c : cases) {
        c.reply.repeatBody = c.body.size() > 1000 ? repeat : 1;
        Server().Route(std::string("/app/") + c.path, c.reply);
        ResponseDetails r;
        DWORD start = ::GetTickCount();
        ASSERT_EQ(c.hr, s.engine.GetDataFromServer(c.path, &r)) << c.path;
        EXPECT_LT(::GetTickCount() - start, 8000u) << c.path;
        EXPECT_EQ(c.status, r.dwStatusCode) << c.path;
        EXPECT_EQ(r.dwHeadersLength, std::strlen(r.pHeaders) + 1) << c.path;
        EXPECT_EQ(0u, std::string(r.pHeaders).find(c.status == 200 ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 500"));
        ASSERT_EQ(c.body.empty() ? 0 : c.body.size() + 1, r.dwBodyLength) << c.path;
        EXPECT_EQ(c.body.empty(), r.pBody == nullptr) << c.path;
        EXPECT_TRUE(c.body == Body(r)) << c.path;
        EXPECT_TRUE(c.body.empty() || r.pBody[c.body.size()] == '\0') << c.path;
    }
    // A record reused without Reset accumulates.
    ResponseDetails twice;
    ASSERT_EQ(S_OK, s.engine.GetDataFromServer("big", &twice));
    ASSERT_EQ(S_OK, s.engine.GetDataFromServer("bigchunked", &twice));
    EXPECT_TRUE(big + big == Body(twice));
    ResponseDetails empty;
    ASSERT_EQ(S_OK, s.engine.GetDataFromServer("empty", &empty));
    EXPECT_NE(std::string::npos,
              std::string(empty.pHeaders).find("X-Long: " + std::string(300, 'h') + "\r\n"));
    DWORD status = 0xdeadbeef;
    char text[64];
    memset(text, 'x', sizeof(text));
    EXPECT_EQ(S_OK, s.engine.GetURLStatusText("missing", &status, text, sizeof(text)));
    EXPECT_EQ(404u, status);
    EXPECT_STREQ("Not Found", text);
}

// The server cuts the connection inside each piece of a streamed upload. The
// pieces are far larger than the socket buffers, so the cut reaches the write
// of the piece it falls in: the upload fails and writes nothing after it. The
// closing delimiter fits the buffers: its write succeeds and the request is
// ended (Wine then hands back the probe's reply, still on the request handle,
// as the upload's: the result is WinINet's).
TEST_F(Engine, AnUploadCutByTheServerFailsWithoutGoingOn) {
    const int kPiece = 16 * 1024 * 1024;
    std::string value(kPiece, 'v'), data(kPiece, 'd');
    std::vector<FieldData> fields = {{"n", CStringA(value.c_str())}};
    std::vector<FileData> files = {
        {"f", "a.bin", reinterpret_cast<const BYTE*>(data.data()), kPiece, "application/octet-stream"}};
    const size_t total = ExpectedBody(std::string(39, '-'), fields, files).size();
    const struct {
        const char* piece;
        size_t cut;
        int endCalls;
    } cases[] = {
        {"field", 1024 * 1024, 0}, {"file", kPiece + 1024 * 1024, 0}, {"closing delimiter", total - 20, 1}};
    for (const auto& c : cases) {
        Server().Reset();
        Server().Route("/app/cut",
                       {Reply(), Answer("", "auto", "reset_after_body:" + std::to_string(c.cut))});
        EngineOnServer s(3000); // Wine may miss the reset of a blocked write until then
        ResponseDetails response;
        DWORD start = ::GetTickCount();
        HRESULT hr = s.engine.PostLargeDataToServer("cut", files, fields, &response);
        EXPECT_LT(::GetTickCount() - start, 8000u) << c.piece;
        EXPECT_EQ(c.endCalls, s.engine.endCalls) << c.piece;
        if (c.endCalls == 0) {
            EXPECT_TRUE(FAILED(hr)) << c.piece << std::hex << " " << hr;
            EXPECT_EQ(0u, response.dwStatusCode) << c.piece;
        }
        ASSERT_EQ(2, Server().Count()) << c.piece; // the probe, the upload
        EXPECT_EQ(c.cut, Server().Request(1).body.size()) << c.piece;
    }
}

// A request handle left open keeps its connection (WinINet's handles are no
// kernel handles): the stand-in counts the connections still open.
TEST_F(Engine, AThousandExchangesLeaveNoConnectionBehind) {
    Server().Route("/app/ok", Answer("ok"));
    Server().Route("/app/missing", Status(404, "Not Found"));
    Server().Route("/app/truncated", Answer("0123456789", "100"));
    Server().Route("/app/chunked", Answer("chunked body", "chunked"));
    const char* paths[] = {"ok", "missing", "truncated", "chunked"};
    EngineOnServer s(5000);
    std::vector<FieldData> fields = {{"a", "1"}};
    auto exchange = [&](int i) {
        ResponseDetails response;
        HRESULT hr = i % 2 ? s.engine.GetDataFromServer(paths[i % 4], &response)
                           : s.engine.PostFormDataToServer(paths[i % 4], fields, &response);
        EXPECT_EQ(S_OK, hr) << i;
    };
    for (int i = 0; i < 1000 && !HasFailure(); ++i) {
        exchange(i);
    }
    EXPECT_LE(Server().OpenConnections(), 3); // the kept-alive one and this question
}

} // namespace
