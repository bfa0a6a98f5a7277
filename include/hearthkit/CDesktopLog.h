// CDesktopLog: the process-wide diagnostic log of the Stowhaven desktop.
//
// Every operation opens a named object ("Class::Operation") at its start; at
// LOG_TRACE the object writes an entry line at construction and an exit line
// at destruction. The level is read once per process from HKCU
// "SOFTWARE\Talvo\Stowhaven\Client" "LoggingLevel"; the file
// "sh_client_log_YYYYMMDDhhmmss.txt" in the user's temporary directory is
// opened by the first record that passes the level and closed when the
// library unloads. Record operations never fail their caller: they answer an
// HRESULT that callers may ignore.
#pragma once

#include "HearthkitExport.h"

#include <windows.h>
#include <exception>
#include <string>

class _com_error;

enum LogLevel {
    LOG_ERROR = 0,
    LOG_INFO = 1,
    LOG_DETAIL = 2,
    LOG_TRACE = 3,
    LOG_VERBOSE = 9,
};

class HEARTHKIT_API CDesktopLog {
public:
    // name: "Class::Operation", or null for an anonymous object that reads no
    // level and writes no entry or exit line. phr: the caller's result
    // variable, logged at entry and exit; not owned. prefix: a category tag
    // such as "CONTENT:STORE", or null.
    CDesktopLog(const char* name = nullptr, HRESULT* phr = nullptr, const char* prefix = nullptr);
    ~CDesktopLog();
    CDesktopLog(const CDesktopLog& other);
    CDesktopLog& operator=(const CDesktopLog& other);

    const char* GetFunctionName() const;

    static bool IsEnabled();
    static int ReturnLogLevel();
    static bool IsSHMSPTracingEnabled();
    static std::wstring GetFilename();

    HRESULT Close();

    // Typed records. Each compares its level first, opens the file when none
    // is open, then writes the header and the caller's format in one write.
    // The eight-argument forms hand all eight values to the formatter; pass
    // zeros (null strings) for the ones the format does not use. A null
    // format, text or XML buffer writes the record "(null)" and answers
    // E_INVALIDARG; a null label (LogHR, LogFileTime) is written as "(null)".
    HRESULT LogText(LogLevel level, const char* text);
    HRESULT LogText(LogLevel level, const wchar_t* text);
    HRESULT LogText(LogLevel level, const char* format, const char* a1, const char* a2 = nullptr,
                    const char* a3 = nullptr, const char* a4 = nullptr, const char* a5 = nullptr,
                    const char* a6 = nullptr, const char* a7 = nullptr, const char* a8 = nullptr);
    HRESULT LogText(LogLevel level, const char* format, const wchar_t* a1, const wchar_t* a2 = nullptr,
                    const wchar_t* a3 = nullptr, const wchar_t* a4 = nullptr, const wchar_t* a5 = nullptr,
                    const wchar_t* a6 = nullptr, const wchar_t* a7 = nullptr, const wchar_t* a8 = nullptr);
    HRESULT LogInt(LogLevel level, const char* format, int a1, int a2 = 0, int a3 = 0, int a4 = 0, int a5 = 0,
                   int a6 = 0, int a7 = 0, int a8 = 0);
    HRESULT LogLong(LogLevel level, const char* format, long a1, long a2 = 0, long a3 = 0, long a4 = 0,
                    long a5 = 0, long a6 = 0, long a7 = 0, long a8 = 0);
    HRESULT LogInt64(LogLevel level, const char* format, __int64 a1, __int64 a2 = 0, __int64 a3 = 0,
                     __int64 a4 = 0, __int64 a5 = 0, __int64 a6 = 0, __int64 a7 = 0, __int64 a8 = 0);
    HRESULT LogTextInt(LogLevel level, const char* format, const char* text, int value);
    HRESULT LogTextInt(LogLevel level, const char* format, const wchar_t* text, int value);
    HRESULT LogHR(LogLevel level, const char* text, HRESULT hr);
    HRESULT LogHR(LogLevel level, const wchar_t* text, HRESULT hr);
    HRESULT LogFileTime(LogLevel level, const char* label, const FILETIME& time);
    HRESULT LogTextNoTimeStamp(LogLevel level, const char* text);
    HRESULT LogTextNoTimeStamp(LogLevel level, const wchar_t* text);
    HRESULT LogXML(LogLevel level, const BYTE* data, int length);
    HRESULT LogException(const _com_error& error);
    HRESULT LogException(const std::exception& error);

private:
    HRESULT GetLogLevel();
    HRESULT Init();
    void UpdateTimeStamp();
    char* PrependTimeStamp(const char* format);
    wchar_t* PrependTimeStamp(const wchar_t* format);
    // The shared body of the records: filter, open, the start of the line
    // (when headed), the text built by build, one write. Defined and used in
    // the log's own file.
    template <typename Build>
    HRESULT WriteRecord(LogLevel level, bool headed, Build build);
    template <typename... Args>
    HRESULT WriteFormatted(LogLevel level, bool headed, const char* format, Args... args);

    char m_szFunctionName[256];
    HRESULT* m_phr;
    char m_szTimeStamp[64];
    wchar_t m_wszTimeStamp[64];
    std::string m_strPrefix;
    std::wstring m_wstrPrefix;
};
