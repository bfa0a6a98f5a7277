#include "LogTimeline.h"

#include "Json.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

namespace hkdiag {
namespace {

constexpr size_t kStampLength = 23; // "dd/MM/yyyy HH:mm:ss.sss"

struct Record {
    long long micros; // from 0001-01-01, proleptic Gregorian
    unsigned thread;
    std::string_view text;
    unsigned process = 1; // the log's number: one log file, one process
};

// A thread of one process.
unsigned long long TrackKey(unsigned process, unsigned thread) {
    return static_cast<unsigned long long>(process) << 32 | thread;
}

bool Digits(std::string_view s, size_t at, size_t count, int* value) {
    int v = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (s[i] < '0' || s[i] > '9') {
            return false;
        }
        v = v * 10 + (s[i] - '0');
    }
    *value = v;
    return true;
}

// Days since 0001-01-01 of a civil date (H. Hinnant's days_from_civil).
long long DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    long long era = y / 400;
    long long yoe = y - era * 400;
    long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
}

std::optional<long long> ParseStamp(std::string_view line) {
    if (line.size() < kStampLength || line[2] != '/' || line[5] != '/' || line[10] != ' ' ||
        line[13] != ':' || line[16] != ':' || line[19] != '.') {
        return std::nullopt;
    }
    int day, month, year, hour, minute, second, milli;
    if (!Digits(line, 0, 2, &day) || !Digits(line, 3, 2, &month) || !Digits(line, 6, 4, &year) ||
        !Digits(line, 11, 2, &hour) || !Digits(line, 14, 2, &minute) || !Digits(line, 17, 2, &second) ||
        !Digits(line, 20, 3, &milli)) {
        return std::nullopt;
    }
    if (day < 1 || day > 31 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    long long seconds = DaysFromCivil(year, month, day) * 86400LL + hour * 3600LL + minute * 60LL + second;
    return seconds * 1000000LL + milli * 1000LL;
}

std::optional<Record> ParseRecord(std::string_view line) {
    std::optional<long long> micros = ParseStamp(line);
    if (!micros) {
        return std::nullopt;
    }
    size_t at = kStampLength;
    unsigned thread = 0;
    if (at < line.size() && line[at] == '[') {
        size_t close = line.find(']', at);
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        size_t i = at + 1;
        while (i < close && line[i] == ' ') {
            ++i;
        }
        if (i == close || close - i > 10) {
            return std::nullopt;
        }
        unsigned long long value = 0;
        for (; i < close; ++i) {
            if (line[i] < '0' || line[i] > '9') {
                return std::nullopt;
            }
            value = value * 10 + static_cast<unsigned>(line[i] - '0');
        }
        if (value > 0xFFFFFFFFull) {
            return std::nullopt;
        }
        thread = static_cast<unsigned>(value);
        at = close + 1;
    }
    if (line.substr(at, 2) != ": ") {
        return std::nullopt;
    }
    return Record{*micros, thread, line.substr(at + 2), 1};
}

struct ScopeLine {
    bool exit = false;
    std::string_view name;   // without the '~'
    std::string_view result; // "0x..." or empty
    std::string_view tag;    // category prefix or empty
};

bool IsNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == ':' || c == '<' || c == '>';
}

// "[TAG: ][~]Name[: 0x<hex>]", Name made of identifier characters and ':'.
std::optional<ScopeLine> ParseScopeLine(std::string_view text) {
    ScopeLine scope;
    size_t result = text.rfind(": 0x");
    if (result != std::string_view::npos) {
        std::string_view hex = text.substr(result + 4);
        if (!hex.empty() && hex.size() <= 8 &&
            hex.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos) {
            scope.result = text.substr(result + 2);
            text = text.substr(0, result);
        }
    }
    size_t tagEnd = text.rfind(": ");
    if (tagEnd != std::string_view::npos) {
        scope.tag = text.substr(0, tagEnd);
        text = text.substr(tagEnd + 2);
        if (scope.tag.empty() || scope.tag.find(' ') != std::string_view::npos) {
            return std::nullopt;
        }
    }
    if (!text.empty() && text[0] == '~') {
        scope.exit = true;
        text = text.substr(1);
    }
    if (text.empty() || text.back() == ':' || !std::all_of(text.begin(), text.end(), IsNameChar)) {
        return std::nullopt;
    }
    scope.name = text;
    return scope;
}

