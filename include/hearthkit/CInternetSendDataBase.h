// CInternetSendDataBase: the engine under every HTTP exchange with the archive
// web server. One instance serves one WinINet connection: it opens requests,
// runs the authentication probe a streamed upload needs, encodes multipart
// bodies and reads replies into a ResponseDetails record. A 401 goes to the
// virtual DisplayLoginDialog; when the user enters credentials the exchange is
// sent again.
#pragma once

#include "HearthkitExport.h"
#include "HkCom.h"
#include "HkString.h"

#include <windows.h>
#include <wininet.h>
#include <vector>

// The reply of one exchange. pBody and pHeaders are C-heap buffers (malloc)
// holding the bytes received followed by one NUL; their lengths count that
// NUL, and 0 means empty (null pointer). A record reused without Reset
// accumulates body and headers.
//
// Reading a reply costs time in proportion to its size: a body whose
// Content-Length is announced gets its buffer once; otherwise the buffer
// doubles as it fills (a grown buffer touches no more pages than the old one
// held until it fills, so the memory in use stays within twice the body) and
// is cut to the exact length when the body ends. Each read asks InternetReadFile
// for up to 1 MiB, more than InternetQueryDataAvailable reports when the
// buffer has the room (WinINet reports a few KiB at a time, and each query
// is a round through the network layer); the bytes stored are the same, and
// the "Body is" line stands once per read. A reply that would pass the
// 4 GiB a DWORD length can count fails with HRESULT_FROM_WIN32(
// ERROR_FILE_TOO_LARGE), unread when its Content-Length says so at once; a
// buffer that cannot grow fails the exchange with E_OUTOFMEMORY. In both
// cases the record keeps what it held before the failing read.
struct HEARTHKIT_API ResponseDetails {
    ResponseDetails();
    ~ResponseDetails();
    ResponseDetails(const ResponseDetails&) = delete;
    ResponseDetails& operator=(const ResponseDetails&) = delete;
    void Reset();

    char* pBody;
    DWORD dwBodyLength;
    char* pHeaders;
    DWORD dwHeadersLength;
    DWORD dwStatusCode;
    char szStatusText[500];
    DWORD dwStatusTextSize;
};

// One form field; name and value go on the wire as they are.
struct FieldData {
    CStringA strName;
    CStringA strValue;
};

// One file part of a multipart upload. The caller owns pData and keeps it
// alive until the request operation returns.
struct FileData {
    CStringA strFieldName;
    CStringA strFileName;
    const BYTE* pData = nullptr;
    int nDataLength = 0;
    CStringA strContentType;
};

class HEARTHKIT_API CInternetSendDataBase {
public:
    enum RequestType { NormalRequest = 0, LargeRequest = 1 };

    // hConnect is not owned: it ends with the creator's session.
    CInternetSendDataBase(HINTERNET hConnect, INTERNET_SCHEME nScheme, const CStringA& strUrlBase,
                          bool bCredentialsEstablished);
    ~CInternetSendDataBase();
    CInternetSendDataBase(const CInternetSendDataBase&) = delete;
    CInternetSendDataBase& operator=(const CInternetSendDataBase&) = delete;

