// hkdiag demo: the tour a newcomer starts with. This process prepares the
// embedded environment and runs the tour in a child process of the tool
// (see Demo.h), then stops the web server again.
#include "Demo.h"

#include "Hearthkit.h"

#include <cstdio>

namespace hkdiag {
namespace {

const wchar_t kDemoProfile[] = L"Stowhaven Demo";
// The tour's own limit; the child is ended after it.
const DWORD kTourTimeoutMs = 110000;

// The tour runs at LOG_TRACE, and the user's level comes back afterwards.
// The level is read once per process, by the first named log object: the
// tour's process reads it at its start.
class TraceLevel {
public:
    HRESULT Set() {
        LONG error = m_key.Create(HKEY_CURRENT_USER, L"SOFTWARE\\Talvo\\Stowhaven\\Client");
        if (error == ERROR_SUCCESS) {
            m_had = m_key.QueryDWORDValue(L"LoggingLevel", m_previous) == ERROR_SUCCESS;
            error = m_key.SetDWORDValue(L"LoggingLevel", 0x80000000 | LOG_TRACE);
        }
        m_set = error == ERROR_SUCCESS;
        return m_set ? S_OK : HkHResultFromWin32(error);
    }
    ~TraceLevel() {
        if (m_set && m_had) {
            m_key.SetDWORDValue(L"LoggingLevel", m_previous);
        } else if (m_set) {
            m_key.DeleteValue(L"LoggingLevel");
        }
    }

private:
    CRegKey m_key;
    DWORD m_previous = 0;
    bool m_had = false;
    bool m_set = false;
};

// An inheritable copy of one of this process's standard handles.
hk::unique_handle InheritableStdHandle(DWORD which) {
    HANDLE copy = nullptr;
    HANDLE handle = ::GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        !::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, TRUE,
                           DUPLICATE_SAME_ACCESS)) {
        return hk::unique_handle();
    }
    return hk::unique_handle(copy);
}

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

// Runs "hkdiag demo --tour ..." on this process's console or pipes and
// answers its exit code.
HRESULT RunTourProcess(const Invocation& invocation, const DemoSetup& setup, DWORD* exitCode) {
    wchar_t exe[MAX_PATH];
    DWORD chars = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    if (chars == 0 || chars >= MAX_PATH) {
        return HkHResultFromWin32(::GetLastError());
    }
    std::wstring command =
        Quoted(exe) + L" demo --tour --server " + Quoted(setup.serverUrl) + L" --profile " +
        Quoted(setup.profile) + L" --module " + Quoted(setup.resourceModule) +
        (setup.handlerCalls.empty() ? L"" : L" --handler-calls " + Quoted(setup.handlerCalls)) +
        (invocation.json ? L" --json" : L"");
    hk::unique_handle in = InheritableStdHandle(STD_INPUT_HANDLE);
    hk::unique_handle out = InheritableStdHandle(STD_OUTPUT_HANDLE);
    hk::unique_handle err = InheritableStdHandle(STD_ERROR_HANDLE);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in.get();
    si.hStdOutput = out.get();
    si.hStdError = err.get();
    PROCESS_INFORMATION pi = {};
    std::fflush(stdout);
    std::fflush(stderr);
    if (!::CreateProcessW(exe, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        return HkHResultFromWin32(::GetLastError());
    }
    hk::unique_handle process(pi.hProcess), thread(pi.hThread);
    if (::WaitForSingleObject(process.get(), kTourTimeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), kExitFailed);
        ::WaitForSingleObject(process.get(), 10000);
        return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    }
    return ::GetExitCodeProcess(process.get(), exitCode) ? S_OK : HkHResultFromWin32(::GetLastError());
}

int Prepare(const Invocation& invocation) {
    std::string what;
    HRESULT hr = CheckDemoMapiRegistration(&what);
    if (FAILED(hr)) {
        return ReportFailure(invocation, what, hr);
    }
    DemoWebServer server;
    hr = server.Start(ToolDirectory() + L"webserver.py");
    if (FAILED(hr)) {
        return ReportFailure(invocation, "starting the archive web server stand-in", hr);
    }
    DemoSetup setup;
    setup.serverUrl = L"http://127.0.0.1:" + std::to_wstring(server.Port()) + L"/archive/";
    setup.profile = kDemoProfile;
    setup.resourceModule = ToolDirectory() + L"skyrend\\skyrend.dll";
    hr = PrepareDemoMailbox(setup.profile, setup.serverUrl, &what);
    if (FAILED(hr)) {
        return ReportFailure(invocation, what, hr);
    }
    wchar_t temp[MAX_PATH];
    DWORD chars = ::GetTempPathW(MAX_PATH, temp);
    std::wstring callLog =
        std::wstring(chars > 0 && chars < MAX_PATH ? temp : L"") + L"hkdiag-demo-handler.txt";
    hr = RegisterDemoProtocolHandler(callLog);
    if (FAILED(hr)) {
        return ReportFailure(invocation, "registering the protocol handler stand-in", hr);
    }
    if (hr == S_OK) {
        setup.handlerCalls = callLog;
    }
    hr = PrepareDemoCache();
    if (FAILED(hr)) {
        return ReportFailure(invocation, "preparing the Hoardlocal cache", hr);
    }
    TraceLevel level;
    hr = level.Set();
    if (FAILED(hr)) {
        return ReportFailure(invocation, "setting the trace level", hr);
    }
    DWORD exitCode = kExitFailed;
    hr = RunTourProcess(invocation, setup, &exitCode);
    if (FAILED(hr)) {
        return ReportFailure(invocation, "running the tour", hr);
    }
    return static_cast<int>(exitCode);
}

} // namespace

int RunDemo(const Invocation& invocation) {
    const Command& command = FindCommand(L"demo");
    bool tour = false;
    DemoSetup setup;
    for (size_t i = 0; i < invocation.args.size(); ++i) {
        const std::wstring& arg = invocation.args[i];
        std::wstring* value = arg == L"--server"          ? &setup.serverUrl
                              : arg == L"--profile"       ? &setup.profile
                              : arg == L"--module"        ? &setup.resourceModule
                              : arg == L"--handler-calls" ? &setup.handlerCalls
                                                          : nullptr;
        if (arg == L"--tour") {
            tour = true;
        } else if (value != nullptr && i + 1 < invocation.args.size()) {
            *value = invocation.args[++i];
        } else {
            return ReportBadUsage(invocation, command, "unknown argument \"" + Utf8(arg) + "\"");
        }
    }
    if (!tour) {
        if (!setup.serverUrl.empty() || !setup.profile.empty() || !setup.resourceModule.empty()) {
            return ReportBadUsage(invocation, command, "--server, --profile and --module go with --tour");
        }
        return Prepare(invocation);
    }
    if (setup.serverUrl.empty() || setup.profile.empty() || setup.resourceModule.empty()) {
        return ReportBadUsage(invocation, command, "--tour needs --server, --profile and --module");
    }
    return RunTour(invocation, setup);
}

} // namespace hkdiag