struct Event {
    size_t order; // the line that starts it: events come out in log order
    char phase;   // 'X' or 'i'
    unsigned process;
    unsigned thread;
    long long start;
    long long duration;
    std::string_view name;
    std::string args; // JSON object text, or empty
};

struct OpenScope {
    size_t order;
    long long start;
    ScopeLine scope;
    std::string_view text;
};

struct ThreadState {
    std::vector<OpenScope> stack;
    long long last = 0;
};

class Builder {
public:
    Builder(TimelineStats* stats, std::vector<std::string> processNames)
        : m_stats(stats), m_processNames(std::move(processNames)) {}

    void Add(size_t order, const Record& record) {
        ++m_stats->records;
        m_minStart = std::min(m_minStart, record.micros);
        unsigned long long key = TrackKey(record.process, record.thread);
        if (m_threads.find(key) == m_threads.end()) {
            m_threadOrder.push_back(key);
        }
        ThreadState& state = m_threads[key];
        state.last = std::max(state.last, record.micros);
        std::optional<ScopeLine> scope = ParseScopeLine(record.text);
        if (!scope) {
            Instant(order, record, "");
        } else if (!scope->exit) {
            state.stack.push_back(OpenScope{order, record.micros, *scope, record.text});
        } else {
            Exit(order, record, *scope, &state);
        }
    }

    std::string Finish() {
        for (unsigned long long key : m_threadOrder) {
            ThreadState& state = m_threads[key];
            while (!state.stack.empty()) {
                CloseUnclosed(static_cast<unsigned>(key >> 32), static_cast<unsigned>(key),
                              state.stack.back(), state.last);
                state.stack.pop_back();
            }
        }
        m_stats->threads = m_threadOrder.size();
        std::stable_sort(m_events.begin(), m_events.end(),
                         [](const Event& a, const Event& b) { return a.order < b.order; });
        return Render();
    }

private:
    void Exit(size_t order, const Record& record, const ScopeLine& scope, ThreadState* state) {
        auto& stack = state->stack;
        auto match = std::find_if(stack.rbegin(), stack.rend(), [&](const OpenScope& open) {
            return open.scope.name == scope.name && open.scope.tag == scope.tag;
        });
        if (match == stack.rend()) {
            ++m_stats->unmatchedExits;
            Instant(order, record, JsonObject().Text("unmatched", "exit without entry").Done());
            return;
        }
        size_t index = stack.size() - 1 - static_cast<size_t>(match - stack.rbegin());
        while (stack.size() > index + 1) {
            CloseUnclosed(record.process, record.thread, stack.back(), record.micros);
            stack.pop_back();
        }
        JsonObject args;
        if (!scope.result.empty()) {
            args.Text("result", scope.result);
        }
        Slice(record.process, record.thread, stack.back(), record.micros, &args);
        stack.pop_back();
    }

    void CloseUnclosed(unsigned process, unsigned thread, const OpenScope& open, long long end) {
        if (open.scope.name.find("::") == std::string_view::npos) {
            Instant(open.order, Record{open.start, thread, open.text, process}, "");
            return;
        }
        ++m_stats->unclosed;
        JsonObject args;
        args.Bool("unclosed", true);
        Slice(process, thread, open, end, &args);
    }

    void Slice(unsigned process, unsigned thread, const OpenScope& open, long long end, JsonObject* args) {
        ++m_stats->scopes;
        if (!open.scope.tag.empty()) {
            args->Text("tag", open.scope.tag);
        }
        std::string argsText = args->Done();
        m_events.push_back(Event{open.order, 'X', process, thread, open.start,
                                 std::max(0LL, end - open.start), open.scope.name,
                                 argsText == "{}" ? std::string() : argsText});
    }

    void Instant(size_t order, const Record& record, std::string args) {
        ++m_stats->instants;
        m_events.push_back(
            Event{order, 'i', record.process, record.thread, record.micros, 0, record.text, std::move(args)});
    }

