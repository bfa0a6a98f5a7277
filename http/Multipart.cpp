// The engine's multipart/form-data encoder: generators, lengths and writers.
// The announced length and the written bytes come from the same generators,
// so they always agree.
#include "CInternetSendDataBase.h"

#include "CDesktopLog.h"
#include "HkResult.h"
#include "http/MultipartFraming.h"

#include <cstdlib>

CStringA CInternetSendDataBase::GenerateMultipartBoundary() {
    CDesktopLog log("CInternetSendDataBase::GenerateMultipartBoundary");
    // The C runtime's shared sequence, seeded by RetryInterval; the groups
    // need no secrecy.
    unsigned a = static_cast<unsigned>(std::rand());
    unsigned b = static_cast<unsigned>(std::rand());
    unsigned c = static_cast<unsigned>(std::rand());
    CStringA boundary = hk::multipart::Boundary(a, b, c);
    log.LogText(LOG_TRACE, "Multipart Boundary is '%s'\n", boundary.GetString());
    return boundary;
}

CStringA CInternetSendDataBase::GenerateContentTypeHeader(CStringA boundary) {
    CDesktopLog log("CInternetSendDataBase::GenerateContentTypeHeader");
    CStringA header = hk::multipart::ContentTypeHeader(boundary);
    log.LogText(LOG_TRACE, "Content Type Header is '%s'\n", header.GetString());
    return header;
}

CStringA CInternetSendDataBase::GenerateFieldHeader(CStringA boundary, CStringA name) {
    CDesktopLog log("CInternetSendDataBase::GenerateFieldHeader");
    CStringA header = hk::multipart::FieldHeader(boundary, name);
    log.LogText(LOG_TRACE, "Field Header is %s\n", header.GetString());
    return header;
}

CStringA CInternetSendDataBase::GenerateFieldTrailer() {
    CDesktopLog log("CInternetSendDataBase::GenerateFieldTrailer");
    return hk::multipart::PartTrailer();
}

CStringA CInternetSendDataBase::GenerateFileHeader(CStringA boundary, CStringA fieldName, CStringA fileName,
                                                   CStringA contentType) {
    CDesktopLog log("CInternetSendDataBase::GenerateFileHeader");
    CStringA header = hk::multipart::FileHeader(boundary, fieldName, fileName, contentType);
    log.LogText(LOG_TRACE, "File header is %s\n", header.GetString());
    return header;
}

CStringA CInternetSendDataBase::GenerateFileTrailer() {
    CDesktopLog log("CInternetSendDataBase::GenerateFileTrailer");
    return hk::multipart::PartTrailer();
}

CStringA CInternetSendDataBase::GenerateBodyTrailer(CStringA boundary) {
    CDesktopLog log("CInternetSendDataBase::GenerateBodyTrailer");
    CStringA trailer = hk::multipart::BodyTrailer(boundary);
    log.LogText(LOG_TRACE, "Body Trailer is '%s'\n", trailer.GetString());
    return trailer;
}

DWORD CInternetSendDataBase::GetFieldLength(CStringA boundary, CStringA name, CStringA value) {
    CDesktopLog log("CInternetSendDataBase::GetFieldLength");
    DWORD length = static_cast<DWORD>(GenerateFieldHeader(boundary, name).GetLength() + value.GetLength() +
                                      GenerateFieldTrailer().GetLength());
    log.LogTextInt(LOG_TRACE, "Field Length of '%s' is %d'\n", name.GetString(), static_cast<int>(length));
    return length;
}

DWORD CInternetSendDataBase::GetFileDataLength(CStringA boundary, CStringA fieldName, CStringA fileName,
                                               CStringA contentType, int nDataLength, DWORD* pdwFileBytes) {
    CDesktopLog log("CInternetSendDataBase::GetFileDataLength");
    DWORD length =
        static_cast<DWORD>(GenerateFileHeader(boundary, fieldName, fileName, contentType).GetLength()) +
        static_cast<DWORD>(nDataLength) + static_cast<DWORD>(GenerateFileTrailer().GetLength());
    *pdwFileBytes += static_cast<DWORD>(nDataLength);
    log.LogTextInt(LOG_TRACE, "File data length '%s' is '%d'\n", fieldName.GetString(),
                   static_cast<int>(length));
    return length;
}

DWORD CInternetSendDataBase::CalculateContentLength(CStringA boundary, std::vector<FileData>& files,
                                                    std::vector<FieldData>& fields, DWORD* pdwFileBytes) {
    CDesktopLog log("CInternetSendDataBase::CalculateContentLength");
    *pdwFileBytes = 0;
    DWORD length = 0;
    for (const FieldData& field : fields) {
        length += GetFieldLength(boundary, field.strName, field.strValue);
    }
    for (const FileData& file : files) {
        length += GetFileDataLength(boundary, file.strFieldName, file.strFileName, file.strContentType,
                                    file.nDataLength, pdwFileBytes);
    }
    length += static_cast<DWORD>(GenerateBodyTrailer(boundary).GetLength());
    log.LogTextInt(LOG_TRACE, "Content length is %s'%d'\n", "", static_cast<int>(length));
    return length;
}

HRESULT CInternetSendDataBase::WriteToRequest(HINTERNET hRequest, const char* pData, DWORD dwLength) {
    DWORD written = 0;
    if (!::InternetWriteFile(hRequest, pData, dwLength, &written)) {
        return LastError();
    }
    // WinINet writes synchronously and completely or fails; a short write
    // would break the announced length.
    return written == dwLength ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
}