    // Request operations. szUrl is appended to the instance's URL base.
    HRESULT GetDataFromServer(const char* szUrl, ResponseDetails* pResponse);
    HRESULT GetURLStatusText(const char* szUrl, DWORD* pdwStatusCode, char* szStatusText,
                             int nStatusTextSize);
    HRESULT PostFormDataToServer(const char* szUrl, std::vector<FieldData>& fields,
                                 ResponseDetails* pResponse);
    HRESULT PostXMLDataToServer(const char* szUrl, CComBSTR& bstrXML, ResponseDetails* pResponse);
    HRESULT PostUTF8XMLDataToServer(const char* szUrl, CStringW strHeaders, const char* szXML,
                                    ResponseDetails* pResponse);
    // Field-only multipart post sent in one call; a non-empty file list is
    // refused with E_INVALIDARG (files go through PostLargeDataToServer).
    HRESULT PostDataToServer(const char* szUrl, std::vector<FileData>& files, std::vector<FieldData>& fields,
                             ResponseDetails* pResponse);
    HRESULT PostLargeDataToServer(const char* szUrl, std::vector<FileData>& files,
                                  std::vector<FieldData>& fields, ResponseDetails* pResponse);

protected:
    // Shows WinINet's credentials dialog for a 401; answers
    // ERROR_INTERNET_FORCE_RETRY when the request now carries credentials.
    virtual DWORD DisplayLoginDialog(HINTERNET hRequest, DWORD dwStatusCode, char* szStatusText);
    // Ends a streamed request (HttpEndRequestW); a derived class may stand in
    // for WinINet here, e.g. to ask for a resend.
    virtual BOOL EndRequest(HINTERNET hRequest);

private:
    HINTERNET OpenRequest(const char* szUrl, const char* szVerb, RequestType type);
    bool EstablishLoginCredentialsForLargeRequest(HINTERNET hRequest);
    HRESULT ReadResponse(HINTERNET hRequest, ResponseDetails& response, bool& bRetry);
    HRESULT ReadStatusCode(HINTERNET hRequest, DWORD* pdwStatusCode, char* szStatusText,
                           DWORD dwStatusTextSize);
    HRESULT ReadResponseHeaders(HINTERNET hRequest, char** ppStore, DWORD* pdwStoreLength);
    HRESULT ReadResponseBody(HINTERNET hRequest, char** ppStore, DWORD* pdwStoreLength);
    HRESULT CheckResponseTypeIsXML(HINTERNET hRequest);
    HRESULT AddDataToStore(const char* pData, DWORD dwSize, char** ppStore, DWORD* pdwStoreLength);
    HRESULT LastError();

    CStringA GenerateMultipartBoundary();
    CStringA GenerateContentTypeHeader(CStringA boundary);
    CStringA GenerateFieldHeader(CStringA boundary, CStringA name);
    CStringA GenerateFieldTrailer();
    CStringA GenerateFileHeader(CStringA boundary, CStringA fieldName, CStringA fileName,
                                CStringA contentType);
    CStringA GenerateFileTrailer();
    CStringA GenerateBodyTrailer(CStringA boundary);
    DWORD GetFieldLength(CStringA boundary, CStringA name, CStringA value);
    DWORD GetFileDataLength(CStringA boundary, CStringA fieldName, CStringA fileName, CStringA contentType,
                            int nDataLength, DWORD* pdwFileBytes);
    DWORD CalculateContentLength(CStringA boundary, std::vector<FileData>& files,
                                 std::vector<FieldData>& fields, DWORD* pdwFileBytes);
    HRESULT UploadField(HINTERNET hRequest, CStringA boundary, CStringA name, CStringA value,
                        CStringA* pCollector);
    HRESULT UploadFile(HINTERNET hRequest, CStringA boundary, CStringA fieldName, CStringA fileName,
                       CStringA contentType, const BYTE* pData, int nDataLength);
    HRESULT AddFieldsAndFiles(std::vector<FieldData>& fields, std::vector<FileData>& files, CStringA boundary,
                              HINTERNET hRequest, CStringA* pCollector);
    HRESULT AddHeadersToRequest(CStringA boundary, std::vector<FieldData>& fields,
                                std::vector<FileData>& files, HINTERNET hRequest, DWORD* pdwContentLength,
                                CStringA* pHeaderCollector);

    HRESULT WriteToRequest(HINTERNET hRequest, const char* pData, DWORD dwLength);

    HINTERNET m_hConnect;
    INTERNET_SCHEME m_nScheme;
    CStringA m_strUrlBase;
    bool m_bCredentialsEstablished;
};
