// hkdiag send: one exchange with the archive web server through the library's
// own client (CHttpClientHelper): a URL-encoded form, an XML document or a
// multipart upload of files from disk, then the reply's status, headers and
// body. An upload also shows how many bytes it sent and how fast.
#include "Hearthkit.h"
#include "Json.h"
#include "Tool.h"

#include <cstdio>
#include <memory>

namespace hkdiag {
namespace {

// The library's client of one server URL, its forwarders made reachable.
class SendClient : public CHttpClientHelper {
public:
    SendClient(CComBSTR& url, DWORD timeout) : CHttpClientHelper(url, timeout) {}
    using CHttpClientHelper::Init;
    using CHttpClientHelper::PostFormDataToServer;
    using CHttpClientHelper::PostLargeDataToServer;
    using CHttpClientHelper::PostXMLDataToServer;
};

struct SendOptions {
    std::wstring kind; // form, xml or upload
    std::wstring url;
    std::vector<std::wstring> operands; // name=value pairs, or files
    std::vector<FieldData> fields;      // --field for an upload
    DWORD timeout = 30000;
};

struct LoadedFile {
    std::string name; // the file name without its folder
    std::vector<char> bytes;
};

// Splits name=value; false without "=".
bool SplitField(const std::wstring& text, FieldData* field) {
    size_t eq = text.find(L'=');
    if (eq == std::wstring::npos) {
        return false;
    }
    field->strName = Utf8(text.substr(0, eq)).c_str();
    field->strValue = Utf8(text.substr(eq + 1)).c_str();
    return true;
}

HRESULT LoadFile(const std::wstring& path, LoadedFile* file) {
    hk::unique_file handle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        return HkHResultFromWin32(::GetLastError());
    }
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(handle.get(), &size)) {
        return HkHResultFromWin32(::GetLastError());
    }
    // A file part's length is a signed 32-bit number.
    if (size.QuadPart > 0x7FFFFFFF) {
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    file->bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!file->bytes.empty() && (!::ReadFile(handle.get(), file->bytes.data(),
                                             static_cast<DWORD>(file->bytes.size()), &read, nullptr) ||
                                 read != file->bytes.size())) {
        return HkHResultFromWin32(::GetLastError());
    }
    size_t slash = path.find_last_of(L"\\/");
    file->name = Utf8(slash == std::wstring::npos ? path : path.substr(slash + 1));
    return S_OK;
}

// The client's URL is everything before the last "/" of the path; the rest,
// with any query, is the request's suffix (the client puts a "/" between).
void SplitUrl(const std::wstring& url, std::wstring* server, std::string* suffix) {
    size_t pathStart = url.find(L"//");
    pathStart = url.find(L'/', pathStart == std::wstring::npos ? 0 : pathStart + 2);
    size_t query = url.find(L'?');
    size_t slash = pathStart == std::wstring::npos ? std::wstring::npos : url.rfind(L'/', query);
    if (slash == std::wstring::npos || slash < pathStart) {
        *server = url;
        suffix->clear();
        return;
    }
    *server = url.substr(0, slash);
    *suffix = Utf8(url.substr(slash + 1));
}

int ParseSend(const Invocation& invocation, SendOptions* options) {
    const Command& command = FindCommand(L"send");
    const auto& args = invocation.args;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == L"--timeout" || args[i] == L"--field") {
            if (i + 1 == args.size()) {
                return ReportBadUsage(command, Utf8(args[i]) + " needs a value");
            }
            const std::wstring& value = args[++i];
            if (args[i - 1] == L"--timeout") {
                options->timeout = static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 10));
                if (options->timeout == 0) {
                    return ReportBadUsage(command, "--timeout needs a number of milliseconds");
                }
                continue;
            }
            FieldData field;
            if (!SplitField(value, &field)) {
                return ReportBadUsage(command, "a field is name=value");
            }
            options->fields.push_back(field);
        } else if (!args[i].empty() && args[i][0] == L'-') {
            return ReportBadUsage(command, "unknown option \"" + Utf8(args[i]) + "\"");
        } else if (options->kind.empty()) {
            options->kind = args[i];
        } else if (options->url.empty()) {
            options->url = args[i];
        } else {
            options->operands.push_back(args[i]);
        }
    }
    if (options->kind != L"form" && options->kind != L"xml" && options->kind != L"upload") {
        return ReportBadUsage(command, "send form, send xml or send upload");
    }
    if (options->url.empty()) {
        return ReportBadUsage(command, "send needs a URL");
    }
    if (options->kind == L"xml" && options->operands.size() != 1) {
        return ReportBadUsage(command, "send xml needs one XML file");
    }
    if (options->kind == L"upload" && options->operands.empty()) {
        return ReportBadUsage(command, "send upload needs at least one file");
    }
    if (options->kind != L"upload" && !options->fields.empty()) {
        return ReportBadUsage(command, "--field belongs to send upload");
    }
    return kExitSuccess;
}

std::string Text(const char* data, DWORD lengthWithNul) {
    return data != nullptr && lengthWithNul > 0 ? std::string(data, lengthWithNul - 1) : std::string();
}

