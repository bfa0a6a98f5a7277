// The lines the HTTP code writes and what first use in a process does, read
// from the log file of a fresh process (the level is read once per process).
#include "CDesktopLog.h"
#include "HearthkitUtil.h"
#include "HttpTestSupport.h"
#include "LoggedRun.h"

#include <gtest/gtest.h>
#include <atomic>
#include <cstdio>
#include <thread>

using namespace hk::test;

namespace {

HK_SCENARIO(HttpLogTour) {
    // Threads that ask for the user agent at once, on first use: one of them
    // computes it, the others wait for it.
    hk::unique_handle go(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<std::thread> threads;
    std::atomic<int> same{0};
    for (int i = 0; i < 16; ++i) {
        threads.emplace_back([&] {
            ::WaitForSingleObject(go.get(), 10000);
            same += HearthkitUtil::GetSHUserAgent() == L"StowhavenOutlookExt-V1.0.0.1" ? 1 : 0;
        });
    }
    ::Sleep(100);
    ::SetEvent(go.get());
    for (std::thread& t : threads) {
        t.join();
    }
    std::printf("same=%d\n", same.load());
    WebServer& server = WebServer::Get();
    server.Route("/app/up", Reply());
    server.Route("/app/form", Reply());
    server.Route("/clienttest.gif",
                 Answer("GIF89a" + std::string(37, 'g'), "none").Header("Content-Type", "image/gif"));
    EngineOnServer s;
    s.engine.endFailures = {ERROR_INTERNET_FORCE_RETRY};
    std::vector<FileData> files;
    std::vector<FieldData> fields = {{"n", "v"}}, form = {{"a", "1"}};
    ResponseDetails response;
    EXPECT_EQ(S_OK, s.engine.PostLargeDataToServer("up", files, fields, &response));
    EXPECT_EQ(S_OK, s.engine.PostFormDataToServer("form", form, &response));
    ScriptedEngine closed(nullptr, INTERNET_SCHEME_HTTP, "/app/", false);
    DWORD status = 0;
    char text[10];
    closed.GetDataFromServer("nowhere", &response);
    closed.GetURLStatusText("nowhere", &status, text, 10);
    EXPECT_TRUE(HearthkitUtil::HasInternetConnection(server.UrlW("/clienttest.gif").c_str(), nullptr, nullptr,
                                                     false));
    return 0;
}

// Opening a log file counts the old ones first, which changes the thread's
// last error: each failing read below writes the first record of a new file.
HK_SCENARIO(ReaderErrors) {
    WebServer& server = WebServer::Get();
    server.Route("/app/untyped", Reply());
    EngineOnServer s;
    ResponseDetails response;
    CDesktopLog().Close();
    HRESULT type = s.engine.PostUTF8XMLDataToServer("untyped", L"", "<x/>", &response);
    // An upload whose end is skipped leaves no status to read.
    ScriptedEngine skipped(s.connect.get(), INTERNET_SCHEME_HTTP, "/app/", true);
    skipped.skipEnd = true;
    std::vector<FileData> files;
    std::vector<FieldData> fields = {{"n", "v"}};
    CDesktopLog().Close();
    HRESULT status = skipped.PostLargeDataToServer("untyped", files, fields, &response);
    std::printf("type=%08lx\nstatus=%08lx\n", static_cast<unsigned long>(type),
                static_cast<unsigned long>(status));
    return 0;
}

TEST(HttpLog, FailedReadersReportWinInetsErrorNotTheLogs) {
    LoggedRun run = RunLoggedScenario("ReaderErrors", {}, 0);
    ASSERT_EQ(0u, run.result.exitCode) << run.result.output;
    EXPECT_EQ("80072f76", run.values["type"]); // ERROR_HTTP_HEADER_NOT_FOUND
    EXPECT_EQ("80072f76", run.values["status"]);
    EXPECT_NE(std::string::npos, run.log.find(": Failed to read the content type from the response\r\n"));
    EXPECT_NE(std::string::npos, run.log.find(": Failed to read the status text from the response\r\n"));
}

TEST(HttpLog, OperationsWriteTheirLinesInOrderAndTheUserAgentOnce) {
    LoggedRun run = RunLoggedScenario("HttpLogTour", {}, 3);
    ASSERT_EQ(0u, run.result.exitCode) << run.result.output;
    const std::string& log = run.log;
    EXPECT_EQ("16", run.values["same"]);
    const char computed[] = ": HearthkitUtil::GetClientDLLVersion: 0x0";
    EXPECT_NE(std::string::npos, log.find(computed)) << log;
    EXPECT_EQ(log.find(computed), log.rfind(computed)) << "the user agent is computed once";
    // Each text is the end of a record header (": ") and, with its CR LF, the
    // whole rest of the line; they must come in this order.
    const char* expected[] = {
        ": CInternetSendDataBase::PostLargeDataToServer: 0x0\r\n",
        ": ++++++++++++ Starting Authentication Probe Request +++++++++++++++++++\r\n",
        ": Content Type Header is 'Content-Type: multipart/form-data; boundary=---------------------------",
        ": HttpQueryInfo text is 'OK' status code is '200'\r\n",
        ": ++++++++++++ Starting LARGE POST Request +++++++++++++++++++\r\n",
        ": Field Value is 'v'\r\n",
        ": Field Header is 'n'\r\n",
        ": Will retry request after receiving ERROR_WINHTTP_RESEND_REQUEST response.\r\n",
        ": ++++++++++++ Starting LARGE POST Request +++++++++++++++++++\r\n",
        ": ++++++++++++ Ended LARGE POST Request +++++++++++++++++++\r\n",
        ": Data 'a=1'\r\n",
        // A request on no connection: ERROR_INTERNET_INCORRECT_HANDLE_TYPE.
        ": HttpOpenRequest failed: nowhere, 12018\r\n",
        ": HttpOpenRequest failed nowhere, error 12018\r\n",
        ": Read 43 bytes of client test file\r\n",
        ": Connected - Returned status code(200)\r\n",
    };
    size_t at = 0;
    for (const char* text : expected) {
        size_t found = log.find(text, at);
        ASSERT_NE(std::string::npos, found) << "missing after offset " << at << ": " << text << "\n" << log;
        at = found + std::strlen(text);
    }
}

} // namespace
