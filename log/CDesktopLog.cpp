// The process-wide diagnostic log: its level, its file and its records.
//
// Shared state lives in this file and is constant-initialised, so objects
// built by other static constructors (before this file's own would run) can
// log safely.
//
// Threads: the level is read once under an INIT_ONCE, and the log clock is
// created the same way, so threads arriving together all see the final
// values. Opening and closing the file are serialised by one lock; each
// record is written under a second lock with a single WriteFile, so records
// of different threads never mix within a line. The time stamp is read under
// that lock too, so stamps never go back from one line of the file to the
// next. A file is published only after its byte order mark and its "Log file
// created" line are in it.
//
// The file holds the bytes a text-mode C stream would have written (each
// line feed stored as CR LF). A record is built in one buffer: the start of
// the line by our own code, the caller's format by the C runtime's printf,
// line feeds expanded as the text is copied in; it goes to WriteFile
// directly, with no buffering of our own, so the file is complete up to the
// last record when the process dies.
//
// A second file within the same second of local time: the file is created
// with CREATE_NEW, and when the name is taken (an earlier file of this or
// another process) "_01" ... "_99" is appended before ".txt". The earlier
// file is never truncated, and the suffixed names still sort after the
// plain one and before the next second's, so retention stays oldest-first.
#include "CDesktopLog.h"

#include "HkHandle.h"
#include "HkLock.h"
#include "HkRegKey.h"
#include "HkResult.h"
#include "log/LogFormat.h"

#include <comdef.h>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>

namespace {

const wchar_t kClientKey[] = L"SOFTWARE\\Talvo\\Stowhaven\\Client";
const wchar_t kLevelValue[] = L"LoggingLevel";
const unsigned kMaxSequence = 99;
const size_t kPathChars = MAX_PATH + 64;

// Process-wide state, one copy per process.
std::atomic<HANDLE> s_hLogFile{nullptr};
std::atomic<int> s_nLogLevel{hk::log::kLevelNotRead};
std::atomic<bool> s_bSHMSPTracing{false};
wchar_t s_strLogFilename[kPathChars];
bool s_bExitHookRegistered = false;
std::atomic<bool> s_bExiting{false};
INIT_ONCE s_levelOnce = INIT_ONCE_STATIC_INIT;
CHkSrwLock s_openLock;  // open, close, file name
CHkSrwLock s_writeLock; // one record at a time

hk::log::LogClock s_clock;
hk::log::StampRenderer s_stamps; // under s_writeLock
INIT_ONCE s_clockOnce = INIT_ONCE_STATIC_INIT;
std::atomic<bool> s_clockReady{false};

// Holds one of the log's locks. At process exit the exit hook may find a
// lock held by a thread the system already ended: it polls for a bounded
// time and then goes on without it, since nothing else runs then.
CHkSrwLock::ExclusiveGuard Hold(CHkSrwLock& lock) noexcept {
    if (!s_bExiting.load()) {
        return lock.lock_exclusive();
    }
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (auto held = lock.try_lock_exclusive()) {
            return held;
        }
        ::Sleep(1);
    }
    return CHkSrwLock::ExclusiveGuard();
}

bool Filtered(LogLevel level) noexcept {
    return static_cast<int>(level) > s_nLogLevel.load(std::memory_order_relaxed);
}

BOOL CALLBACK ReadLevelOnce(PINIT_ONCE, PVOID, PVOID*) {
    // Asking for write access too is deliberate: a key the user may only
    // read is not honoured, and the level stays 1.
    DWORD value = 1;
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, kClientKey, KEY_READ | KEY_WRITE) == ERROR_SUCCESS) {
        key.QueryDWORDValue(kLevelValue, value); // a failed read leaves 1
    }
    hk::log::DecodedLevel decoded = hk::log::DecodeLoggingLevel(value);
    if (decoded.tracing) {
        s_bSHMSPTracing.store(true);
    }
    s_nLogLevel.store(decoded.level);
    return TRUE;
}

BOOL CALLBACK CreateClockOnce(PINIT_ONCE, PVOID, PVOID*) {
    static const hk::log::ClockSource kSystem = {::QueryPerformanceFrequency, ::QueryPerformanceCounter,
                                                 ::GetSystemTimeAsFileTime};
    s_clock.Anchor(kSystem);
    return TRUE;
}

// Now, in UTC, from the process's log clock.
ULONGLONG ClockNow() noexcept {
    if (!s_clockReady.load(std::memory_order_acquire)) {
        ::InitOnceExecuteOnce(&s_clockOnce, CreateClockOnce, nullptr, nullptr);
        s_clockReady.store(true, std::memory_order_release);
    }
    return s_clock.Now();
}

