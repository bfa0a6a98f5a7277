// The server client base class and the URL splitter.
#include "CHttpClientHelper.h"
#include "HttpTestSupport.h"
#include "TestEnv.h"
#include "UrlComponents.h"

#include <gtest/gtest.h>
#include <wincrypt.h>

using namespace hk::test;

namespace {

// The test authority of tests/http/tls in the machine's root store of this
// prefix, for the life of the object.
class TrustedTestAuthority {
public:
    TrustedTestAuthority() {
        std::string pem = ReadFileText(SourceDir() + L"\\tests\\http\\tls\\ca.pem");
        BYTE der[4096];
        DWORD size = sizeof(der);
        if (!::CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der, &size, nullptr,
                                    nullptr)) {
            return;
        }
        m_store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
        if (m_store != nullptr) {
            ::CertAddEncodedCertificateToStore(m_store, X509_ASN_ENCODING, der, size,
                                               CERT_STORE_ADD_REPLACE_EXISTING, &m_cert);
            // A registry store writes its changes at commit or close: the
            // chain engine reads the registry.
            ::CertControlStore(m_store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        }
    }
    ~TrustedTestAuthority() {
        if (m_cert != nullptr) {
            ::CertDeleteCertificateFromStore(m_cert); // frees the context too
        }
        if (m_store != nullptr) {
            ::CertCloseStore(m_store, 0);
        }
    }
    bool Ok() const { return m_cert != nullptr; }

private:
    HCERTSTORE m_store = nullptr;
    PCCERT_CONTEXT m_cert = nullptr;
};

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

TEST_F(HelperTest, HttpsNeedsATrustedCertificate) {
    TrustedTestAuthority authority;
    ASSERT_TRUE(authority.Ok());
    Reply secret;
    secret.body = "over TLS";
    Server().Route("/app/op", secret);
    std::vector<FieldData> fields = {{"a", "1"}};

    // The listener speaks TLS only: the requests were secure.
    Client trusted(Server().HttpsUrlW("/app"), 5000);
    ASSERT_TRUE(trusted.Init());
    ResponseDetails response;
    EXPECT_EQ(S_OK, trusted.PostFormDataToServer("op", fields, &response));
    EXPECT_EQ(200u, response.dwStatusCode);
    EXPECT_EQ("over TLS", Body(response));
    ASSERT_EQ(1, Server().Count());
    EXPECT_EQ("a=1", Server().Request(0).body);

    Client untrusted(Server().HttpsUrlW("/app", WebServer::Tls::Untrusted), 5000);
    ASSERT_TRUE(untrusted.Init());
    ResponseDetails refused;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INTERNET_INVALID_CA),
              untrusted.PostFormDataToServer("op", fields, &refused));
    EXPECT_EQ(0u, refused.dwStatusCode);
    EXPECT_EQ(1, Server().Count());
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
