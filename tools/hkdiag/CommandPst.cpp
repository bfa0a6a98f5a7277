// hkdiag pst create|open PATH: a PST opened the way the product opens its
// stores, and what the library sees in it.
#include "Hearthkit.h"
#include "Json.h"
#include "Tool.h"

#include <cstdio>
#include <stdexcept>

namespace hkdiag {
namespace {

// The helper on a session of its own (a temporary profile).
class ToolPstHelper : public CDesktopPSTHelperBase {
public:
    ToolPstHelper() = default;
};

struct PstReport {
    bool unicode = false;
    std::string rootFolder;
    std::vector<ULONG> tags;
    ULONG ownSetTags = 0;
};

HRESULT RootFolderName(const CDesktopPSTHelperBase& helper, std::string* name) {
    CComPtr<IMAPIFolder> root;
    HRESULT hr = helper.GetRootFolder(&root);
    if (FAILED(hr)) {
        return hr;
    }
    AutoPtrWithFreePolicy<SPropValue, MAPIFreeBufferPolicy> value;
    hr = HrGetOneProp(root, PR_DISPLAY_NAME_W, value.put());
    if (FAILED(hr)) {
        return hr;
    }
    *name = Utf8(value->Value.lpszW);
    return S_OK;
}

// The named property table raises; its failures become HRESULTs here.
HRESULT ResolveNames(CDesktopPSTHelperBase& helper, PstReport* report) {
    CComPtr<IMsgStore> store;
    HRESULT hr = helper.GetStore(&store);
    if (FAILED(hr)) {
        return hr;
    }
    try {
        MDC::PSTNamedProperties names(store);
        auto all = names.GetAllTags();
        report->tags.assign(all->aulPropTag, all->aulPropTag + all->cValues);
        report->ownSetTags = names.GetAllHVTags()->cValues;
    } catch (const _com_error& e) {
        return e.Error();
    } catch (const std::exception&) {
        return E_UNEXPECTED;
    }
    return S_OK;
}

void Print(const Invocation& invocation, const std::wstring& path, const PstReport& report) {
    if (invocation.json) {
        std::string tags = "[";
        for (size_t i = 0; i < report.tags.size(); ++i) {
            tags += (i ? "," : "") + std::to_string(report.tags[i]);
        }
        JsonObject json;
        json.Bool("ok", true).Text("path", Utf8(path)).Bool("unicode", report.unicode);
        json.Text("rootFolder", report.rootFolder)
            .Raw("tags", tags + "]")
            .Number("ownSetTags", report.ownSetTags);
        std::printf("%s\n", json.Done().c_str());
        return;
    }
    std::printf("PST: %s\nUnicode: %s\nRoot folder: %s\n", Utf8(path).c_str(), report.unicode ? "yes" : "no",
                report.rootFolder.c_str());
    std::printf("Named properties: %u resolved, %lu in the product's own set\n",
                static_cast<unsigned>(report.tags.size()), report.ownSetTags);
    for (size_t i = 0; i < report.tags.size(); ++i) {
        std::printf("  %2u 0x%08lX\n", static_cast<unsigned>(i), report.tags[i]);
    }
}

} // namespace

int RunPst(const Invocation& invocation) {
    const Command& command = FindCommand(L"pst");
    std::vector<std::wstring> words;
    bool force = false;
    for (const std::wstring& arg : invocation.args) {
        if (arg == L"--force") {
            force = true;
        } else {
            words.push_back(arg);
        }
    }
    if (words.size() != 2 || (words[0] != L"create" && words[0] != L"open") ||
        (force && words[0] != L"create")) {
        return ReportBadUsage(invocation, command, "pst needs \"create PATH [--force]\" or \"open PATH\"");
    }
    bool create = words[0] == L"create";
    const std::wstring& path = words[1];
    std::string what = "pst " + Utf8(words[0]) + " " + Utf8(path);
    // Nothing is made or replaced that the user did not ask for.
    Failure refusal;
    refusal.what = what;
    bool exists = ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!create && !exists) {
        refusal.hr = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        refusal.hint = "pst create makes a new store";
        return ReportFailure(invocation, refusal);
    }
    if (create && exists && !force) {
        refusal.hr = HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
        refusal.hint = "--force replaces it with a new store";
        return ReportFailure(invocation, refusal);
    }
    if (create && FAILED(refusal.hr = FolderOf(path))) {
        refusal.what = "pst create: the output " + Utf8(path);
        return ReportFailure(invocation, refusal);
    }

    ToolPstHelper helper;
    HRESULT hr = helper.OpenNamedPST(path.c_str(), create ? CDesktopPSTHelperBase::CreateNew
                                                          : CDesktopPSTHelperBase::OpenExisting);
    if (FAILED(hr)) {
        return ReportFailure(invocation, what, hr);
    }
    PstReport report;
    report.unicode = helper.IsUnicode();
    hr = RootFolderName(helper, &report.rootFolder);
    if (SUCCEEDED(hr)) {
        hr = ResolveNames(helper, &report);
    }
    helper.ClosePST(true);
    if (FAILED(hr)) {
        return ReportFailure(invocation, what, hr);
    }
    Print(invocation, path, report);
    return kExitSuccess;
}

} // namespace hkdiag
