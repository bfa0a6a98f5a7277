#include "LoggedRun.h"

#include "Hearthkit.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

LoggedRun RunLoggedScenario(const char* name, const std::vector<std::wstring>& args) {
    const wchar_t clientKey[] = L"SOFTWARE\\Talvo\\Stowhaven\\Client";
    LoggedRun run;
    hk::test::TempDir logDir(L"xmllog");
    const std::wstring temp = logDir.Path() + L"\\";
    {
        hk::test::RegistryKeyGuard guard(HKEY_CURRENT_USER, clientKey);
        CRegKey key;
        EXPECT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, clientKey));
        EXPECT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"LoggingLevel", LOG_DETAIL));
        run.result = hk::test::RunScenario(name, args, 60000, {L"TMP=" + temp, L"TEMP=" + temp});
    }
    WIN32_FIND_DATAW found;
    hk::unique_find find(::FindFirstFileW(logDir.File(L"sh_client_log_*.txt").c_str(), &found));
    if (find) {
        do {
            run.log += hk::test::ReadFileText(logDir.File(found.cFileName));
        } while (::FindNextFileW(find.get(), &found));
    }
    return run;
}
