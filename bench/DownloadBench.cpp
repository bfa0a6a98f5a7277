// Downloads a 64 MiB static file from nginx with GetDataFromServer and, in
// the same rounds, with a bare WinINet loop reading 1 MiB blocks into one
// buffer and with curl; prints every round, the medians and their ratios, and
// the working set the library's download added against the body's size.
#include "BenchNginx.h"
#include "CInternetSendDataBase.h"
#include "http/InternetHandle.h"

#include <cstring>
#include <memory>

namespace {

const DWORD kSize = 64 * 1024 * 1024;
const DWORD kBlock = 1024 * 1024;
const int kRounds = 7;
const DWORD kFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                     INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;

// The anchor: what a caller that knows WinINet would write.
bool BareDownload(HINTERNET connect, const std::vector<char>& expected) {
    hk::unique_hinternet request(
        ::HttpOpenRequestA(connect, "GET", "/big.bin", nullptr, nullptr, nullptr, kFlags, 0));
    if (!request || !::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) {
        return false;
    }
    std::unique_ptr<char[]> body(new char[kSize]);
    DWORD total = 0, read = 0;
    while (total < kSize &&
           ::InternetReadFile(request.get(), body.get() + total, std::min(kBlock, kSize - total), &read) &&
           read != 0) {
        total += read;
    }
    return total == kSize && std::memcmp(body.get(), expected.data(), kSize) == 0;
}

bool LibraryDownload(CInternetSendDataBase& engine, const std::vector<char>& expected) {
    ResponseDetails response;
    return engine.GetDataFromServer("big.bin", &response) == S_OK && response.dwStatusCode == 200 &&
           response.dwBodyLength == kSize + 1 && std::memcmp(response.pBody, expected.data(), kSize) == 0;
}

} // namespace

int main() {
    bench::DefaultSourceDir(HK_SOURCE_DIR_UNIX);
    hk::test::TempDir dir(L"downloadbench");
    bench::Nginx nginx(dir);
    if (!nginx.Ok()) {
        std::printf("download_bench: %s\n", nginx.Error().c_str());
        return 1;
    }
    std::vector<char> body(kSize);
    for (DWORD i = 0; i < kSize; ++i) {
        body[i] = static_cast<char>((i * 2654435761u) >> 24);
    }
    hk::test::WriteFileBytes(nginx.Files() + L"\\big.bin", body.data(), body.size());

    hk::unique_hinternet session(
        ::InternetOpenW(L"hk-download-bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    hk::unique_hinternet connect(::InternetConnectA(session.get(), "127.0.0.1",
                                                    static_cast<INTERNET_PORT>(nginx.Port()), nullptr,
                                                    nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    CInternetSendDataBase engine(connect.get(), INTERNET_SCHEME_HTTP, "/", false);

    // The first download, before any other, says how much memory one adds.
    double peakBefore = bench::PeakWorkingSet();
    if (!LibraryDownload(engine, body)) {
        std::printf("download_bench: GetDataFromServer did not return the file\n");
        return 1;
    }
    double growth = (bench::PeakWorkingSet() - peakBefore) / kSize;

    const char* const names[] = {"GetDataFromServer", "WinINet 1 MiB reads", "curl"};
    double ratio = bench::PairedRounds(
        "download 64 MiB", names, kSize / 1e6, kRounds, [&] { return LibraryDownload(engine, body); },
        [&] { return BareDownload(connect.get(), body); }, nginx.Url("/big.bin"), dir);
    if (ratio < 0) {
        return 1;
    }
    std::printf("goal for GetDataFromServer/WinINet 1 MiB reads: 2.0 (moonshot 1.2)\n");
    std::printf("peak working set added by the first download: %.2f times the body (goal under 2)\n", growth);
    return ratio <= 2.0 && growth < 2.0 ? 0 : 2;
}
