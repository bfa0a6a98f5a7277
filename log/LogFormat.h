// The log's pure work: decoding the configured level, the file name, the
// log clock, the time-stamp text, the start of a line, wide-to-UTF-8
// conversion and the record buffer that holds the bytes of one record. No I/O
// here: the clock reads the platform only through the sources it is given.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdio>
#include <memory>

namespace hk {
namespace log {

// Sentinel of a level not yet read: it admits no record.
constexpr int kLevelNotRead = -255;
// The number of log files kept in the temporary directory.
constexpr unsigned kFilesKept = 20;
// "dd/MM/yyyy HH:mm:ss.sss"
constexpr size_t kStampChars = 23;

struct DecodedLevel {
    int level;
    bool tracing;
};

// "LoggingLevel": the low 16 bits name the level (0, 1, 2, 3 or 9; anything
// else is 1); bit 31 is the provider tracing flag.
DecodedLevel DecodeLoggingLevel(DWORD value) noexcept;

// "<dir>sh_client_log_YYYYMMDDhhmmss.txt" from the local time; a non-zero
// sequence appends "_NN" before ".txt" (a second file within the same second).
// Answers false when out (chars wide) is too small.
bool BuildLogFileName(wchar_t* out, size_t chars, const wchar_t* dir, const SYSTEMTIME& local,
                      unsigned sequence) noexcept;

// Where the log clock reads the platform: QueryPerformanceFrequency,
// QueryPerformanceCounter and GetSystemTimeAsFileTime in the library.
struct ClockSource {
    BOOL(WINAPI* frequency)(LARGE_INTEGER*);
    BOOL(WINAPI* counter)(LARGE_INTEGER*);
    void(WINAPI* systemTime)(FILETIME*);
};

// The time of the log's stamps, in 100-nanosecond units since 1601 (UTC).
// Anchor reads the system time once, with the counter directly after it;
// from then on the time is the anchor advanced by the counter, so it never
// goes back when the system clock is set back (nor jumps when it is set
// forward) while the process writes records. Without a counter frequency the
// clock reads the system time each time instead. Constant-initialised, so a
// process-wide clock needs no constructor to run.
class LogClock {
public:
    void Anchor(const ClockSource& source) noexcept;
    ULONGLONG Now() const noexcept;

private:
    ClockSource m_source{};
    bool m_useCounter = false;
    double m_countsPer100ns = 0;
    LONGLONG m_anchorCounter = 0;
    ULONGLONG m_anchorTime = 0;
};

// "dd/MM/yyyy HH:mm:ss.sss" of a UTC FILETIME into out (at least 24 chars).
// Answers false and leaves out empty when the value cannot be converted.
bool RenderTimeStamp(const FILETIME& time, char* out, size_t chars) noexcept;

// The log's time stamps from its clock: the date and the time of day are
// worked out (FileTimeToSystemTime) once a second, only the milliseconds for
// each record. One per process, used under the log's write lock;
// constant-initialised.
class StampRenderer {
public:
    // "dd/MM/yyyy HH:mm:ss.sss" of time (100-nanosecond units since 1601,
    // UTC) into out (at least kStampChars + 1 chars).
    void Render(ULONGLONG time, char* out) noexcept;

private:
    ULONGLONG m_second = ~0ULL; // the whole second m_text shows
    char m_text[kStampChars + 1] = {};
};

// "[%4u]": the thread id right-aligned in four columns, in brackets (13
// chars is room for ten digits). Answers the length.
size_t FormatThreadField(char* out, unsigned thread) noexcept;

// The start of a headed line, the one place it is laid out: the time stamp,
// the thread field (empty at level 0), ": ", the prefix (empty or "TAG: ").
struct LineStart {
    const char* stamp;
    const char* thread;
    const char* prefix;
    size_t prefixLength;