void WidenStamp(const char* stamp, wchar_t* wide) noexcept {
    size_t i = 0;
    for (; stamp[i] != '\0' && i + 1 < 64; ++i) {
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(stamp[i]));
    }
    wide[i] = L'\0';
}

// Writes one record to file, a headed one with the time of this moment,
// which also goes to stamp (64 chars). Called under s_writeLock.
void StampAndWrite(HANDLE file, hk::log::RecordBuffer& record, char* stamp) noexcept {
    if (record.Headed()) {
        s_stamps.Render(ClockNow(), stamp);
        record.SetStamp(stamp);
    }
    DWORD written = 0;
    ::WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
}

// Writes one record to the open file. Answers false when no file is open
// (closed by another thread since the caller opened it).
bool WriteToLog(hk::log::RecordBuffer& record, char* stamp) noexcept {
    auto lock = Hold(s_writeLock);
    HANDLE file = s_hLogFile.load();
    if (file == nullptr) {
        return false;
    }
    StampAndWrite(file, record, stamp);
    return true;
}

// Runs one record operation: no exception leaves the log.
template <typename Body>
HRESULT Guarded(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        // Quietly: the log cannot report its own failure through itself.
        return HkResultFromCaught();
    }
}

// Deletes the oldest "sh_client_log_*.txt" of dir when more than the kept
// number are there; one file per open. Failures are ignored.
void DeleteOldestLogFile(const wchar_t* dir) {
    std::wstring pattern(dir);
    pattern += L"sh_client_log_*.txt";
    WIN32_FIND_DATAW found;
    hk::unique_find find(::FindFirstFileW(pattern.c_str(), &found));
    if (!find) {
        return;
    }
    unsigned count = 0;
    std::wstring oldest;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        ++count;
        // Ordinal comparison of UTF-16 code units: the fixed-width time in
        // the name makes the first one the oldest.
        if (oldest.empty() || std::wcscmp(found.cFileName, oldest.c_str()) < 0) {
            oldest = found.cFileName;
        }
    } while (::FindNextFileW(find.get(), &found));
    if (count > hk::log::kFilesKept) {
        ::DeleteFileW((std::wstring(dir) + oldest).c_str());
    }
}

// Creates a new log file for this second of local time; see the top of the
// file for a name already taken.
hk::unique_file CreateLogFile(const wchar_t* dir, wchar_t* path) {
    SYSTEMTIME local;
    ::GetLocalTime(&local);
    for (unsigned sequence = 0; sequence <= kMaxSequence; ++sequence) {
        if (!hk::log::BuildLogFileName(path, kPathChars, dir, local, sequence)) {
            break;
        }
        // Shared with readers, denying other writers.
        hk::unique_file file(::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            return file;
        }
        DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    return hk::unique_file();
}

void __cdecl RunExitHook() {
    s_bExiting.store(true);
    CDesktopLog log;
    log.LogText(LOG_INFO, "Stowhaven desktop exited successfully\n");
    log.Close();
}

// The calling thread's field of a line: "[%4u]" above level 0, empty at
// level 0. Answers thread.
const char* ThreadField(char (&thread)[13]) noexcept {
    thread[0] = '\0';
    if (s_nLogLevel.load(std::memory_order_relaxed) > 0) {
        hk::log::FormatThreadField(thread, static_cast<unsigned>(::GetCurrentThreadId()));
    }
    return thread;
}

// The start of a headed line in record, with the object's prefix; the time
// stamp comes when the record is written.
void BeginLine(hk::log::RecordBuffer& record, const std::string& prefix) {
    char thread[13];
    record.BeginHeaded(ThreadField(thread), prefix.c_str(), prefix.size());
}

// The line feed a record adds after the caller's text.
const char kLineFeed[] = "\n";

} // namespace

// Filters, opens the file when none is open, builds the record (after the
// start of the line when headed) and writes it; reopens the file once when
// another thread closed it in between.
template <typename Build>
HRESULT CDesktopLog::WriteRecord(LogLevel level, bool headed, Build build) {
    if (Filtered(level)) {
        return S_OK;
    }
    return Guarded([&]() -> HRESULT {
        HRESULT hr = Init();
        if (FAILED(hr)) {
            return hr;
        }
        hk::log::RecordBuffer record;
        if (headed) {
            BeginLine(record, m_strPrefix);
        }
        build(record);
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (WriteToLog(record, m_szTimeStamp)) {
                if (headed) {
                    WidenStamp(m_szTimeStamp, m_wszTimeStamp);
                }
                return S_OK;
            }
            hr = Init();
            if (FAILED(hr)) {
                return hr;
            }
        }
        return S_OK;
    });
}

