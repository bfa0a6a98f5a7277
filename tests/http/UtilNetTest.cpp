// URL parameters, the connectivity and authentication probes, the open type.
#include "HearthkitUtil.h"
#include "ClientKeys.h"
#include "HttpTestSupport.h"

#include <gtest/gtest.h>

using namespace hk::test;

namespace {

TEST(UrlParameters, AppendAfterMarkerOrAmpersandAndRpcHost) {
    CStringW url(L"http://h/p");
    HearthkitUtil::AddParameterToURL(url, L"a=1");
    EXPECT_STREQ(L"http://h/p?x=shoutlookext&a=1", url);
    HearthkitUtil::AddParameterToURL(url, L"b=%20");
    EXPECT_STREQ(L"http://h/p?x=shoutlookext&a=1&b=%20", url);
    HearthkitUtil::AddParameterToURL(url, L"");
    EXPECT_STREQ(L"http://h/p?x=shoutlookext&a=1&b=%20", url);
    CStringA narrow("http://h/p?q");
    HearthkitUtil::AddParameterToURLA(narrow, "a=1");
    EXPECT_STREQ("http://h/p?q&a=1", narrow);
    // The RPC host parameter takes scheme and path of the application URL.
    EXPECT_STREQ(L"shhost=https://H/app",
                 HearthkitUtil::GetRPCSHHostURLParam(L"http://H:8080/x", L"https://other:444/app?z=1"));
    EXPECT_STREQ(L"shhost=http://H/", HearthkitUtil::GetRPCSHHostURLParam(L"https://u@H/x", L"http://o/"));
}

TEST(OpenType, DirectOnlyWhenConfigured) {
    ClientKeys keys;
    EXPECT_EQ(static_cast<DWORD>(INTERNET_OPEN_TYPE_PRECONFIG), HearthkitUtil::GetInternetOpenType());
    for (DWORD direct : {1u, 0u}) {
        keys.SetDword(HKEY_CURRENT_USER, kClientKey, L"INTERNETOPENTYPEDIRECT", direct);
        EXPECT_EQ(static_cast<DWORD>(direct ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PRECONFIG),
                  HearthkitUtil::GetInternetOpenType());
    }
}

class Probe : public ServerTest {};

// The test image must be a 43-byte GIF; any other URL connects only through a
// 401.
TEST_F(Probe, ConnectsOnlyOnTheTestImageOrA401) {
    Reply gif = Answer("GIF89a" + std::string(37, '\x01')).Header("Content-Type", "image/gif");
    Reply upper = gif, unannounced = gif, shorter = gif, longer = gif, html = gif;
    upper.headers[0].second = "IMAGE/GIF";
    unannounced.length = longer.length = "none";
    shorter.body.pop_back();
    longer.body += std::string(57, '\x01');
    html.headers[0].second = "text/html";
    const struct {
        const char* path;
        Reply reply;
        bool connected;
    } cases[] = {{"/a/clienttest.gif", gif, true},
                 {"/b/clienttest.gif", upper, true},
                 {"/c/clienttest.gif", unannounced, true},
                 {"/d/clienttest.gif", shorter, false},
                 {"/e/clienttest.gif", longer, false},
                 {"/f/clienttest.gif", html, false},
                 {"/ok", Reply(), false},
                 {"/denied", Challenge(), true},
                 {"/forbidden", Status(403, "Forbidden"), false}};
    for (const auto& c : cases) {
        Server().Route(c.path, c.reply);
        EXPECT_EQ(c.connected, HearthkitUtil::HasInternetConnection(Server().UrlW(c.path).c_str(), nullptr,
                                                                    nullptr, false))
            << c.path;
    }
    DWORD flags = 0xdeadbeef;
    EXPECT_TRUE(HearthkitUtil::HasInternetConnection(Server().UrlW("/a/clienttest.gif").c_str(), &flags,
                                                     nullptr, false));
    EXPECT_NE(0xdeadbeefu, flags);
    EXPECT_FALSE(HearthkitUtil::HasInternetConnection(nullptr, nullptr, nullptr, false));
    EXPECT_FALSE(HearthkitUtil::HasInternetConnection(Server().UrlW("/missing").c_str(), nullptr,
                                                      L"X-Probe: 1\r\n", false));
    RecordedRequest r = Server().Request(Server().Count() - 1);
    EXPECT_EQ("1", r.Header("X-Probe"));
    EXPECT_EQ("StowhavenOutlookExt-V1.0.0.1", r.Header("User-Agent"));
}

TEST_F(Probe, BasicAuthenticationOnlyWhenTheFirstChallengeIsBasic) {
    Reply negotiate = Challenge("Negotiate").Header("WWW-Authenticate", "Basic realm=\"x\"");
    Server().Route("/basic", Challenge("Basic realm=\"a long realm name\""));
    Server().Route("/negotiate", negotiate);
    Server().Route("/ok", Reply());
    EXPECT_TRUE(HearthkitUtil::IsUsingBasicAuthentication(Server().UrlW("/basic").c_str()));
    EXPECT_FALSE(HearthkitUtil::IsUsingBasicAuthentication(Server().UrlW("/negotiate").c_str()));
    EXPECT_FALSE(HearthkitUtil::IsUsingBasicAuthentication(Server().UrlW("/ok").c_str()));
    EXPECT_FALSE(HearthkitUtil::IsUsingBasicAuthentication(nullptr));
}

} // namespace
