// The log as a timeline: the text of a log file written by the library
// turned into a Chrome trace-event JSON file (chrome://tracing, Perfetto).
// Pure: text in, JSON text out.
//
// How the lines are read:
//  - a record starts "dd/MM/yyyy HH:mm:ss.sss[ tid]: text" (no thread field
//    at level 0: those records go to thread 0); a UTF-8 byte order mark at
//    the start is skipped, CR LF and LF line ends are both accepted;
//  - "Name" or "Name: 0x<hr>" opens a scope and "~Name" or "~Name: 0x<hr>"
//    closes the innermost open scope of that name on the same thread (an
//    optional "TAG: " category prefix is kept in args.tag). Each matched pair
//    becomes a complete event ("ph":"X") with the exit line's result in
//    args.result; scopes nest as a stack per thread;
//  - a scope still open when an outer scope closes, or at the end of the
//    file, is closed at that moment (the end: the thread's last time stamp)
//    and marked args.unclosed = true. Only names holding "::" (the log's
//    "Class::Operation" convention) are taken for unclosed scopes: a lone
//    word such as "Starting" that nothing closes is an ordinary record;
//  - an exit line without its entry becomes an instant event marked
//    args.unmatched = "exit without entry";
//  - every other record becomes an instant event ("ph":"i", thread scope)
//    named by its text: the log's messages are what a reader looks for
//    between the slices;
//  - lines without a record header (the continuation lines of a multi-line
//    record, records written without a time stamp, lines cut short) are
//    skipped and counted in otherData.skippedLines.
// Time stamps are in microseconds from the earliest record (the log has
// millisecond resolution); otherData.start holds that record's time stamp.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace hkdiag {

struct TimelineStats {
    size_t records = 0;
    size_t scopes = 0;
    size_t unclosed = 0;
    size_t unmatchedExits = 0;
    size_t instants = 0;
    size_t skippedLines = 0;
    size_t threads = 0;
};

// The trace-event JSON of a log file's text. Never fails: a text without any
// record gives {"traceEvents":[]}.
std::string LogToTimeline(std::string_view logText, TimelineStats* stats = nullptr);

// One log file: the library writes one per process.
struct LogSource {
    std::string name; // the file's name, the process's name in the trace
    std::string_view text;
};

// The trace of several logs on one time axis, each log a process of its own
// (pid 1, 2, ... in the order given, named after its file). progress, when
// given, hears the bytes read so far now and then.
std::string LogsToTimeline(const std::vector<LogSource>& logs, TimelineStats* stats = nullptr,
                           const std::function<void(size_t)>& progress = nullptr);

} // namespace hkdiag
