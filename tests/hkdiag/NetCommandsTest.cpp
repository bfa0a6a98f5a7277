// hkdiag probe and send end to end against the web server stand-in.
#include "JsonCheck.h"
#include "RunHkdiag.h"
#include "WebServer.h"

#include <gtest/gtest.h>
#include <regex>

using hk::test::Reply;
using hk::test::WebServer;

namespace {

class NetCommands : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Server().Ok()) << Server().Error();
        Server().Reset();
    }
    static WebServer& Server() { return WebServer::Get(); }
    ProgramResult Run(const std::wstring& args) { return RunHkdiag(args, temp.Path() + L"\\"); }
    hk::test::TempDir temp{L"hkdiag-net"};
};

void ExpectJson(const std::string& output) {
    EXPECT_EQ(std::string::npos, hk::test::JsonCheck::FirstError(output)) << output;
}

TEST_F(NetCommands, ProbeReportsReachabilityAuthenticationAndIdentity) {
    Reply gif;
    gif.body = "GIF89a" + std::string(37, 'g');
    gif.Header("Content-Type", "image/gif");
    Server().Route("/clienttest.gif", gif);
    Reply basic;
    basic.requireAuth = "Basic dXNlcjpwYXNz";
    Server().Route("/basic", basic);

    ProgramResult r = Run(L"probe " + Server().UrlW("/clienttest.gif"));
    EXPECT_EQ(0u, r.exitCode) << r.output;
    std::regex shape("URL: http://127\\.0\\.0\\.1:\\d+/clienttest\\.gif\r?\n"
                     "Reachable: yes \\(connection flags 0x[0-9a-f]+\\)\r?\n"
                     "Authentication: integrated \\(or none asked for\\)\r?\n"
                     "User agent: (StowhavenOutlookExt-V\\d+\\.\\d+\\.\\d+\\.\\d+)\r?\n"
                     "Open type: preconfig\r?\n");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.output, m, shape)) << r.output;
    EXPECT_EQ(m[1].str(), Server().Request(0).Header("User-Agent"));

    // A 401 means the server is there; its challenge says which login.
    ProgramResult json = Run(L"--json probe " + Server().UrlW("/basic"));
    EXPECT_EQ(0u, json.exitCode) << json.output;
    ExpectJson(json.output);
    EXPECT_NE(std::string::npos, json.output.find("\"reachable\":true,")) << json.output;
    EXPECT_NE(std::string::npos, json.output.find("\"basicAuthentication\":true,")) << json.output;

    ProgramResult missing = Run(L"probe " + Server().UrlW("/nothing/clienttest.gif"));
    EXPECT_EQ(1u, missing.exitCode) << missing.output;
    EXPECT_NE(std::string::npos, missing.output.find("Reachable: no")) << missing.output;
}

TEST_F(NetCommands, SendShowsTheExchangeAndUploadsExactly) {
    Reply hello;
    hello.body = "hello";
    hello.Header("Content-Type", "text/plain");
    Server().Route("/app/op", hello);

    ProgramResult form = Run(L"send form " + Server().UrlW("/app/op") + L" a=1 b=%20");
    EXPECT_EQ(0u, form.exitCode) << form.output;
    EXPECT_TRUE(
        std::regex_match(form.output, std::regex("Status: 200 OK\r?\nHeaders:\r?\nHTTP/1\\.1 200 OK\r?\n"
                                                 "([^\r\n]*\r?\n)+Body \\(5 bytes\\):\r?\nhello\r?\n")))
        << form.output;
    hk::test::RecordedRequest sent = Server().Request(0);
    EXPECT_EQ("POST", sent.method);
    EXPECT_EQ("/app/op", sent.path);
    EXPECT_EQ("a=1&b=%20", sent.body);

    // Two files, one of them empty, and a field: streamed with an exact length.
    std::string data;
    for (int i = 0; i < 100000; ++i) {
        data += static_cast<char>(i * 7);
    }
    hk::test::WriteFileBytes(temp.File(L"data.bin"), data.data(), data.size());
    hk::test::WriteFileBytes(temp.File(L"empty.txt"), "", 0);
    ProgramResult upload =
        Run(L"send upload --json " + Server().UrlW("/app/op") + L" \"" + temp.File(L"data.bin") + L"\" \"" +
            temp.File(L"empty.txt") + L"\" --field k=v");
    EXPECT_EQ(0u, upload.exitCode) << upload.output;
    ExpectJson(upload.output);
    EXPECT_NE(std::string::npos, upload.output.find("\"upload\":{\"files\":2,\"bytes\":100000,"))
        << upload.output;
    hk::test::RecordedRequest up = Server().Request(Server().Count() - 1);
    EXPECT_EQ(std::to_string(up.body.size()), up.Header("Content-Length"));
    EXPECT_NE(std::string::npos,
              up.body.find("filename=\"data.bin\"\r\nContent-Type: application/octet-stream\r\n\r\n" + data +
                           "\r\n"));
    EXPECT_NE(std::string::npos, up.body.find("name=\"k\"\r\n\r\nv\r\n"));

    // The XML file is UTF-8; the library sends UTF-16.
    hk::test::WriteFileBytes(temp.File(L"doc.xml"), "<a>\xC3\xA9</a>", 9);
    ProgramResult xml = Run(L"send xml " + Server().UrlW("/app/op") + L" \"" + temp.File(L"doc.xml") + L"\"");
    EXPECT_EQ(0u, xml.exitCode) << xml.output;
    EXPECT_EQ(std::string("<\0a\0>\0\xE9\0<\0/\0a\0>\0", 16), Server().Request(Server().Count() - 1).body);
}

TEST_F(NetCommands, FailuresGiveTheirHResultAndBadUsageNothingSent) {
    // Port 1 on the loopback: nobody listens.
    ProgramResult refused = Run(L"send form http://127.0.0.1:1/app/op a=1");
    EXPECT_EQ(1u, refused.exitCode);
    EXPECT_NE(std::string::npos,
              refused.output.find("hkdiag: send form http://127.0.0.1:1/app/op: 0x80072EFD "
                                  "HRESULT_FROM_WIN32(ERROR_INTERNET_CANNOT_CONNECT)"))
        << refused.output;
    ProgramResult missing =
        Run(L"--json send upload " + Server().UrlW("/app/op") + L" \"" + temp.File(L"absent.bin") + L"\"");
    EXPECT_EQ(1u, missing.exitCode);
    ExpectJson(missing.output);
    EXPECT_NE(std::string::npos, missing.output.find("\"hr\":\"0x80070002\"")) << missing.output;

    for (const wchar_t* args : {L"probe", L"send", L"send form", L"send xml http://h/x",
                                L"send form http://h/x --field a=1", L"send upload http://h/x --timeout 0"}) {
        ProgramResult r = Run(args);
        EXPECT_EQ(2u, r.exitCode) << hk::test::Narrow(args) << "\n" << r.output;
    }
    EXPECT_EQ(0, Server().Count());
}

} // namespace
