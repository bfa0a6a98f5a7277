// What the HTTP benchmarks share: nginx (Debian's nginx-light) started on a
// free loopback port with bench/nginx.conf.in, every path it writes in the
// run's own folder, and stopped by its pid; curl timed by its own clock; the
// median of paired rounds. nginx and curl are Unix programs that Wine starts
// directly but cannot wait on, so each says through a file that it is done.
#pragma once

// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <windows.h>

#include "BenchClock.h"
#include "TestEnv.h"
#include "standins/webserver/WineLaunch.h"

#include <psapi.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

// HK_SOURCE_DIR for TestEnv's SourceDir when the benchmark is started by hand.
inline void DefaultSourceDir(const char* unixSourceDir) {
    if (::GetEnvironmentVariableW(L"HK_SOURCE_DIR", nullptr, 0) == 0) {
        ::SetEnvironmentVariableA("HK_SOURCE_DIR", unixSourceDir);
    }
}

inline bool StartUnix(const std::string& command) {
    return webserver::StartUnix(hk::test::Widen(command));
}

// Polls until done() or ms have passed.
template <typename Done>
bool WaitFor(Done done, int ms) {
    for (int waited = 0; waited <= ms; waited += 20) {
        if (done()) {
            return true;
        }
        ::Sleep(20);
    }
    return false;
}

inline bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class Nginx {
public:
    // Serves dir\files; the upload sink is /up.
    explicit Nginx(const hk::test::TempDir& dir) : m_dir(dir.Path()) {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        std::string conf = hk::test::ReadFileText(hk::test::SourceDir() + L"\\bench\\nginx.conf.in");
        std::string unixDir = webserver::UnixPath(m_dir);
        m_port = FreePort();
        if (conf.empty() || unixDir.empty() || m_port == 0) {
            m_error = "bench/nginx.conf.in, the run's folder or a free port is missing";
            return;
        }
        Fill(conf, "@DIR@", unixDir);
        Fill(conf, "@PORT@", std::to_string(m_port));
        std::wstring confPath = m_dir + L"\\nginx.conf";
        ::CreateDirectoryW((m_dir + L"\\files").c_str(), nullptr);
        hk::test::WriteFileBytes(confPath, conf.data(), conf.size());
        if (!StartUnix("/usr/sbin/nginx -c " + webserver::UnixPath(confPath))) {
            m_error = "/usr/sbin/nginx did not start (scripts/setup.sh installs nginx-light)";
        } else if (!WaitFor([&] { return Exists(PidFile()) && Accepts(); }, 10000)) {
            m_error = "nginx did not listen within 10 s: " + hk::test::ReadFileText(m_dir + L"\\error.log");
        } else {
            m_pid = std::atoi(hk::test::ReadFileText(PidFile()).c_str());
        }
    }
    ~Nginx() {
        if (m_pid != 0 && StartUnix("/bin/kill -TERM " + std::to_string(m_pid))) {
            WaitFor([&] { return !Exists(PidFile()); }, 10000);
        }
    }
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    bool Ok() const { return m_pid != 0; }
    const std::string& Error() const { return m_error; }
    int Port() const { return m_port; }
    std::wstring Files() const { return m_dir + L"\\files"; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }

private:
    static void Fill(std::string& text, const std::string& name, const std::string& value) {
        for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size())) {
            text.replace(at, name.size(), value);
        }
    }
    static int FreePort() {
        SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof(addr);
        int port = 0;
        if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
            ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &size) == 0) {
            port = ntohs(addr.sin_port);
        }
        ::closesocket(s);
        return port;
    }
    bool Accepts() const {
        SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<u_short>(m_port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
        ::closesocket(s);
        return ok;
    }
    std::wstring PidFile() const { return m_dir + L"\\nginx.pid"; }

    std::wstring m_dir;
    std::string m_error;
    int m_port = 0;
    int m_pid = 0;
};

// curl's own time for one transfer (its time_total), in seconds; negative
// when it failed. args go after curl's own -s -o /dev/null -w.
inline double CurlSeconds(const std::string& args, const hk::test::TempDir& dir) {
    std::wstring result = dir.File(L"curl.txt");
    ::DeleteFileW(result.c_str());
    std::string out = webserver::UnixPath(result);
    if (!StartUnix("/bin/sh -c \"curl -s -o /dev/null -w '%{time_total}' " + args + " > " + out +
                   ".tmp; mv " + out + ".tmp " + out + "\"")) {
        return -1;
    }
    double seconds = -1;
    WaitFor(
        [&] {
            std::string text = hk::test::ReadFileText(result);
            seconds = text.empty() ? -1 : std::atof(text.c_str());
            return !text.empty();
        },
        120000);
    return seconds > 0 ? seconds : -1;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs rounds of the library's transfer, the bare WinINet loop (each
// answering whether it succeeded) and curl in turn; prints each round, the
// medians and their ratios. Answers the ratio of the library's median to the
// loop's, or -1 when a transfer failed.
template <typename Library, typename Bare>
double PairedRounds(const char* what, const char* const names[3], double megabytes, int rounds,
                    Library library, Bare bare, const std::string& curlArgs, const hk::test::TempDir& dir) {
    std::vector<double> seconds[3];
    for (int round = 1; round <= rounds; ++round) {
        double start = NowSeconds();
        bool ok = library();
        seconds[0].push_back(SecondsSince(start));
        start = NowSeconds();
        ok = bare() && ok;
        seconds[1].push_back(SecondsSince(start));
        seconds[2].push_back(CurlSeconds(curlArgs, dir));
        if (!ok) {
            std::printf("%s: a transfer failed in round %d\n", what, round);
            return -1;
        }
        std::printf("round %d: %s %.3f s, %s %.3f s, %s %.3f s\n", round, names[0], seconds[0].back(),
                    names[1], seconds[1].back(), names[2], seconds[2].back());
    }
    double median[3];
    std::printf("%s, medians of %d rounds:", what, rounds);
    for (int i = 0; i < 3; ++i) {
        median[i] = Median(seconds[i]);
        std::printf("%s %s %.3f s (%.0f MB/s)", i ? "," : "", names[i], median[i], megabytes / median[i]);
    }
    std::printf("\ntime ratio %s/%s: %.2f\n", names[0], names[1], median[0] / median[1]);
    std::printf("time ratio %s/%s: %.2f\n", names[0], names[2], median[2] > 0 ? median[0] / median[2] : 0.0);
    return median[0] / median[1];
}

// The largest working set this process has had, in bytes (Wine keeps the
// peak working set; it reports no private usage).
inline double PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS m = {};
    m.cb = sizeof(m);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &m, sizeof(m));
    return static_cast<double>(m.PeakWorkingSetSize);
}

} // namespace bench