// A typed record: the caller's format applied to its arguments.
template <typename... Args>
HRESULT CDesktopLog::WriteFormatted(LogLevel level, bool headed, const char* format, Args... args) {
    if (Filtered(level)) {
        return S_OK;
    }
    if (format == nullptr) {
        // The caller's record cannot be built; a line still shows that one
        // was asked for.
        WriteRecord(level, headed, [](hk::log::RecordBuffer& r) {
            r.Append("(null)");
            r.Append(kLineFeed);
        });
        return E_INVALIDARG;
    }
    return WriteRecord(level, headed, [&](hk::log::RecordBuffer& r) { r.AppendFormatted(format, args...); });
}

CDesktopLog::CDesktopLog(const char* name, HRESULT* phr, const char* prefix)
    : m_szFunctionName(), m_phr(nullptr), m_szTimeStamp(), m_wszTimeStamp() {
    try {
        if (prefix != nullptr) {
            m_strPrefix = prefix;
            m_strPrefix += ": ";
            for (char c : m_strPrefix) {
                m_wstrPrefix += static_cast<wchar_t>(static_cast<unsigned char>(c));
            }
        }
        if (name == nullptr) {
            return;
        }
        std::strncpy(m_szFunctionName, name, 255);
        m_szFunctionName[255] = '\0';
        m_phr = phr;
        if (s_nLogLevel.load() == hk::log::kLevelNotRead) {
            GetLogLevel();
        }
        if (s_nLogLevel.load() < LOG_TRACE) {
            return;
        }
        if (m_phr != nullptr) {
            LogHR(LOG_TRACE, m_szFunctionName, *m_phr);
            return;
        }
        size_t length = std::strlen(m_szFunctionName);
        if (length > 254) {
            length = 254;
        }
        m_szFunctionName[length] = '\n';
        m_szFunctionName[length + 1] = '\0';
        LogText(LOG_TRACE, m_szFunctionName);
    } catch (...) {
    }
}

CDesktopLog::~CDesktopLog() {
    try {
        if (m_szFunctionName[0] == '\0' || s_nLogLevel.load() < LOG_TRACE) {
            return;
        }
        char line[257];
        _snprintf(line, sizeof(line), "~%s", m_szFunctionName);
        line[256] = '\0';
        if (m_phr != nullptr) {
            LogHR(LOG_TRACE, line, *m_phr);
        } else {
            LogText(LOG_TRACE, line);
        }
    } catch (...) {
    }
}

CDesktopLog::CDesktopLog(const CDesktopLog& other) = default;
CDesktopLog& CDesktopLog::operator=(const CDesktopLog& other) = default;

const char* CDesktopLog::GetFunctionName() const {
    return m_szFunctionName;
}

bool CDesktopLog::IsEnabled() {
    return s_hLogFile.load() != nullptr;
}

int CDesktopLog::ReturnLogLevel() {
    return s_nLogLevel.load();
}

bool CDesktopLog::IsSHMSPTracingEnabled() {
    return s_bSHMSPTracing.load();
}

std::wstring CDesktopLog::GetFilename() {
    try {
        auto lock = Hold(s_openLock);
        return s_hLogFile.load() != nullptr ? std::wstring(s_strLogFilename) : std::wstring();
    } catch (...) {
        return std::wstring();
    }
}

HRESULT CDesktopLog::GetLogLevel() {
    ::InitOnceExecuteOnce(&s_levelOnce, ReadLevelOnce, nullptr, nullptr);
    return S_OK;
}

HRESULT CDesktopLog::Init() {
    if (s_hLogFile.load() != nullptr) {
        return S_OK;
    }
    return Guarded([this]() -> HRESULT {
        auto lock = Hold(s_openLock);
        if (s_hLogFile.load() != nullptr) {
            return S_OK;
        }
        wchar_t dir[MAX_PATH + 1];
        DWORD chars = ::GetTempPathW(MAX_PATH + 1, dir);
        if (chars == 0 || chars > MAX_PATH) {
            return E_FAIL;
        }
        wchar_t path[kPathChars];
        hk::unique_file file = CreateLogFile(dir, path);
        if (!file) {
            return E_FAIL;
        }
        if (!s_bExitHookRegistered) {
            s_bExitHookRegistered = std::atexit(RunExitHook) == 0;
        }
        DWORD written = 0;
        static const char kBom[] = "\xEF\xBB\xBF";
        ::WriteFile(file.get(), kBom, 3, &written, nullptr);
        DeleteOldestLogFile(dir);
        std::wcscpy(s_strLogFilename, path);

        // The first line goes in before the file is published, so no other
        // thread's record comes between the mark and it.
        hk::log::RecordBuffer record;
        BeginLine(record, m_strPrefix);
        record.AppendFormatted("Log file created (level %d).\n", s_nLogLevel.load());
        auto writing = Hold(s_writeLock);
        StampAndWrite(file.get(), record, m_szTimeStamp);
        s_hLogFile.store(file.release());
        return S_OK;
    });
}

