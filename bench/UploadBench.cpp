// Uploads 256 MiB from memory with PostLargeDataToServer and, as the native
// anchor, with curl --data-binary -H 'Expect:' to the same stand-in server;
// prints both throughputs, their ratio and the private memory the upload
// added to this process (the streamed form must not copy the body).
#include "BenchClock.h"
#include "CHttpClientHelper.h"
#include "TestEnv.h"
#include "WebServer.h"

#include <windows.h>
#include <psapi.h>
#include <cstdio>
#include <string>
#include <vector>

using hk::test::Reply;
using hk::test::WebServer;

namespace {

const int kSize = 256 * 1024 * 1024;

class BenchClient : public CHttpClientHelper {
public:
    explicit BenchClient(CComBSTR& url) : CHttpClientHelper(url, 120000) {}
    using CHttpClientHelper::Init;
    using CHttpClientHelper::PostLargeDataToServer;
};

PROCESS_MEMORY_COUNTERS_EX Memory() {
    PROCESS_MEMORY_COUNTERS_EX m = {};
    m.cb = sizeof(m);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof(m));
    return m;
}

std::string UnixPath(const std::wstring& path) {
    using Fn = char*(CDECL*)(const wchar_t*);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = fn ? fn(path.c_str()) : nullptr;
    std::string out = unix ? unix : "";
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return out;
}

// curl's own time for the transfer, in seconds; negative when it failed.
// Wine cannot wait on a Unix process: the shell renames the result file
// into place when curl is done.
double CurlSeconds(const std::string& url, const hk::test::TempDir& dir) {
    std::wstring result = dir.File(L"curl.txt");
    std::string data = UnixPath(dir.File(L"body.bin"));
    std::string out = UnixPath(result);
    std::wstring cmd =
        hk::test::Widen("/bin/sh -c \"curl -s -o /dev/null -w '%{time_total}' --data-binary @" + data +
                        " -H 'Expect:' " + url + " > " + out + ".tmp; mv " + out + ".tmp " + out + "\"");
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return -1;
    }
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    for (int i = 0; i < 1200; ++i) {
        std::string text = hk::test::ReadFileText(result);
        if (!text.empty()) {
            return std::atof(text.c_str());
        }
        ::Sleep(100);
    }
    return -1;
}

} // namespace

int main() {
    if (::GetEnvironmentVariableW(L"HK_SOURCE_DIR", nullptr, 0) == 0) {
        ::SetEnvironmentVariableA("HK_SOURCE_DIR", HK_SOURCE_DIR_UNIX);
    }
    WebServer& server = WebServer::Get();
    if (!server.Ok()) {
        std::printf("upload_bench: %s\n", server.Error().c_str());
        return 1;
    }
    Reply sink;
    sink.discardBody = true;
    server.Route("/bench/up", sink);

    std::vector<BYTE> body(kSize);
    for (size_t i = 0; i < body.size(); i += 4096) {
        body[i] = static_cast<BYTE>(i >> 12);
    }
    CComBSTR url(hk::test::Widen(server.Url("/bench")).c_str());
    BenchClient client(url);
    if (!client.Init()) {
        std::printf("upload_bench: Init failed\n");
        return 1;
    }
    std::vector<FieldData> fields = {{"name", "bench.bin"}};
    std::vector<FileData> files = {{"file", "bench.bin", body.data(), kSize, "application/octet-stream"}};

    PROCESS_MEMORY_COUNTERS_EX before = Memory();
    double seconds[3];
    for (double& s : seconds) {
        ResponseDetails response;
        double start = bench::NowSeconds();
        HRESULT hr = client.PostLargeDataToServer("up", files, fields, &response);
        s = bench::SecondsSince(start);
        if (hr != S_OK || response.dwStatusCode != 200) {
            std::printf("upload_bench: upload failed 0x%08lx status %lu\n", static_cast<unsigned long>(hr),
                        response.dwStatusCode);
            return 1;
        }
    }
    PROCESS_MEMORY_COUNTERS_EX after = Memory();
    // Wine reports no PrivateUsage; the peak commit charge (PeakPagefileUsage)
    // and the peak working set are what it keeps. The body buffer is
    // committed and touched before the first reading.
    const double MiB = 1024.0 * 1024.0;
    double commitGrowth =
        (static_cast<double>(after.PeakPagefileUsage) - static_cast<double>(before.PeakPagefileUsage)) / MiB;
    double setGrowth =
        (static_cast<double>(after.PeakWorkingSetSize) - static_cast<double>(before.PeakWorkingSetSize)) /
        MiB;
    double growth = commitGrowth > setGrowth ? commitGrowth : setGrowth;

    hk::test::TempDir dir(L"uploadbench");
    hk::test::WriteFileBytes(dir.File(L"body.bin"), body.data(), body.size());
    double curl = CurlSeconds(server.Url("/bench/up"), dir);

    double best = seconds[1] < seconds[2] ? seconds[1] : seconds[2];
    double mb = kSize / 1e6;
    std::printf(
        "upload 256 MiB, PostLargeDataToServer: first %.3f s (%.0f MB/s), warm best %.3f s (%.0f MB/s)\n",
        seconds[0], mb / seconds[0], best, mb / best);
    if (curl > 0) {
        std::printf("upload 256 MiB, curl --data-binary -H 'Expect:': %.3f s (%.0f MB/s)\n", curl, mb / curl);
        std::printf("throughput ratio PostLargeDataToServer/curl: %.2f\n", curl / best);
    } else {
        std::printf("upload 256 MiB, curl: failed or not installed\n");
    }
    std::printf("peak memory growth during three uploads: commit %.1f MiB, working set %.1f MiB\n",
                commitGrowth, setGrowth);
    std::printf("peak private memory growth: %.1f MiB (limit 16 MiB): %s\n", growth,
                growth < 16.0 ? "ok" : "TOO HIGH");
    return growth < 16.0 ? 0 : 2;
}
