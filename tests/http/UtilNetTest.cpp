// URL parameters, the connectivity and authentication probes, the open type
// and the user agent.
#include "HearthkitUtil.h"
#include "HkRegKey.h"
#include "HttpTestSupport.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

using namespace hk::test;

namespace {

const wchar_t kClientKey[] = L"SOFTWARE\\Talvo\\Stowhaven\\Client";

TEST(UrlParameters, AppendAfterMarkerOrAmpersand) {
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
}

TEST(UrlParameters, RpcHostParamTakesSchemeAndPathOfTheApplicationUrl) {
    EXPECT_STREQ(L"shhost=https://H/app",
                 HearthkitUtil::GetRPCSHHostURLParam(L"http://H:8080/x", L"https://other:444/app?z=1"));
    EXPECT_STREQ(L"shhost=http://H/", HearthkitUtil::GetRPCSHHostURLParam(L"https://u@H/x", L"http://o/"));
}

TEST(ClientVersion, UserAgentAndVersionComeFromTheVersionResource) {
    int major = -1, minor = -1, build = -1, revision = -1;
    long flags = -1;
    EXPECT_EQ(S_OK, HearthkitUtil::GetClientDLLVersion(&major, &minor, &build, &revision, &flags));
    EXPECT_EQ(1, major);
    EXPECT_EQ(0, minor);
    EXPECT_EQ(0, build);
    EXPECT_EQ(1, revision);
    EXPECT_EQ(0, flags);
    EXPECT_EQ(S_OK, HearthkitUtil::GetClientDLLVersion(nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ(L"StowhavenOutlookExt-V1.0.0.1", HearthkitUtil::GetSHUserAgent());
}

TEST(OpenType, DirectOnlyWhenConfigured) {
    RegistryKeyGuard user(HKEY_CURRENT_USER, kClientKey);
    RegistryKeyGuard machine(HKEY_LOCAL_MACHINE, kClientKey);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kClientKey, L"INTERNETOPENTYPEDIRECT");
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kClientKey, L"INTERNETOPENTYPEDIRECT");
    EXPECT_EQ(static_cast<DWORD>(INTERNET_OPEN_TYPE_PRECONFIG), HearthkitUtil::GetInternetOpenType());
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, kClientKey));
    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"INTERNETOPENTYPEDIRECT", 1));
    EXPECT_EQ(static_cast<DWORD>(INTERNET_OPEN_TYPE_DIRECT), HearthkitUtil::GetInternetOpenType());
    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"INTERNETOPENTYPEDIRECT", 0));
    EXPECT_EQ(static_cast<DWORD>(INTERNET_OPEN_TYPE_PRECONFIG), HearthkitUtil::GetInternetOpenType());
}

class Probe : public ServerTest {};

std::string Gif(size_t n) {
    return "GIF89a" + std::string(n - 6, '\x01');
}

