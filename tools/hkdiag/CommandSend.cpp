// hkdiag send: one exchange with the archive web server through the library's
// own client (CHttpClientHelper): a URL-encoded form, an XML document or a
// multipart upload of files from disk, then the reply's status, headers and
// body. An upload also shows how many bytes it sent and how fast.
#include "HttpExchange.h"
#include "Json.h"

#include <cstdio>

namespace hkdiag {
namespace {

struct SendOptions {
    std::wstring kind; // form, xml or upload
    ExchangeOptions exchange;
    std::vector<std::wstring> operands; // name=value pairs, or files
    std::vector<FieldData> fields;      // --field for an upload
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

std::string FileName(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return Utf8(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

int ParseSend(const Invocation& invocation, SendOptions* options) {
    const Command& command = FindCommand(L"send");
    const auto& args = invocation.args;
    for (size_t i = 0; i < args.size(); ++i) {
        std::wstring value;
        if (args[i] == L"--timeout") {
            if (!OptionValue(args, i, &value) || !ParseMilliseconds(value, &options->exchange.timeout)) {
                return ReportBadUsage(invocation, command, "--timeout needs a number of milliseconds");
            }
        } else if (args[i] == L"--field") {
            FieldData field;
            if (!OptionValue(args, i, &value) || !SplitField(value, &field)) {
                return ReportBadUsage(invocation, command, "--field needs name=value");
            }
            options->fields.push_back(field);
        } else if (args[i] == L"--login") {
            options->exchange.login = true;
        } else if (!args[i].empty() && args[i][0] == L'-') {
            return ReportBadUsage(invocation, command, "unknown option \"" + Utf8(args[i]) + "\"");
        } else if (options->kind.empty()) {
            options->kind = args[i];
        } else if (options->exchange.url.empty()) {
            options->exchange.url = args[i];
        } else {
            options->operands.push_back(args[i]);
        }
    }
    const std::wstring& kind = options->kind;
    const char* wrong =
        kind != L"form" && kind != L"xml" && kind != L"upload" ? "send form, send xml or send upload"
        : options->exchange.url.empty()                        ? "send needs a URL"
        : kind == L"xml" && options->operands.size() != 1      ? "send xml needs one XML file"
        : kind == L"upload" && options->operands.empty()       ? "send upload needs at least one file"
        : kind != L"upload" && !options->fields.empty()        ? "--field belongs to send upload"
                                                               : nullptr;
    if (wrong == nullptr && kind == L"form") {
        for (const std::wstring& operand : options->operands) {
            FieldData field;
            if (!SplitField(operand, &field)) {
                wrong = "a form field is name=value";
            }
            options->fields.push_back(field);
        }
    }
    return wrong != nullptr ? ReportBadUsage(invocation, command, wrong) : kExitSuccess;
}

} // namespace

int RunSend(const Invocation& invocation) {
    SendOptions options;
    if (int usage = ParseSend(invocation, &options)) {
        return usage;
    }
    std::string what = "send " + Utf8(options.kind) + " " + Utf8(options.exchange.url);
    std::wstring serverUrl;
    std::string suffix;
    SplitRequestUrl(options.exchange.url, &serverUrl, &suffix);
    // The files are read before anything is sent: a missing one sends nothing.
    std::vector<std::string> contents(options.operands.size());
    if (options.kind != L"form") {
        for (size_t i = 0; i < options.operands.size(); ++i) {
            HRESULT hr = ReadWholeFile(options.operands[i], &contents[i]);
            if (FAILED(hr)) {
                return ReportFailure(invocation, what + ": " + Utf8(options.operands[i]), hr);
            }
        }
    }
    CComBSTR bstrUrl(serverUrl.c_str());
    ToolClient client(bstrUrl, options.exchange);
    if (!client.Init()) {
        return ReportFailure(invocation, what, HkHResultFromWin32(::GetLastError()));
    }
    ResponseDetails reply;
    ExchangeReport report;
    report.what = what;
    double start = Seconds();
    if (options.kind == L"form") {
        report.hr = client.PostFormDataToServer(suffix.c_str(), options.fields, &reply);
    } else if (options.kind == L"xml") {
        // The document is text in UTF-8; the library sends it as UTF-16.
        CComBSTR xml(Wide(contents[0]).c_str());
        report.hr = client.PostXMLDataToServer(suffix.c_str(), xml, &reply);
    } else {
        std::vector<FileData> files;
        long long total = 0;
        for (size_t i = 0; i < options.operands.size(); ++i) {
            FileData file;
            file.strFieldName = "file";
            file.strFileName = FileName(options.operands[i]).c_str();
            file.pData = reinterpret_cast<const BYTE*>(contents[i].data());
            file.nDataLength = static_cast<int>(contents[i].size());
            file.strContentType = "application/octet-stream";
            files.push_back(file);
            total += file.nDataLength;
        }
        report.hr = client.PostLargeDataToServer(suffix.c_str(), files, options.fields, &reply);
        double seconds = Seconds() - start;
        long long rate = seconds > 0 ? static_cast<long long>(total / seconds) : 0;
        report.extraJson = "\"upload\":" + JsonObject()
                                               .Number("files", static_cast<long long>(files.size()))
                                               .Number("bytes", total)
                                               .Number("milliseconds", static_cast<long long>(seconds * 1000))
                                               .Number("bytesPerSecond", rate)
                                               .Done();
        char line[128];
        std::snprintf(line, sizeof(line), "Uploaded %lu file(s), %lld bytes in %.3f s (%.1f MiB/s)\n",
                      static_cast<unsigned long>(files.size()), total, seconds, rate / (1024.0 * 1024.0));
        report.extraText = line;
    }
    return ReportExchange(invocation, client, reply, report);
}

} // namespace hkdiag
