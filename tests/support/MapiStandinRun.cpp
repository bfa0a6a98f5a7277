// Built into every test program whose tests run on the MAPI stand-in
// (hk_add_test(... MAPI)): main hands the run to a child process started after
// the stand-in was registered (see MapiStandin.h).
#include "ClientKeys.h"
#include "HkHandle.h"
#include "MapiStandin.h"
#include "Scenario.h"

#include <cstdio>

namespace hk {
namespace test {
namespace {

const wchar_t kChildMark[] = L"HK_MAPI_STANDIN_RUN";

// The whole test run, in a child started after the stand-in was registered.
bool RunUnderStandin(int, wchar_t**, int* exitCode) {
    if (MAPILoader::Instance().IsLoaded()) {
        return false;
    }
    if (::GetEnvironmentVariableW(kChildMark, nullptr, 0) != 0) {
        std::printf("Hearthkit.dll did not bind the MAPI stand-in (%ls)\n",
                    (BinDir() + L"\\MapiStandin.dll").c_str());
        *exitCode = 92;
        return true;
    }
    MapiStandinRegistration registration;
    RegistryKeyGuard client(HKEY_CURRENT_USER, kClientKey);
    ::SetEnvironmentVariableW(kChildMark, L"1");
    // The child dies with this process (a time-out of the runner kills only us).
    unique_handle job(::CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = ::GetCommandLineW();
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::fflush(stdout);
    if (!::CreateProcessW(self, &command[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &si,
                          &pi)) {
        std::printf("cannot start the run on the MAPI stand-in: %lu\n", ::GetLastError());
        *exitCode = 93;
        return true;
    }
    unique_handle process(pi.hProcess), thread(pi.hThread);
    ::AssignProcessToJobObject(job.get(), process.get());
    ::ResumeThread(thread.get());
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 94;
    ::GetExitCodeProcess(process.get(), &code);
    *exitCode = static_cast<int>(code);
    return true;
}

const BeforeTestsRegistrar g_underStandin(RunUnderStandin);

} // namespace
} // namespace test
} // namespace hk
