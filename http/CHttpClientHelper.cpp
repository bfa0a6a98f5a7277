#include "CHttpClientHelper.h"

#include "CDesktopLog.h"
#include "HearthkitUtil.h"
#include "UrlComponents.h"

CHttpClientHelper::CHttpClientHelper(CComBSTR& bstrUrl, DWORD dwTimeout)
    : m_hConnect(nullptr), m_pSendData(nullptr), m_bInitialised(false), m_szUrl(nullptr),
      m_hInternet(nullptr), m_dwTimeout(dwTimeout) {
    // The thread's ANSI code page: ASCII URLs reach WinINet unchanged.
    const wchar_t* url = bstrUrl.m_str != nullptr ? bstrUrl.m_str : L"";
    int length = ::WideCharToMultiByte(CP_THREAD_ACP, 0, url, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        length = 1;
    }
    m_szUrl = new char[static_cast<size_t>(length) + 1]();
    ::WideCharToMultiByte(CP_THREAD_ACP, 0, url, -1, m_szUrl, length, nullptr, nullptr);
    m_szUrl[length] = '\0';
}

CHttpClientHelper::~CHttpClientHelper() {
    // The engine is always created here as a CInternetSendDataBase itself,
    // so its non-virtual destructor is the right one.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"
    delete m_pSendData;
#pragma GCC diagnostic pop
    m_pSendData = nullptr;
    delete[] m_szUrl;
    m_szUrl = nullptr;
    // Closing the session ends the connection under it.
    CloseInternet();
}

bool CHttpClientHelper::Init() {
    CDesktopLog log("CHttpClientHelper::Init");
    if (m_bInitialised) {
        return true;
    }
    UrlComponents<char> url(m_szUrl);
    // A null, empty or unsplittable URL names no server.
    if (url.strHostName.IsEmpty()) {
        log.LogText(LOG_ERROR, "No server host in the URL \"%s\"\n", m_szUrl);
        return false;
    }
    INTERNET_PORT port = url.nPort;
    if (port == 0) {
        port =
            url.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    }
    log.LogText(LOG_DETAIL, "\tUsing hostname: %s\n", url.strHostName.GetString());
    log.LogText(LOG_DETAIL, "\tUsing URL base: %s\n", url.strUrlPath.GetString());
    log.LogInt(LOG_DETAIL, "\tUsing internet scheme: %d\n", static_cast<int>(url.nScheme));
    log.LogInt(LOG_DETAIL, "\tUsing internet port: %d\n", static_cast<int>(port));
    if (!OpenInternet() || !ConnectToInternet(url.strHostName, port)) {
        return false;
    }
    // The engine's object names are the URL path, "/" and each operation's suffix.
    m_pSendData = new CInternetSendDataBase(m_hConnect, url.nScheme, url.strUrlPath + "/", false);
    m_bInitialised = true;
    return m_bInitialised;
}

bool CHttpClientHelper::OpenInternet() {
    CDesktopLog log("CHttpClientHelper::OpenInternet");
    if (m_hInternet != nullptr) {
        // A failed Init may be called again: the earlier session is reused.
        return true;
    }
    CStringW userAgent = HearthkitUtil::GetSHUserAgent();
    m_hInternet = SHInternetOpen(userAgent, HearthkitUtil::GetInternetOpenType(), nullptr, nullptr, 0);
    return m_hInternet != nullptr;
}

bool CHttpClientHelper::ConnectToInternet(const CStringA& strHostName, INTERNET_PORT nPort) {
    CDesktopLog log("CHttpClientHelper::ConnectToInternet");
    // Credentials in the URL are not used: authentication happens per request.
    m_hConnect =
        ::InternetConnectA(m_hInternet, strHostName, nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    // Wine's WinINet keeps the session's time-outs to the session: set on the
    // connection too, they reach every request, as on Windows.
    SetIEResponseTimeout(m_hConnect, m_dwTimeout);
    return m_hConnect != nullptr;
}

bool CHttpClientHelper::CloseInternet() {
    CDesktopLog log("CHttpClientHelper::CloseInternet");
    if (m_hInternet == nullptr) {
        return false;
    }
    BOOL closed = ::InternetCloseHandle(m_hInternet);
    m_hInternet = nullptr;
    m_hConnect = nullptr;
    return closed == TRUE;
}

HINTERNET CHttpClientHelper::SHInternetOpen(const wchar_t* szUserAgent, DWORD dwAccessType,
                                            const wchar_t* szProxy, const wchar_t* szProxyBypass,
                                            DWORD dwFlags) {
    HINTERNET hInternet = ::InternetOpenW(szUserAgent, dwAccessType, szProxy, szProxyBypass, dwFlags);
    if (hInternet != nullptr) {
        SetIEResponseTimeout(hInternet, m_dwTimeout);
    }
    return hInternet;
}

void CHttpClientHelper::SetIEResponseTimeout(HINTERNET hInternet, DWORD dwTimeout) {
    if (hInternet == nullptr) {
        return;
    }
    // Set on the session, the time-outs apply to every request under it.
    ::InternetSetOptionW(hInternet, INTERNET_OPTION_RECEIVE_TIMEOUT, &dwTimeout, sizeof(dwTimeout));
    ::InternetSetOptionW(hInternet, INTERNET_OPTION_SEND_TIMEOUT, &dwTimeout, sizeof(dwTimeout));
}

// The forwarders: E_INVALIDARG until Init has created the engine.
#define HK_FORWARD(name, call)                                                                               \
    HRESULT hr = E_INVALIDARG;                                                                               \
    CDesktopLog log("CHttpClientHelper::" name, &hr);                                                        \
    if (m_pSendData != nullptr) {                                                                            \
        hr = m_pSendData->call;                                                                              \
    }                                                                                                        \
    return hr

HRESULT CHttpClientHelper::GetURLStatusText(const char* szUrl, DWORD* pdwStatusCode, char* szStatusText,
                                            int nStatusTextSize) {
    HK_FORWARD("GetURLStatusText", GetURLStatusText(szUrl, pdwStatusCode, szStatusText, nStatusTextSize));
}

HRESULT CHttpClientHelper::PostFormDataToServer(const char* szUrl, std::vector<FieldData>& fields,
                                                ResponseDetails* pResponse) {
    HK_FORWARD("PostFormDataToServer", PostFormDataToServer(szUrl, fields, pResponse));
}

HRESULT CHttpClientHelper::PostXMLDataToServer(const char* szUrl, CComBSTR& bstrXML,
                                               ResponseDetails* pResponse) {
    HK_FORWARD("PostXMLDataToServer", PostXMLDataToServer(szUrl, bstrXML, pResponse));
}

HRESULT CHttpClientHelper::PostUTF8XMLDataToServer(const char* szUrl, CStringW strHeaders, char* szXML,
                                                   ResponseDetails* pResponse) {
    HK_FORWARD("PostUTF8XMLDataToServer", PostUTF8XMLDataToServer(szUrl, strHeaders, szXML, pResponse));
}

HRESULT CHttpClientHelper::PostDataToServer(const char* szUrl, std::vector<FileData>& files,
                                            std::vector<FieldData>& fields, ResponseDetails* pResponse) {
    HK_FORWARD("PostDataToServer", PostDataToServer(szUrl, files, fields, pResponse));
}

HRESULT CHttpClientHelper::PostLargeDataToServer(const char* szUrl, std::vector<FileData>& files,
                                                 std::vector<FieldData>& fields, ResponseDetails* pResponse) {
    HK_FORWARD("PostLargeDataToServer", PostLargeDataToServer(szUrl, files, fields, pResponse));
}