TEST_F(Probe, TestImageMustBeA43ByteGif) {
    Reply good;
    good.body = Gif(43);
    good.Header("Content-Type", "image/gif");
    Reply upper = good;
    upper.headers[0].second = "IMAGE/GIF";
    Reply unannounced = good;
    unannounced.length = "none";
    Reply shortImage = good;
    shortImage.body = Gif(42);
    Reply longUnannounced = unannounced;
    longUnannounced.body = Gif(100);
    Reply html = good;
    html.headers[0].second = "text/html";
    Server().Route("/a/clienttest.gif", good);
    Server().Route("/b/clienttest.gif", upper);
    Server().Route("/c/clienttest.gif", unannounced);
    Server().Route("/d/clienttest.gif", shortImage);
    Server().Route("/e/clienttest.gif", longUnannounced);
    Server().Route("/f/clienttest.gif", html);

    DWORD flags = 0xdeadbeef;
    EXPECT_TRUE(HearthkitUtil::HasInternetConnection(Server().UrlW("/a/clienttest.gif").c_str(), &flags,
                                                     nullptr, false));
    EXPECT_NE(0xdeadbeefu, flags);
    EXPECT_TRUE(HearthkitUtil::HasInternetConnection(Server().UrlW("/b/clienttest.gif").c_str(), nullptr,
                                                     nullptr, false));
    EXPECT_TRUE(HearthkitUtil::HasInternetConnection(Server().UrlW("/c/clienttest.gif").c_str(), nullptr,
                                                     nullptr, false));
    EXPECT_FALSE(HearthkitUtil::HasInternetConnection(Server().UrlW("/d/clienttest.gif").c_str(), nullptr,
                                                      nullptr, false));
    EXPECT_FALSE(HearthkitUtil::HasInternetConnection(Server().UrlW("/e/clienttest.gif").c_str(), nullptr,
                                                      nullptr, false));
    EXPECT_FALSE(HearthkitUtil::HasInternetConnection(Server().UrlW("/f/clienttest.gif").c_str(), nullptr,
                                                      nullptr, false));
    EXPECT_FALSE(HearthkitUtil::HasInternetConnection(nullptr, nullptr, nullptr, false));
}

TEST_F(Probe, OtherUrlsConnectOnlyThroughA401) {
    Reply ok;
    Reply denied;
    denied.status = 401;
    denied.reason = "Unauthorized";
    denied.Header("WWW-Authenticate", "Basic realm=\"x\"");
    Reply forbidden;
    forbidden.status = 403;
    forbidden.reason = "Forbidden";
    Server().Route("/ok", ok);
    Server().Route("/denied", denied);
    Server().Route("/forbidden", forbidden);
    Reply extra;
    Server().Route("/headers", extra);
    EXPECT_FALSE(HearthkitUtil::HasInternetConnection(Server().UrlW("/ok").c_str(), nullptr, nullptr, false));
    EXPECT_TRUE(
        HearthkitUtil::HasInternetConnection(Server().UrlW("/denied").c_str(), nullptr, nullptr, false));
    EXPECT_FALSE(
        HearthkitUtil::HasInternetConnection(Server().UrlW("/forbidden").c_str(), nullptr, nullptr, false));
    EXPECT_FALSE(
        HearthkitUtil::HasInternetConnection(Server().UrlW("/missing").c_str(), nullptr, nullptr, false));
    EXPECT_FALSE(HearthkitUtil::HasInternetConnection(Server().UrlW("/headers").c_str(), nullptr,
                                                      L"X-Probe: 1\r\n", false));
    RecordedRequest r = Server().Request(Server().Count() - 1);
    EXPECT_EQ("1", r.Header("X-Probe"));
    EXPECT_EQ("StowhavenOutlookExt-V1.0.0.1", r.Header("User-Agent"));
}

TEST_F(Probe, BasicAuthenticationOnlyWhenTheFirstChallengeIsBasic) {
    Reply basic;
    basic.status = 401;
    basic.reason = "Unauthorized";
    basic.Header("WWW-Authenticate", "Basic realm=\"a long realm name\"");
    Reply negotiate = basic;
    negotiate.headers = {{"WWW-Authenticate", "Negotiate"}, {"WWW-Authenticate", "Basic realm=\"x\""}};
    Server().Route("/basic", basic);
    Server().Route("/negotiate", negotiate);
    Server().Route("/ok", Reply());
    EXPECT_TRUE(HearthkitUtil::IsUsingBasicAuthentication(Server().UrlW("/basic").c_str()));
    EXPECT_FALSE(HearthkitUtil::IsUsingBasicAuthentication(Server().UrlW("/negotiate").c_str()));
    EXPECT_FALSE(HearthkitUtil::IsUsingBasicAuthentication(Server().UrlW("/ok").c_str()));
    EXPECT_FALSE(HearthkitUtil::IsUsingBasicAuthentication(nullptr));
}

} // namespace
