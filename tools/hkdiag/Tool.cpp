#include "Tool.h"

#include "HResultText.h"
#include "Json.h"

#include <cstdio>

namespace hkdiag {

std::string Utf8(const std::wstring& text) {
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr,
                              nullptr);
    }
    return out;
}

std::wstring ToolDirectory() {
    wchar_t path[MAX_PATH];
    DWORD chars = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (chars == 0 || chars >= MAX_PATH) {
        return std::wstring();
    }
    std::wstring dir(path, chars);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

int ReportFailure(const Invocation& invocation, const std::string& what, HRESULT hr) {
    if (invocation.json) {
        const char* name = HResultName(hr);
        JsonObject json;
        json.Bool("ok", false).Text("operation", what).Text("hr", HResultHex(hr));
        json.Raw("name", name != nullptr ? JsonString(name) : "null").Text("message", HResultMessage(hr));
        std::printf("%s\n", json.Done().c_str());
    } else {
        std::fprintf(stderr, "hkdiag: %s: %s\n", what.c_str(), DescribeHResult(hr).c_str());
    }
    return kExitFailed;
}

int ReportBadUsage(const Command& command, const std::string& message) {
    std::fprintf(stderr, "hkdiag: %s\n%s", message.c_str(), command.usage);
    return kExitBadUsage;
}

} // namespace hkdiag
