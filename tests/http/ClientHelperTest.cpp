// The server client base class and the URL splitter.
#include "CHttpClientHelper.h"
#include "HttpTestSupport.h"
#include "UrlComponents.h"

#include <gtest/gtest.h>

using namespace hk::test;

namespace {

class Client : public CHttpClientHelper {
public:
    Client(const std::wstring& url, DWORD timeout) : CHttpClientHelper(Bstr(url), timeout) {}
    using CHttpClientHelper::GetURLStatusText;
    using CHttpClientHelper::Init;
    using CHttpClientHelper::m_hInternet;
    using CHttpClientHelper::m_pSendData;
    using CHttpClientHelper::m_szUrl;
    using CHttpClientHelper::PostDataToServer;
    using CHttpClientHelper::PostFormDataToServer;
    using CHttpClientHelper::PostLargeDataToServer;
    using CHttpClientHelper::PostUTF8XMLDataToServer;
    using CHttpClientHelper::PostXMLDataToServer;

private:
    static CComBSTR& Bstr(const std::wstring& url) {
        static CComBSTR holder;
        holder = url.c_str();
        return holder;
    }
};

TEST(UrlComponents, SplitsBothFormsAndDefaultsThePort) {
    UrlComponents<char> a("https://u:p@host.example:8443/app/x?q=1&r=2");
    EXPECT_STREQ("https", a.strScheme);
    EXPECT_EQ(INTERNET_SCHEME_HTTPS, a.nScheme);
    EXPECT_STREQ("host.example", a.strHostName);
    EXPECT_EQ(8443, a.nPort);
    EXPECT_STREQ("u", a.strUserName);
    EXPECT_STREQ("p", a.strPassword);
    EXPECT_STREQ("/app/x", a.strUrlPath);
    EXPECT_STREQ("?q=1&r=2", a.strExtraInfo);

    UrlComponents<wchar_t> w(L"http://h/");
    EXPECT_EQ(INTERNET_SCHEME_HTTP, w.nScheme);
    EXPECT_EQ(80, w.nPort);
    EXPECT_STREQ(L"/", w.strUrlPath);
    EXPECT_EQ(443, UrlComponents<wchar_t>(L"https://h/app").nPort);

    UrlComponents<char> bad("not a url");
    EXPECT_EQ(0, bad.nPort);
    EXPECT_EQ(0, static_cast<int>(bad.nScheme));
    EXPECT_STREQ("", bad.strHostName);
}

class HelperTest : public ServerTest {};

TEST_F(HelperTest, ForwardersRefuseBeforeInit) {
    Client c(L"http://127.0.0.1:1/app", 1000);
    ResponseDetails response;
    std::vector<FieldData> fields;
    std::vector<FileData> files;
    CComBSTR xml(L"<x/>");
    char xml8[] = "<x/>";
    DWORD status = 0xdeadbeef;
    char text[16];
    EXPECT_EQ(E_INVALIDARG, c.GetURLStatusText("s", &status, text, 16));
    EXPECT_EQ(0xdeadbeefu, status);
    EXPECT_EQ(E_INVALIDARG, c.PostFormDataToServer("s", fields, &response));
    EXPECT_EQ(E_INVALIDARG, c.PostXMLDataToServer("s", xml, &response));
    EXPECT_EQ(E_INVALIDARG, c.PostUTF8XMLDataToServer("s", L"", xml8, &response));
    EXPECT_EQ(E_INVALIDARG, c.PostDataToServer("s", files, fields, &response));
    EXPECT_EQ(E_INVALIDARG, c.PostLargeDataToServer("s", files, fields, &response));
}

TEST_F(HelperTest, InitConnectsOnceAndRequestsGoBelowTheUrlPath) {
    Server().Route("/app/op", Reply());
    Client c(Server().UrlW("/app?ignored=1"), 5000);
    EXPECT_STREQ(Server().Url("/app?ignored=1").c_str(), c.m_szUrl);
    ASSERT_TRUE(c.Init());
    HINTERNET session = c.m_hInternet;
    CInternetSendDataBase* engine = c.m_pSendData;
    ASSERT_TRUE(c.Init());
    EXPECT_EQ(session, c.m_hInternet);
    EXPECT_EQ(engine, c.m_pSendData);

    std::vector<FieldData> fields = {{"a", "1"}};
    ResponseDetails response;
    EXPECT_EQ(S_OK, c.PostFormDataToServer("op", fields, &response));
    RecordedRequest r = Server().Request(0);
    EXPECT_EQ("/app/op", r.path);
    EXPECT_EQ("StowhavenOutlookExt-V1.0.0.1", r.Header("User-Agent"));
}

TEST_F(HelperTest, TimeOutAppliesToEveryRequest) {
    Reply hang;
    hang.action = "hang";
    Server().Route("/app/hang", hang);
    Client c(Server().UrlW("/app"), 1000);
    ASSERT_TRUE(c.Init());
    std::vector<FieldData> fields = {{"a", "1"}};
    ResponseDetails response;
    DWORD start = ::GetTickCount();
    EXPECT_PRED1(IsTimeout, c.PostFormDataToServer("hang", fields, &response));
    DWORD elapsed = ::GetTickCount() - start;
    EXPECT_GE(elapsed, 900u);
    EXPECT_LT(elapsed, 6000u);
}

TEST_F(HelperTest, EmptyPathGivesTheRootAsUrlBase) {
    Server().Route("/op", Reply());
    Client c(Server().UrlW(""), 5000);
    ASSERT_TRUE(c.Init());
    DWORD status = 0;
    char text[32];
    EXPECT_EQ(S_OK, c.GetURLStatusText("op", &status, text, 32));
    EXPECT_EQ(200u, status);
    EXPECT_EQ("/op", Server().Request(0).path);
}

} // namespace