void PrintReply(const Invocation& invocation, const ResponseDetails& reply, const std::string& upload) {
    std::string headers = Text(reply.pHeaders, reply.dwHeadersLength);
    std::string body = Text(reply.pBody, reply.dwBodyLength);
    if (invocation.json) {
        JsonObject json;
        json.Bool("ok", true).Number("status", reply.dwStatusCode).Text("statusText", reply.szStatusText);
        json.Text("headers", headers)
            .Number("bodyBytes", static_cast<long long>(body.size()))
            .Text("body", body);
        if (!upload.empty()) {
            json.Raw("upload", upload);
        }
        std::printf("%s\n", json.Done().c_str());
        return;
    }
    // stdout is a text stream: it writes each line feed as CR LF.
    for (size_t at = headers.find("\r\n"); at != std::string::npos; at = headers.find("\r\n", at)) {
        headers.erase(at, 1);
    }
    std::printf("Status: %lu %s\nHeaders:\n%s", static_cast<unsigned long>(reply.dwStatusCode),
                reply.szStatusText, headers.c_str());
    std::printf("Body (%lu bytes):\n", static_cast<unsigned long>(body.size()));
    std::fwrite(body.data(), 1, body.size(), stdout);
    if (!body.empty() && body.back() != '\n') {
        std::printf("\n");
    }
}

} // namespace

int RunSend(const Invocation& invocation) {
    SendOptions options;
    int usage = ParseSend(invocation, &options);
    if (usage != kExitSuccess) {
        return usage;
    }
    std::string what = "send " + Utf8(options.kind) + " " + Utf8(options.url);
    std::wstring serverUrl;
    std::string suffix;
    SplitUrl(options.url, &serverUrl, &suffix);
    CComBSTR bstrUrl(serverUrl.c_str());
    SendClient client(bstrUrl, options.timeout);
    if (!client.Init()) {
        return ReportFailure(invocation, what, HkHResultFromWin32(::GetLastError()));
    }

    ResponseDetails reply;
    HRESULT hr = S_OK;
    std::string upload;
    if (options.kind == L"form") {
        std::vector<FieldData> fields;
        for (const std::wstring& operand : options.operands) {
            FieldData field;
            if (!SplitField(operand, &field)) {
                return ReportBadUsage(FindCommand(L"send"), "a form field is name=value");
            }
            fields.push_back(field);
        }
        hr = client.PostFormDataToServer(suffix.c_str(), fields, &reply);
    } else if (options.kind == L"xml") {
        LoadedFile file;
        hr = LoadFile(options.operands[0], &file);
        if (FAILED(hr)) {
            return ReportFailure(invocation, what + ": " + Utf8(options.operands[0]), hr);
        }
        // The document is text in UTF-8; the library sends it as UTF-16.
        std::wstring text;
        int chars = ::MultiByteToWideChar(CP_UTF8, 0, file.bytes.data(), static_cast<int>(file.bytes.size()),
                                          nullptr, 0);
        text.resize(chars > 0 ? chars : 0);
        if (chars > 0) {
            ::MultiByteToWideChar(CP_UTF8, 0, file.bytes.data(), static_cast<int>(file.bytes.size()),
                                  &text[0], chars);
        }
        CComBSTR xml(text.c_str());
        hr = client.PostXMLDataToServer(suffix.c_str(), xml, &reply);
    } else {
        std::vector<LoadedFile> loaded(options.operands.size());
        std::vector<FileData> files;
        long long total = 0;
        for (size_t i = 0; i < options.operands.size(); ++i) {
            hr = LoadFile(options.operands[i], &loaded[i]);
            if (FAILED(hr)) {
                return ReportFailure(invocation, what + ": " + Utf8(options.operands[i]), hr);
            }
            FileData file;
            file.strFieldName = "file";
            file.strFileName = loaded[i].name.c_str();
            file.pData = reinterpret_cast<const BYTE*>(loaded[i].bytes.data());
            file.nDataLength = static_cast<int>(loaded[i].bytes.size());
            file.strContentType = "application/octet-stream";
            files.push_back(file);
            total += file.nDataLength;
        }
        LARGE_INTEGER frequency, start, end;
        ::QueryPerformanceFrequency(&frequency);
        ::QueryPerformanceCounter(&start);
        hr = client.PostLargeDataToServer(suffix.c_str(), files, options.fields, &reply);
        ::QueryPerformanceCounter(&end);
        double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
        double rate = seconds > 0 ? total / seconds / (1024.0 * 1024.0) : 0;
        if (SUCCEEDED(hr)) {
            if (invocation.json) {
                upload =
                    JsonObject()
                        .Number("files", static_cast<long long>(files.size()))
                        .Number("bytes", total)
                        .Number("milliseconds", static_cast<long long>(seconds * 1000))
                        .Number("bytesPerSecond", static_cast<long long>(seconds > 0 ? total / seconds : 0))
                        .Done();
            } else {
                std::printf("Uploaded %lu file(s), %lld bytes in %.3f s (%.1f MiB/s)\n",
                            static_cast<unsigned long>(files.size()), total, seconds, rate);
            }
        }
    }
    if (FAILED(hr)) {
        return ReportFailure(invocation, what, hr);
    }
    PrintReply(invocation, reply, upload);
    return kExitSuccess;
}

} // namespace hkdiag