HRESULT CDesktopLog::Close() {
    return Guarded([this]() -> HRESULT {
        auto lock = Hold(s_openLock);
        if (s_hLogFile.load() == nullptr) {
            return S_OK;
        }
        hk::log::RecordBuffer record;
        BeginLine(record, m_strPrefix);
        record.Append("Log file closed.\n");
        auto writing = Hold(s_writeLock);
        hk::unique_file file(s_hLogFile.exchange(nullptr));
        StampAndWrite(file.get(), record, m_szTimeStamp);
        return S_OK;
    });
}

void CDesktopLog::UpdateTimeStamp() {
    ULONGLONG now = ClockNow();
    FILETIME time = {static_cast<DWORD>(now), static_cast<DWORD>(now >> 32)};
    hk::log::RenderTimeStamp(time, m_szTimeStamp, sizeof(m_szTimeStamp));
    WidenStamp(m_szTimeStamp, m_wszTimeStamp);
}

// The start of a line followed by format, in a new buffer the caller frees
// with delete[].
char* CDesktopLog::PrependTimeStamp(const char* format) {
    char thread[13];
    UpdateTimeStamp();
    hk::log::LineStart start = {m_szTimeStamp, ThreadField(thread), m_strPrefix.c_str(), m_strPrefix.size()};
    size_t formatLength = std::strlen(format);
    char* text = new char[start.Length() + formatLength + 1];
    std::memcpy(start.WriteTo(text), format, formatLength + 1);
    return text;
}

// The wide twin: the same start of the line, widened; no record uses it.
wchar_t* CDesktopLog::PrependTimeStamp(const wchar_t* format) {
    std::unique_ptr<char[]> narrow(PrependTimeStamp(""));
    size_t startLength = std::strlen(narrow.get()), formatLength = std::wcslen(format);
    wchar_t* text = new wchar_t[startLength + formatLength + 1];
    for (size_t i = 0; i < startLength; ++i) {
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(narrow[i]));
    }
    std::wmemcpy(text + startLength, format, formatLength + 1);
    return text;
}

HRESULT CDesktopLog::LogText(LogLevel level, const char* text) {
    return WriteFormatted(level, true, text);
}

