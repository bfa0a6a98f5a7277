// Entry point of every test program: a scenario when asked for one
// (--hk-scenario=NAME), otherwise the GoogleTest run (after the steps that
// may run it elsewhere, see Scenario.h).
#include "Scenario.h"

#include <gtest/gtest.h>
#include <shellapi.h>
#include <cstdio>

namespace {
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* info) {
    std::fflush(stdout);
    ::TerminateProcess(::GetCurrentProcess(), info->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}
} // namespace

int main(int argc, char** argv) {
    // A failing program ends at once: no message boxes, no debugger.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    ::SetUnhandledExceptionFilter(EndOnCrash);
    int wargc = 0;
    wchar_t** wargv = ::CommandLineToArgvW(::GetCommandLineW(), &wargc);
    int exitCode = 0;
    bool ran = hk::test::TryRunScenarioFromCommandLine(wargc, wargv, &exitCode) ||
               hk::test::RunBeforeTests(wargc, wargv, &exitCode);
    ::LocalFree(wargv);
    if (ran) {
        return exitCode;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
