// Uploads 256 MiB from memory to nginx's upload sink with
// PostLargeDataToServer and, in the same rounds, with a bare WinINet loop
// streaming the same multipart body (HttpSendRequestExW, one InternetWriteFile
// per piece, HttpEndRequestW) and with curl -F (the same streamed multipart
// work); prints every round, the medians and their ratios, and the memory the
// library's upload added (the streamed form must not copy the body).
#include "BenchNginx.h"
#include "CHttpClientHelper.h"
#include "http/InternetHandle.h"

namespace {

const int kSize = 256 * 1024 * 1024;
const int kRounds = 5;
const char kBoundary[] = "---------------------------0B0E0C0A0B0E";

class BenchClient : public CHttpClientHelper {
public:
    explicit BenchClient(CComBSTR& url) : CHttpClientHelper(url, 120000) {}
    using CHttpClientHelper::Init;
    using CHttpClientHelper::PostLargeDataToServer;
};

// The anchor: the same body as the library streams for one file part.
bool BareUpload(HINTERNET connect, const std::vector<BYTE>& data) {
    hk::unique_hinternet request(::HttpOpenRequestA(connect, "POST", "/up", nullptr, nullptr, nullptr,
                                                    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                                        INTERNET_FLAG_KEEP_CONNECTION |
                                                        INTERNET_FLAG_NO_COOKIES,
                                                    0));
    std::string head = std::string("--") + kBoundary +
                       "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"bench.bin\"\r\n"
                       "Content-Type: application/octet-stream\r\n\r\n";
    std::string tail = std::string("\r\n--") + kBoundary + "--\r\n";
    std::string headers = std::string("Content-Type: multipart/form-data; boundary=") + kBoundary +
                          "\r\nContent-Length: " + std::to_string(head.size() + data.size() + tail.size());
    INTERNET_BUFFERSW buffers = {};
    buffers.dwStructSize = sizeof(buffers);
    buffers.dwBufferTotal = static_cast<DWORD>(head.size() + data.size() + tail.size());
    DWORD written = 0, status = 0, size = sizeof(status);
    return request &&
           ::HttpAddRequestHeadersA(request.get(), headers.c_str(), static_cast<DWORD>(-1),
                                    HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE) &&
           ::HttpSendRequestExW(request.get(), &buffers, nullptr, HSR_INITIATE, 0) &&
           ::InternetWriteFile(request.get(), head.data(), static_cast<DWORD>(head.size()), &written) &&
           ::InternetWriteFile(request.get(), data.data(), static_cast<DWORD>(data.size()), &written) &&
           ::InternetWriteFile(request.get(), tail.data(), static_cast<DWORD>(tail.size()), &written) &&
           ::HttpEndRequestW(request.get(), nullptr, 0, 0) &&
           ::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                            nullptr) &&
           status == 200;
}

} // namespace

int main() {
    bench::DefaultSourceDir(HK_SOURCE_DIR_UNIX);
    hk::test::TempDir dir(L"uploadbench");
    bench::Nginx nginx(dir);
    if (!nginx.Ok()) {
        std::printf("upload_bench: %s\n", nginx.Error().c_str());
        return 1;
    }
    std::vector<BYTE> body(kSize);
    for (size_t i = 0; i < body.size(); i += 4096) {
        body[i] = static_cast<BYTE>(i >> 12);
    }
    hk::test::WriteFileBytes(nginx.Files() + L"\\bench.bin", body.data(), body.size());

    CComBSTR url(hk::test::Widen(nginx.Url("")).c_str());
    BenchClient client(url);
    hk::unique_hinternet session(
        ::InternetOpenW(L"hk-upload-bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    hk::unique_hinternet connect(::InternetConnectA(session.get(), "127.0.0.1",
                                                    static_cast<INTERNET_PORT>(nginx.Port()), nullptr,
                                                    nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!client.Init()) {
        std::printf("upload_bench: Init failed\n");
        return 1;
    }
    std::vector<FieldData> fields;
    std::vector<FileData> files = {{"file", "bench.bin", body.data(), kSize, "application/octet-stream"}};
    auto libraryUpload = [&] {
        ResponseDetails response;
        return client.PostLargeDataToServer("up", files, fields, &response) == S_OK &&
               response.dwStatusCode == 200;
    };

    // The first upload, before any other, says how much memory one adds.
    double peakBefore = bench::PeakWorkingSet();
    if (!libraryUpload()) {
        std::printf("upload_bench: PostLargeDataToServer failed\n");
        return 1;
    }
    double growth = (bench::PeakWorkingSet() - peakBefore) / (1024.0 * 1024.0);

    std::string curlArgs = "-F file=@" + webserver::UnixPath(nginx.Files() + L"\\bench.bin") +
                           " -H 'Expect:' " + nginx.Url("/up");
    const char* const names[] = {"PostLargeDataToServer", "WinINet loop", "curl -F"};
    if (bench::PairedRounds(
            "upload 256 MiB", names, kSize / 1e6, kRounds, libraryUpload,
            [&] { return BareUpload(connect.get(), body); }, curlArgs, dir) < 0) {
        return 1;
    }
    std::printf("peak working set added by the first upload: %.1f MiB (limit 16 MiB)\n", growth);
    return growth < 16.0 ? 0 : 2;
}