HRESULT CDesktopLog::LogText(LogLevel level, const wchar_t* text) {
    if (text == nullptr) {
        return LogText(level, static_cast<const char*>(nullptr));
    }
    return LogText(level, "%s", text, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

HRESULT CDesktopLog::LogText(LogLevel level, const char* format, const char* a1, const char* a2,
                             const char* a3, const char* a4, const char* a5, const char* a6, const char* a7,
                             const char* a8) {
    return WriteFormatted(level, true, format, a1, a2, a3, a4, a5, a6, a7, a8);
}

HRESULT CDesktopLog::LogText(LogLevel level, const char* format, const wchar_t* a1, const wchar_t* a2,
                             const wchar_t* a3, const wchar_t* a4, const wchar_t* a5, const wchar_t* a6,
                             const wchar_t* a7, const wchar_t* a8) {
    if (Filtered(level)) {
        return S_OK;
    }
    return Guarded([&] {
        hk::log::Utf8Text u1(a1), u2(a2), u3(a3), u4(a4), u5(a5), u6(a6), u7(a7), u8(a8);
        return LogText(level, format, u1.get(), u2.get(), u3.get(), u4.get(), u5.get(), u6.get(), u7.get(),
                       u8.get());
    });
}

HRESULT CDesktopLog::LogInt(LogLevel level, const char* format, int a1, int a2, int a3, int a4, int a5,
                            int a6, int a7, int a8) {
    return WriteFormatted(level, true, format, a1, a2, a3, a4, a5, a6, a7, a8);
}

HRESULT CDesktopLog::LogLong(LogLevel level, const char* format, long a1, long a2, long a3, long a4, long a5,
                             long a6, long a7, long a8) {
    // long is 32 bits here, like int: the same record.
    return LogInt(level, format, a1, a2, a3, a4, a5, a6, a7, a8);
}

HRESULT CDesktopLog::LogInt64(LogLevel level, const char* format, __int64 a1, __int64 a2, __int64 a3,
                              __int64 a4, __int64 a5, __int64 a6, __int64 a7, __int64 a8) {
    return WriteFormatted(level, true, format, a1, a2, a3, a4, a5, a6, a7, a8);
}

HRESULT CDesktopLog::LogTextInt(LogLevel level, const char* format, const char* text, int value) {
    return WriteFormatted(level, true, format, text, value);
}

HRESULT CDesktopLog::LogTextInt(LogLevel level, const char* format, const wchar_t* text, int value) {
    if (Filtered(level)) {
        return S_OK;
    }
    return Guarded([&] {
        hk::log::Utf8Text utf8(text);
        return LogTextInt(level, format, utf8.get(), value);
    });
}

HRESULT CDesktopLog::LogHR(LogLevel level, const char* text, HRESULT hr) {
    // The text is copied, not used as a format: it may hold '%'.
    return WriteRecord(level, true, [&](hk::log::RecordBuffer& r) {
        r.Append(text != nullptr ? text : "(null)");
        r.Append(": ");
        r.AppendHex(static_cast<unsigned>(hr));
        r.Append(kLineFeed);
    });
}

HRESULT CDesktopLog::LogHR(LogLevel level, const wchar_t* text, HRESULT hr) {
    if (Filtered(level)) {
        return S_OK;
    }
    return Guarded([&] {
        hk::log::Utf8Text utf8(text);
        return LogHR(level, utf8.get(), hr);
    });
}

HRESULT CDesktopLog::LogFileTime(LogLevel level, const char* label, const FILETIME& time) {
    if (Filtered(level)) {
        return S_OK;
    }
    // Not convertible (top bit set): an empty time and the raw value.
    char text[64];
    hk::log::RenderTimeStamp(time, text, sizeof(text));
    __int64 raw =
        static_cast<__int64>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    return WriteFormatted(level, true, "%s:%s (%I64d)\n", label, static_cast<const char*>(text), raw);
}

HRESULT CDesktopLog::LogTextNoTimeStamp(LogLevel level, const char* text) {
    return WriteFormatted(level, false, text);
}

HRESULT CDesktopLog::LogTextNoTimeStamp(LogLevel level, const wchar_t* text) {
    if (Filtered(level)) {
        return S_OK;
    }
    return Guarded([&] {
        hk::log::Utf8Text utf8(text);
        return LogTextNoTimeStamp(level, utf8.get());
    });
}

HRESULT CDesktopLog::LogXML(LogLevel level, const BYTE* data, int length) {
    if (Filtered(level)) {
        return S_OK;
    }
    if (data == nullptr) {
        return LogText(level, static_cast<const char*>(nullptr));
    }
    if (length < 0) {
        return E_INVALIDARG;
    }
    const char* narrow = reinterpret_cast<const char*>(data);
    // One byte cannot hold the two-byte mark: it is narrow text.
    if (length < 2 || data[0] != 0xFF || data[1] != 0xFE) {
        // At most length bytes, ending early at a zero byte.
        return WriteRecord(level, false, [&](hk::log::RecordBuffer& r) {
            r.Append(narrow, strnlen(narrow, static_cast<size_t>(length)));
            r.Append(kLineFeed);
        });
    }
    // UTF-16 with its mark: length counts 16-bit units, the mark included.
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(data);
    int size = ::WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (size == 0) {
        return S_OK;
    }
    return WriteRecord(level, false, [&](hk::log::RecordBuffer& r) {
        try {
            std::unique_ptr<char[]> ansi(new char[size + 1]);
            ::WideCharToMultiByte(CP_ACP, 0, wide, length, ansi.get(), size, nullptr, nullptr);
            ansi[size] = '\0';
            r.Append(ansi.get());
            r.Append(kLineFeed);
        } catch (...) {
            r.Append("__________Conversion Failed ______________\n");
        }
    });
}

HRESULT CDesktopLog::LogException(const _com_error& error) {
    return LogInt(LOG_ERROR, "A COM error exception has been caught: %x\n", error.Error());
}

HRESULT CDesktopLog::LogException(const std::exception& error) {
    return Guarded([&] {
        return LogText(LOG_ERROR, "A std::exception has been caught: %s\n", error.what(), nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr);
    });
}