HRESULT CInternetSendDataBase::UploadField(HINTERNET hRequest, CStringA boundary, CStringA name,
                                           CStringA value, CStringA* pCollector) {
    CDesktopLog log("CInternetSendDataBase::UploadField");
    CStringA header = GenerateFieldHeader(boundary, name);
    CStringA trailer = GenerateFieldTrailer();
    log.LogText(LOG_DETAIL, "Field Value is '%s'\n", value.GetString());
    log.LogText(LOG_DETAIL, "Field Header is '%s'\n", name.GetString());
    if (pCollector != nullptr) {
        *pCollector += header;
        *pCollector += value;
        *pCollector += trailer;
        return S_OK;
    }
    for (const CStringA* piece : {&header, &value, &trailer}) {
        HRESULT hr = WriteToRequest(hRequest, piece->GetString(), static_cast<DWORD>(piece->GetLength()));
        if (FAILED(hr)) {
            log.LogTextInt(LOG_ERROR, "InternetWriteFile failed, error = %s%d\n", "",
                           static_cast<int>(::GetLastError()));
            return hr;
        }
    }
    return S_OK;
}

HRESULT CInternetSendDataBase::UploadFile(HINTERNET hRequest, CStringA boundary, CStringA fieldName,
                                          CStringA fileName, CStringA contentType, const BYTE* pData,
                                          int nDataLength) {
    CDesktopLog log("CInternetSendDataBase::UploadFile");
    CStringA header = GenerateFileHeader(boundary, fieldName, fileName, contentType);
    CStringA trailer = GenerateFileTrailer();
    HRESULT hr = WriteToRequest(hRequest, header.GetString(), static_cast<DWORD>(header.GetLength()));
    if (SUCCEEDED(hr)) {
        hr = WriteToRequest(hRequest, reinterpret_cast<const char*>(pData), static_cast<DWORD>(nDataLength));
    }
    if (SUCCEEDED(hr)) {
        hr = WriteToRequest(hRequest, trailer.GetString(), static_cast<DWORD>(trailer.GetLength()));
    }
    return hr;
}

HRESULT CInternetSendDataBase::AddFieldsAndFiles(std::vector<FieldData>& fields, std::vector<FileData>& files,
                                                 CStringA boundary, HINTERNET hRequest,
                                                 CStringA* pCollector) {
    HRESULT r = S_OK;
    CDesktopLog log("CInternetSendDataBase::AddFieldsAndFiles", &r);
    for (size_t i = 0; i < fields.size() && SUCCEEDED(r); ++i) {
        r = UploadField(hRequest, boundary, fields[i].strName, fields[i].strValue, pCollector);
        if (FAILED(r)) {
            log.LogText(LOG_ERROR, "Failed to add field %s, %s\n",
                        CStringW(fields[i].strName.GetString()).GetString(),
                        CStringW(fields[i].strValue.GetString()).GetString());
        }
    }
    // The collected form carries fields only.
    for (size_t i = 0; pCollector == nullptr && i < files.size() && SUCCEEDED(r); ++i) {
        const FileData& file = files[i];
        r = UploadFile(hRequest, boundary, file.strFieldName, file.strFileName, file.strContentType,
                       file.pData, file.nDataLength);
        if (FAILED(r)) {
            log.LogText(LOG_ERROR, "Failed to add file %s, %s\n", file.strFieldName.GetString(),
                        file.strFileName.GetString());
        }
    }
    if (FAILED(r)) {
        return r;
    }
    CStringA trailer = GenerateBodyTrailer(boundary);
    if (pCollector != nullptr) {
        *pCollector += trailer;
        return r;
    }
    HRESULT hr = WriteToRequest(hRequest, trailer.GetString(), static_cast<DWORD>(trailer.GetLength()));
    if (FAILED(hr)) {
        log.LogTextInt(LOG_ERROR, "InternetWriteFile failed, error = %s%d\n", "",
                       static_cast<int>(::GetLastError()));
        return r = hr;
    }
    return r;
}

HRESULT CInternetSendDataBase::AddHeadersToRequest(CStringA boundary, std::vector<FieldData>& fields,
                                                   std::vector<FileData>& files, HINTERNET hRequest,
                                                   DWORD* pdwContentLength, CStringA* pHeaderCollector) {
    CDesktopLog log("CInternetSendDataBase::AddHeadersToRequest");
    CStringA contentType = GenerateContentTypeHeader(boundary);
    DWORD fileBytes = 0;
    *pdwContentLength = CalculateContentLength(boundary, files, fields, &fileBytes);
    CStringA contentLength;
    contentLength.Format("Content-Length: %d", static_cast<int>(*pdwContentLength));
    if (pHeaderCollector != nullptr) {
        *pHeaderCollector = contentType + "\r\n" + contentLength;
        return S_OK;
    }
    // Replacing: a repetition of the request puts its own values on it.
    auto add = [&](const CStringA& header, const char* failedLine, const char* headerLine) {
        if (::HttpAddRequestHeadersA(hRequest, header, static_cast<DWORD>(-1),
                                     HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE)) {
            return S_OK;
        }
        DWORD error = ::GetLastError();
        log.LogInt(LOG_ERROR, failedLine, static_cast<int>(error));
        log.LogText(LOG_ERROR, headerLine, header.GetString());
        return HkHResultFromWin32(error);
    };
    HRESULT hr = add(contentType, "HttpAddRequestHeaders failed for contentTypeHeader '%d'\n",
                     "HttpAddRequestHeaders contentTypeHeader is '%s'\n");
    if (SUCCEEDED(hr)) {
        hr = add(contentLength, "HttpAddRequestHeaders failed for content length '%d'\n",
                 "HttpAddRequestHeaders contentLength is '%s'\n");
    }
    return hr;
}
