// The log's pure work: decoding the configured level, the file name, the
// time-stamp text, wide-to-UTF-8 conversion and the record buffer that turns
// a format and its arguments into the bytes of one record. No I/O here.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdio>
#include <memory>

namespace hklog {

// Sentinel of a level not yet read: it admits no record.
constexpr int kLevelNotRead = -255;
// The number of log files kept in the temporary directory.
constexpr unsigned kFilesKept = 20;

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

// "dd/MM/yyyy HH:mm:ss.sss" of a UTC FILETIME into out (64 chars). Answers
// false and leaves out empty when the value cannot be converted.
bool RenderTimeStamp(const FILETIME& time, char* out, size_t chars) noexcept;

// "[%4u]": the thread id right-aligned in four columns, in brackets (13
// chars is room for ten digits). Answers the length.
size_t FormatThreadField(char* out, unsigned thread) noexcept;

// The record header followed by format: time stamp, the thread field (empty
// at level 0), ": ", the prefix (empty or "TAG: "), format. Answers the
// length written, or the size needed (terminator included) when cap is too
// small, in which case nothing is written.
size_t ComposeHeader(char* out, size_t cap, const char* stamp, const char* thread, const char* prefix,
                     size_t prefixLength, const char* format) noexcept;

size_t CountLineFeeds(const char* data, size_t len) noexcept;

// Stores every line feed of data[0, len) as carriage return + line feed, the
// way a text-mode stream writes it, in place. feeds is CountLineFeeds of the
// data; cap must be at least len + feeds (else nothing changes and the
// answer is 0). Answers the new length.
size_t ExpandLineFeeds(char* data, size_t len, size_t feeds, size_t cap) noexcept;

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

// The bytes of one record: formatted with the C runtime's printf (the
// runtime's own conventions: %I64d, %s narrow), line feeds stored as CR LF.
// Records up to 1 KiB need no allocation.
class RecordBuffer {
public:
    RecordBuffer() noexcept = default;
    RecordBuffer(const RecordBuffer&) = delete;
    RecordBuffer& operator=(const RecordBuffer&) = delete;

    // Raises std::bad_alloc when a long record's buffer cannot be had and
    // std::runtime_error when the format is rejected by the runtime.
    template <typename... Args>
    void Format(const char* format, Args... args) {
        int n = _snprintf(m_data, m_cap, format, args...);
        if (n < 0 || static_cast<size_t>(n) >= m_cap) {
            n = _scprintf(format, args...);
            ThrowIfNegative(n);
            Grow(static_cast<size_t>(n) + 1, 0);
            n = _snprintf(m_data, m_cap, format, args...);
            ThrowIfNegative(n);
        }
        Finish(static_cast<size_t>(n));
    }
    const char* data() const noexcept { return m_data; }
    size_t size() const noexcept { return m_len; }

private:
    static void ThrowIfNegative(int n);
    void Grow(size_t cap, size_t keep);
    void Finish(size_t len);

    char m_stack[1024];
    std::unique_ptr<char[]> m_heap;
    char* m_data = m_stack;
    size_t m_cap = sizeof(m_stack);
    size_t m_len = 0;
};

} // namespace hklog
