// CHttpClientHelper: base class of the product's clients of one archive web
// server URL. Init splits the URL, opens a WinINet session with the product's
// user agent and configured open type, connects to the host and creates the
// request engine; the protected forwarders issue requests with URL suffixes
// relative to the server URL.
#pragma once

#include "HearthkitExport.h"
#include "CInternetSendDataBase.h"
#include "HkCom.h"
#include "HkString.h"

#include <windows.h>
#include <wininet.h>
#include <vector>

class HEARTHKIT_API CHttpClientHelper {
public:
    // dwTimeout: send and receive time-out in milliseconds.
    CHttpClientHelper(CComBSTR& bstrUrl, DWORD dwTimeout);
    virtual ~CHttpClientHelper();
    CHttpClientHelper(const CHttpClientHelper&) = delete;
    CHttpClientHelper& operator=(const CHttpClientHelper&) = delete;

protected:
    virtual bool Init();
    bool OpenInternet();
    bool ConnectToInternet(const CStringA& strHostName, INTERNET_PORT nPort);
    bool CloseInternet();

    // Forwarders to the engine; E_INVALIDARG until Init has succeeded.
    HRESULT GetURLStatusText(const char* szUrl, DWORD* pdwStatusCode, char* szStatusText,
                             int nStatusTextSize);
    HRESULT PostFormDataToServer(const char* szUrl, std::vector<FieldData>& fields,
                                 ResponseDetails* pResponse);
    HRESULT PostXMLDataToServer(const char* szUrl, CComBSTR& bstrXML, ResponseDetails* pResponse);
    HRESULT PostUTF8XMLDataToServer(const char* szUrl, CStringW strHeaders, char* szXML,
                                    ResponseDetails* pResponse);
    HRESULT PostDataToServer(const char* szUrl, std::vector<FileData>& files, std::vector<FieldData>& fields,
                             ResponseDetails* pResponse);
    HRESULT PostLargeDataToServer(const char* szUrl, std::vector<FileData>& files,
                                  std::vector<FieldData>& fields, ResponseDetails* pResponse);

    HINTERNET m_hConnect;
    CInternetSendDataBase* m_pSendData;
    bool m_bInitialised;
    char* m_szUrl;
    HINTERNET m_hInternet;
    DWORD m_dwTimeout;

private:
    HINTERNET SHInternetOpen(const wchar_t* szUserAgent, DWORD dwAccessType, const wchar_t* szProxy,
                             const wchar_t* szProxyBypass, DWORD dwFlags);
    void SetIEResponseTimeout(HINTERNET hInternet, DWORD dwTimeout);
};
