// Placeholder: the log's records are filled in by the log's own change.
#include "CDesktopLog.h"

#include <comdef.h>
#include <cstring>

CDesktopLog::CDesktopLog(const char* name, HRESULT* phr, const char* prefix)
    : m_szFunctionName(), m_phr(phr), m_szTimeStamp(), m_wszTimeStamp() {
    if (prefix != nullptr) {
        m_strPrefix = std::string(prefix) + ": ";
    }
    if (name != nullptr) {
        strncpy(m_szFunctionName, name, 255);
    }
}
CDesktopLog::~CDesktopLog() = default;
CDesktopLog::CDesktopLog(const CDesktopLog& other) = default;
CDesktopLog& CDesktopLog::operator=(const CDesktopLog& other) = default;
const char* CDesktopLog::GetFunctionName() const { return m_szFunctionName; }
bool CDesktopLog::IsEnabled() { return false; }
int CDesktopLog::ReturnLogLevel() { return -255; }
bool CDesktopLog::IsSHMSPTracingEnabled() { return false; }
std::wstring CDesktopLog::GetFilename() { return std::wstring(); }
HRESULT CDesktopLog::Close() { return S_OK; }
HRESULT CDesktopLog::LogText(LogLevel, const char*) { return S_OK; }
HRESULT CDesktopLog::LogText(LogLevel, const wchar_t*) { return S_OK; }
HRESULT CDesktopLog::LogText(LogLevel, const char*, const char*, const char*, const char*, const char*,
                             const char*, const char*, const char*, const char*) {
    return S_OK;
}
HRESULT CDesktopLog::LogText(LogLevel, const char*, const wchar_t*, const wchar_t*, const wchar_t*,
                             const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*) {
    return S_OK;
}
HRESULT CDesktopLog::LogInt(LogLevel, const char*, int, int, int, int, int, int, int, int) { return S_OK; }
HRESULT CDesktopLog::LogLong(LogLevel, const char*, long, long, long, long, long, long, long, long) { return S_OK; }
HRESULT CDesktopLog::LogInt64(LogLevel, const char*, __int64, __int64, __int64, __int64, __int64, __int64,
                              __int64, __int64) {
    return S_OK;
}
HRESULT CDesktopLog::LogTextInt(LogLevel, const char*, const char*, int) { return S_OK; }
HRESULT CDesktopLog::LogTextInt(LogLevel, const char*, const wchar_t*, int) { return S_OK; }
HRESULT CDesktopLog::LogHR(LogLevel, const char*, HRESULT) { return S_OK; }
HRESULT CDesktopLog::LogHR(LogLevel, const wchar_t*, HRESULT) { return S_OK; }
HRESULT CDesktopLog::LogFileTime(LogLevel, const char*, const FILETIME&) { return S_OK; }
HRESULT CDesktopLog::LogTextNoTimeStamp(LogLevel, const char*) { return S_OK; }
HRESULT CDesktopLog::LogTextNoTimeStamp(LogLevel, const wchar_t*) { return S_OK; }
HRESULT CDesktopLog::LogXML(LogLevel, const BYTE*, int) { return S_OK; }
HRESULT CDesktopLog::LogException(const _com_error&) { return S_OK; }
HRESULT CDesktopLog::LogException(const std::exception&) { return S_OK; }