    size_t Length() const noexcept;
    // Writes Length() chars (no terminator); answers the end.
    char* WriteTo(char* out) const noexcept;
};

// Wide text converted to UTF-8 (code page 65001). A null pointer stays null.
// Texts whose first estimate (four bytes per 16-bit unit, terminator
// included) fits 260 bytes use the object's own buffer; longer ones allocate.
// A conversion failure other than a small buffer raises std::runtime_error.
class Utf8Text {
public:
    explicit Utf8Text(const wchar_t* text);
    Utf8Text(const Utf8Text&) = delete;
    Utf8Text& operator=(const Utf8Text&) = delete;
    const char* get() const noexcept { return m_text; }

private:
    char m_fixed[260];
    std::unique_ptr<char[]> m_heap;
    const char* m_text = nullptr;
};

// One argument of a typed record, as the formatter's fast path sees it.
struct FormatArg {
    enum Kind { kText, kInt32, kInt64 } kind;
    const char* text;
    __int64 number;

    FormatArg(const char* value) noexcept : kind(kText), text(value), number(0) {}
    FormatArg(int value) noexcept : kind(kInt32), text(nullptr), number(value) {}
    FormatArg(long value) noexcept : kind(kInt32), text(nullptr), number(value) {}
    FormatArg(__int64 value) noexcept : kind(kInt64), text(nullptr), number(value) {}
};

// format applied to args into out, without the runtime, for the formats the
// records mostly use: %s, %d, %i, %u, %x, %X (plain, with l, or with I64 for
// a 64-bit argument) and %%, with no flags, width or precision, each
// directive matching its argument's kind. The text is what the runtime's
// printf writes for the same call (a null %s is "(null)"). Answers the
// length, or -1 for anything else (the caller then asks the runtime) or when
// the text would not fit cap.
int FormatPlain(char* out, size_t cap, const char* format, const FormatArg* args, size_t count) noexcept;

// The bytes of one record as the file stores them: every line feed as CR LF,
// expanded while the text is copied in. A headed record starts with a
// LineStart whose time stamp is filled in last (SetStamp), when the record
// is written, so stamps follow the order of the file. Records up to 1 KiB
// need no allocation; a longer one raises std::bad_alloc when its buffer
// cannot be had.
class RecordBuffer {
public:
    RecordBuffer() noexcept = default;
    RecordBuffer(const RecordBuffer&) = delete;
    RecordBuffer& operator=(const RecordBuffer&) = delete;

    // The start of the line, with kStampChars blanks for the time stamp.
    void BeginHeaded(const char* thread, const char* prefix, size_t prefixLength);
    void SetStamp(const char* stamp) noexcept;

    void Append(const char* text, size_t length);
    void Append(const char* text);
    // "0x" and value in upper-case hexadecimal without leading zeros.
    void AppendHex(unsigned value);
    // format applied to args as the C runtime's printf applies it (its own
    // conventions: %I64d, %s narrow), the common plain directives by
    // FormatPlain; raises std::runtime_error when the runtime rejects the
    // format.
    template <typename... Args>
    void AppendFormatted(const char* format, Args... args) {
        char scratch[1024];
        int n = -1;
        if constexpr (sizeof...(Args) > 0) {
            const FormatArg plain[] = {args...};
            n = FormatPlain(scratch, sizeof(scratch), format, plain, sizeof...(Args));
        }
        if (n < 0) {
            n = _snprintf(scratch, sizeof(scratch), format, args...);
        }
        if (n >= 0 && static_cast<size_t>(n) < sizeof(scratch)) {
            Append(scratch, static_cast<size_t>(n));
            return;
        }
        n = _scprintf(format, args...);
        ThrowIfNegative(n);
        std::unique_ptr<char[]> text(new char[static_cast<size_t>(n) + 1]);
        ThrowIfNegative(_snprintf(text.get(), static_cast<size_t>(n) + 1, format, args...));
        Append(text.get(), static_cast<size_t>(n));
    }

    bool Headed() const noexcept { return m_headed; }
    const char* data() const noexcept { return m_data; }
    size_t size() const noexcept { return m_len; }

private:
    static void ThrowIfNegative(int n);
    void Reserve(size_t more);

    char m_stack[1024];
    std::unique_ptr<char[]> m_heap;
    char* m_data = m_stack;
    size_t m_cap = sizeof(m_stack);
    size_t m_len = 0;
    bool m_headed = false;
};

} // namespace log
} // namespace hk
