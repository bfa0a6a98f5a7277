// hkdiag l10n: one user-visible text as the product's components receive it.
#include "Hearthkit.h"
#include "Json.h"
#include "Tool.h"

#include <cstdio>
#include <cwchar>

namespace hkdiag {

namespace {

bool ParseIdentifier(const std::wstring& text, UINT* id) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return false;
    }
    unsigned long long value = std::wcstoull(text.c_str(), nullptr, 10);
    if (value > 0xFFFFFFFFull) {
        return false;
    }
    *id = static_cast<UINT>(value);
    return true;
}

// The file of the resource module CL10N loaded, or empty when it loaded
// none (the module stays loaded for the rest of the process).
std::wstring LoadedResourceModule() {
    HMODULE module = ::GetModuleHandleW(L"skyrend.dll");
    wchar_t path[MAX_PATH];
    DWORD chars = module != nullptr ? ::GetModuleFileNameW(module, path, MAX_PATH) : 0;
    return chars > 0 && chars < MAX_PATH ? std::wstring(path, chars) : std::wstring();
}

} // namespace

int RunL10n(const Invocation& invocation) {
    const Command& command = FindCommand(L"l10n");
    std::vector<std::wstring> words;
    // Where the product installs it: beside the program. CL10N falls back to
    // that folder's "skyrend.dll" and then to the system's search.
    std::wstring module = ToolDirectory() + L"skyrend.dll";
    for (size_t i = 0; i < invocation.args.size(); ++i) {
        const std::wstring& arg = invocation.args[i];
        if (arg == L"--module") {
            if (++i == invocation.args.size()) {
                return ReportBadUsage(invocation, command, "--module needs a file name");
            }
            module = invocation.args[i];
        } else if (arg.size() > 1 && arg[0] == L'-') {
            return ReportBadUsage(invocation, command, "unknown option \"" + Utf8(arg) + "\"");
        } else {
            words.push_back(arg);
        }
    }
    UINT id = 0;
    if (words.empty() || words.size() > 2) {
        return ReportBadUsage(invocation, command, "l10n needs an identifier and at most one insert");
    }
    if (!ParseIdentifier(words[0], &id)) {
        return ReportBadUsage(invocation, command, "\"" + Utf8(words[0]) + "\" is not a string identifier");
    }
    CL10N l10n(module.c_str());
    std::wstring text =
        words.size() == 2 ? l10n.GetTranslatedMsg(id, words[1].c_str()) : l10n.GetTranslatedMsg(id);
    std::string loaded = Utf8(LoadedResourceModule());
    if (invocation.json) {
        JsonObject json;
        json.Bool("ok", true).Number("id", id).Text("text", Utf8(text));
        json.Raw("module", loaded.empty() ? "null" : JsonString(loaded));
        std::printf("%s\n", json.Done().c_str());
        return kExitSuccess;
    }
    std::printf("%s\n  (%s)\n", Utf8(text).c_str(),
                loaded.empty() ? "no resource module: the built-in text" : ("from " + loaded).c_str());
    return kExitSuccess;
}

} // namespace hkdiag
