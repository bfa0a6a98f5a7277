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
// prefix, for the life of the object. A registry store writes its changes at
// commit or close: the chain engine reads the registry.
struct TrustedTestAuthority {
    TrustedTestAuthority() {
        std::string pem = ReadFileText(SourceDir() + L"\\tests\\http\\tls\\ca.pem");
        BYTE der[4096];
        DWORD size = sizeof(der);
        if (::CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der, &size, nullptr, nullptr) &&
            ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, size,
                                               CERT_STORE_ADD_REPLACE_EXISTING, &cert)) {
            ::CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        }
    }
    ~TrustedTestAuthority() {
        if (cert != nullptr) {
            ::CertDeleteCertificateFromStore(cert); // frees the context too
        }
        ::CertCloseStore(store, 0);
    }
    HCERTSTORE store =
        ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    PCCERT_CONTEXT cert = nullptr;
};

class Client : public CHttpClientHelper {
public:
    Client(const std::wstring& url, DWORD timeout, CComBSTR&& bstr = CComBSTR())
        : CHttpClientHelper(bstr = url.c_str(), timeout) {}
    using CHttpClientHelper::GetURLStatusText;
    using CHttpClientHelper::Init;
    using CHttpClientHelper::m_hInternet;
    using CHttpClientHelper::m_pSendData;
    using CHttpClientHelper::PostFormDataToServer;
    using CHttpClientHelper::PostLargeDataToServer;
};

// The other parts reach the server in the helper's and hkdiag's runs: here
// the ports by scheme, and the empty parts, scheme 0 and port 0 of a URL
// WinINet cannot split.
TEST(UrlComponents, DefaultsThePortAndLeavesAnUnsplittableUrlEmpty) {
    EXPECT_EQ(80, UrlComponents<wchar_t>(L"http://h/").nPort);
    EXPECT_EQ(443, UrlComponents<char>("https://h/app").nPort);
    UrlComponents<char> bad("not a url");
    EXPECT_EQ(0, bad.nPort + static_cast<int>(bad.nScheme));
    EXPECT_STREQ("", bad.strHostName);
}

class HelperTest : public ServerTest {};

TEST_F(HelperTest, ForwardersRefuseBeforeInitThenInitConnectsOnceBelowTheUrlPath) {
    Server().Route("/app/op", Reply());
    Server().Route("/op", Reply());
    Client c(Server().UrlW("/app?ignored=1"), 5000);
    ResponseDetails response;
    std::vector<FieldData> fields = {{"a", "1"}};
    std::vector<FileData> files;
    DWORD status = 0xdeadbeef;
    char text[16];
    EXPECT_EQ(E_INVALIDARG, c.GetURLStatusText("op", &status, text, 16));
    EXPECT_EQ(0xdeadbeefu, status);
    EXPECT_EQ(E_INVALIDARG, c.PostLargeDataToServer("op", files, fields, &response));
    EXPECT_EQ(0, Server().Count());

    ASSERT_TRUE(c.Init());
    HINTERNET session = c.m_hInternet;
    CInternetSendDataBase* engine = c.m_pSendData;
    ASSERT_TRUE(c.Init());
    EXPECT_EQ(session, c.m_hInternet);
    EXPECT_EQ(engine, c.m_pSendData);
    EXPECT_EQ(S_OK, c.PostFormDataToServer("op", fields, &response));
    RecordedRequest r = Server().Request(0);
    EXPECT_EQ("/app/op", r.path);
    EXPECT_EQ("StowhavenOutlookExt-V1.0.0.1", r.Header("User-Agent"));

    // No path: the root is the base.
    Client root(Server().UrlW(""), 5000);
    ASSERT_TRUE(root.Init());
    EXPECT_EQ(S_OK, root.GetURLStatusText("op", &status, text, 16));
    EXPECT_EQ(200u, status);
    EXPECT_EQ("/op", Server().Request(1).path);
}

TEST_F(HelperTest, TimeOutAppliesToEveryRequest) {
    Server().Route("/app/hang", Answer("", "auto", "hang"));
    Client c(Server().UrlW("/app"), 1000);
    ASSERT_TRUE(c.Init());
    std::vector<FieldData> fields = {{"a", "1"}};
    ResponseDetails response;
    DWORD start = ::GetTickCount();
    // ERROR_INTERNET_TIMEOUT on Windows; Wine reports ERROR_INTERNET_CONNECTION_ABORTED
    // when the time-out ends the connection.
    HRESULT hr = c.PostFormDataToServer("hang", fields, &response);
    EXPECT_TRUE(hr == HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT) ||
                hr == HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_ABORTED))
        << std::hex << hr;
    DWORD elapsed = ::GetTickCount() - start;
    EXPECT_GE(elapsed, 900u);
    EXPECT_LT(elapsed, 6000u);
}

// The listener speaks TLS only: a request that got through was secure.
TEST_F(HelperTest, HttpsNeedsATrustedCertificate) {
    TrustedTestAuthority authority;
    ASSERT_NE(nullptr, authority.cert);
    Server().Route("/app/op", Answer("over TLS"));
    std::vector<FieldData> fields = {{"a", "1"}};
    Client trusted(Server().HttpsUrlW("/app"), 5000),
        untrusted(Server().HttpsUrlW("/app", WebServer::Tls::Untrusted), 5000);
    ASSERT_TRUE(trusted.Init() && untrusted.Init());
    ResponseDetails response, refused;
    EXPECT_EQ(S_OK, trusted.PostFormDataToServer("op", fields, &response));
    EXPECT_EQ("over TLS", Body(response));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INTERNET_INVALID_CA),
              untrusted.PostFormDataToServer("op", fields, &refused));
    EXPECT_EQ(0u, refused.dwStatusCode);
    ASSERT_EQ(1, Server().Count());
    EXPECT_EQ("a=1", Server().Request(0).body);
}

} // namespace