    std::string Render() const {
        std::string out = "{\"traceEvents\":[";
        const char* separator = "\n";
        // One process per log: named after its file when there are several.
        for (size_t i = 0; m_processNames.size() > 1 && i < m_processNames.size(); ++i) {
            out += separator;
            separator = ",\n";
            out += Metadata("process_name", static_cast<unsigned>(i + 1), std::nullopt, m_processNames[i]);
        }
        for (unsigned long long key : m_threadOrder) {
            out += separator;
            separator = ",\n";
            unsigned thread = static_cast<unsigned>(key);
            out += Metadata("thread_name", static_cast<unsigned>(key >> 32), thread,
                            "thread " + std::to_string(thread));
        }
        for (const Event& event : m_events) {
            out += separator;
            separator = ",\n";
            JsonObject json;
            json.Text("name", event.name).Text("ph", std::string_view(&event.phase, 1));
            json.Number("ts", event.start - m_minStart);
            if (event.phase == 'X') {
                json.Number("dur", event.duration);
            } else {
                json.Text("s", "t");
            }
            json.Number("pid", event.process).Number("tid", event.thread);
            if (!event.args.empty()) {
                json.Raw("args", event.args);
            }
            out += json.Done();
        }
        out += m_events.empty() && m_threadOrder.empty() ? "]" : "\n]";
        JsonObject other;
        if (m_stats->records > 0) {
            other.Text("start", StampText(m_minStart));
        }
        other.Number("skippedLines", static_cast<long long>(m_stats->skippedLines));
        out += ",\"displayTimeUnit\":\"ms\",\"otherData\":" + other.Done() + "}\n";
        return out;
    }

    static std::string Metadata(const char* what, unsigned process, std::optional<unsigned> thread,
                                const std::string& name) {
        JsonObject json;
        json.Text("name", what).Text("ph", "M").Number("pid", process);
        if (thread) {
            json.Number("tid", *thread);
        }
        return json.Raw("args", JsonObject().Text("name", name).Done()).Done();
    }

    static std::string StampText(long long micros);

    TimelineStats* m_stats;
    std::vector<std::string> m_processNames;
    long long m_minStart = 0x7FFFFFFFFFFFFFFFLL;
    std::map<unsigned long long, ThreadState> m_threads;
    std::vector<unsigned long long> m_threadOrder;
    std::vector<Event> m_events;
};

// The inverse of ParseStamp (H. Hinnant's civil_from_days).
std::string Builder::StampText(long long micros) {
    long long seconds = micros / 1000000;
    long long days = seconds / 86400;
    long long inDay = seconds % 86400;
    long long era = days / 146097;
    long long doe = days - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    long long day = doy - (153 * mp + 2) / 5 + 1;
    long long month = mp < 10 ? mp + 3 : mp - 9;
    long long year = yoe + era * 400 + (month <= 2);
    char text[40];
    std::snprintf(text, sizeof(text), "%02lld/%02lld/%04lld %02lld:%02lld:%02lld.%03lld", day, month, year,
                  inDay / 3600, inDay / 60 % 60, inDay % 60, micros / 1000 % 1000);
    return text;
}

} // namespace

std::string LogsToTimeline(const std::vector<LogSource>& logs, TimelineStats* stats,
                           const std::function<void(size_t)>& progress) {
    TimelineStats local;
    TimelineStats* counts = stats != nullptr ? stats : &local;
    *counts = TimelineStats();
    std::vector<std::string> names;
    for (const LogSource& log : logs) {
        names.push_back(log.name);
    }
    Builder builder(counts, std::move(names));
    size_t order = 0, done = 0;
    for (size_t process = 0; process < logs.size(); ++process) {
        std::string_view text = logs[process].text;
        if (text.substr(0, 3) == "\xEF\xBB\xBF") {
            text.remove_prefix(3);
        }
        while (!text.empty()) {
            size_t end = text.find('\n');
            std::string_view line = text.substr(0, end);
            size_t consumed = end == std::string_view::npos ? text.size() : end + 1;
            text.remove_prefix(consumed);
            done += consumed;
            if (progress && (order & 0xFFFF) == 0) {
                progress(done);
            }
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            if (line.empty()) {
                continue;
            }
            std::optional<Record> record = ParseRecord(line);
            if (!record) {
                ++counts->skippedLines;
                continue;
            }
            record->process = static_cast<unsigned>(process + 1);
            builder.Add(order++, *record);
        }
    }
    return builder.Finish();
}

std::string LogToTimeline(std::string_view logText, TimelineStats* stats) {
    return LogsToTimeline({LogSource{std::string(), logText}}, stats);
}

} // namespace hkdiag
