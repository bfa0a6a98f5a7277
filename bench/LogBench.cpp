// Log benchmark.
//   filtered: ns per call of a record above the configured level;
//   written:  records per second at LOG_TRACE, beside a plain loop that
//             writes the very same bytes (one WriteFile per record) to a file
//             in the same folder, and the ratio of the two.
// The bench sets "LoggingLevel" to 3 for its run (the previous value is put
// back) and points TMP/TEMP at a folder of its own, removed at the end.
#include "Hearthkit.h"

#include "BenchClock.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t kClientKey[] = L"SOFTWARE\\Talvo\\Stowhaven\\Client";

// The record lines of a log file (CR LF kept), those containing marker.
std::vector<std::string> RecordLines(const std::wstring& path, const char* marker) {
    std::vector<std::string> lines;
    hk::unique_file file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return lines;
    }
    std::string bytes(::GetFileSize(file.get(), nullptr), '\0');
    DWORD got = 0;
    ::ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr);
    bytes.resize(got);
    for (size_t pos = 0; pos < bytes.size();) {
        size_t end = bytes.find("\r\n", pos);
        if (end == std::string::npos) {
            break;
        }
        std::string line = bytes.substr(pos, end + 2 - pos);
        if (line.find(marker) != std::string::npos) {
            lines.push_back(line);
        }
        pos = end + 2;
    }
    return lines;
}

struct SavedLevel {
    bool existed = false;
    DWORD value = 0;
};

SavedLevel SetLevel(DWORD level) {
    SavedLevel saved;
    CRegKey key;
    key.Create(HKEY_CURRENT_USER, kClientKey);
    saved.existed = key.QueryDWORDValue(L"LoggingLevel", saved.value) == ERROR_SUCCESS;
    key.SetDWORDValue(L"LoggingLevel", level);
    return saved;
}

void RestoreLevel(const SavedLevel& saved) {
    CRegKey key;
    key.Create(HKEY_CURRENT_USER, kClientKey);
    if (saved.existed) {
        key.SetDWORDValue(L"LoggingLevel", saved.value);
    } else {
        key.DeleteValue(L"LoggingLevel");
    }
}

void RemoveFolder(const std::wstring& dir) {
    WIN32_FIND_DATAW found;
    hk::unique_find find(::FindFirstFileW((dir + L"\\*").c_str(), &found));
    if (find) {
        do {
            ::DeleteFileW((dir + L"\\" + found.cFileName).c_str());
        } while (::FindNextFileW(find.get(), &found));
    }
    find.reset();
    ::RemoveDirectoryW(dir.c_str());
}

} // namespace

int main() {
    const int kFiltered = 20000000, kRound = 5000, kRounds = 60;
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, temp);
    wchar_t leaf[64];
    _snwprintf(leaf, 64, L"hk-bench-log-%lu", ::GetCurrentProcessId());
    std::wstring dir = std::wstring(temp) + leaf;
    ::CreateDirectoryW(dir.c_str(), nullptr);
    ::SetEnvironmentVariableW(L"TMP", (dir + L"\\").c_str());
    ::SetEnvironmentVariableW(L"TEMP", (dir + L"\\").c_str());
    SavedLevel saved = SetLevel(LOG_TRACE);

    CDesktopLog log("LogBench::Run"); // reads the level and opens the file
    RestoreLevel(saved);
    if (CDesktopLog::ReturnLogLevel() != LOG_TRACE || !CDesktopLog::IsEnabled()) {
        std::printf("log not at the trace level (level %d)\n", CDesktopLog::ReturnLogLevel());
        return 1;
    }

    double t0 = bench::NowSeconds();
    for (int i = 0; i < kFiltered; ++i) {
        log.LogInt(LOG_VERBOSE, "filtered %d\n", i);
    }
    double filteredNs = bench::SecondsSince(t0) * 1e9 / kFiltered;

    // The machine is shared: the two loops take turns in rounds and the
    // best round of each counts. The plain loop writes the bytes of the
    // log's warm-up round.
    auto logRound = [&log](int round) {
        double start = bench::NowSeconds();
        for (int i = 0; i < kRound; ++i) {
            log.LogTextInt(LOG_TRACE, "bench record %s number %d, some payload\n", "written",
                           round * kRound + i);
        }
        return bench::SecondsSince(start);
    };
    logRound(0);
    std::wstring logPath = CDesktopLog::GetFilename();
    std::vector<std::string> lines = RecordLines(logPath, "bench record written");
    if (lines.size() != static_cast<size_t>(kRound)) {
        std::printf("expected %d records in the log, found %u\n", kRound,
                    static_cast<unsigned>(lines.size()));
        RemoveFolder(dir);
        return 1;
    }
    size_t bytes = 0;
    for (const auto& line : lines) {
        bytes += line.size();
    }
    hk::unique_file plain(::CreateFileW((dir + L"\\plain.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    auto plainRound = [&] {
        DWORD written = 0;
        double start = bench::NowSeconds();
        for (const auto& line : lines) {
            ::WriteFile(plain.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        }
        return bench::SecondsSince(start);
    };
    // Each round pairs a log run with the plain run right after it; the
    // median of the paired ratios holds up best when the load changes.
    std::vector<double> ratios;
    double bestLog = 1e9, bestPlain = 1e9, totalLog = 0, totalPlain = 0;
    for (int round = 1; round <= kRounds; ++round) {
        double l = logRound(round), p = plainRound();
        bestLog = std::min(bestLog, l);
        bestPlain = std::min(bestPlain, p);
        totalLog += l;
        totalPlain += p;
        ratios.push_back(p / l);
    }
    std::sort(ratios.begin(), ratios.end());
    plain.reset();
    log.Close();
    RemoveFolder(dir);

    double logRate = kRound / bestLog, plainRate = kRound / bestPlain;
    std::printf("log filtered record: %.2f ns/call (%d calls)\n", filteredNs, kFiltered);
    std::printf("log written records: %.0f records/s (best of %d rounds of %d records, %.1f bytes each)\n",
                logRate, kRounds, kRound, static_cast<double>(bytes) / kRound);
    std::printf("plain WriteFile loop: %.0f records/s (same bytes, same folder, best round)\n", plainRate);
    std::printf("ratio log/plain: %.2f median of paired rounds, %.2f all rounds, %.2f best rounds\n",
                ratios[ratios.size() / 2], totalPlain / totalLog, logRate / plainRate);
    return 0;
}
