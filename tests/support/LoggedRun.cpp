#include "LoggedRun.h"

#include "ClientKeys.h"
#include "TestEnv.h"

#include <filesystem>
#include <sstream>

namespace hk {
namespace test {

LoggedRun RunLoggedScenario(const char* name, const std::vector<std::wstring>& args, DWORD level,
                            const std::vector<std::wstring>& extraEnv) {
    LoggedRun run;
    TempDir logDir(L"log");
    const std::wstring temp = logDir.Path() + L"\\";
    std::vector<std::wstring> env = {L"TMP=" + temp, L"TEMP=" + temp};
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    // Only the level value is set for the run and put back: what the
    // scenario changes in the client key stays for the caller to check.
    DWORD saved = 0, size = sizeof(saved);
    const bool had = ::RegGetValueW(HKEY_CURRENT_USER, kClientKey, L"LoggingLevel", RRF_RT_REG_DWORD, nullptr,
                                    &saved, &size) == ERROR_SUCCESS;
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kClientKey, L"LoggingLevel", REG_DWORD, &level, sizeof(level));
    run.result = RunScenario(name, args, 60000, env);
    if (had) {
        ::RegSetKeyValueW(HKEY_CURRENT_USER, kClientKey, L"LoggingLevel", REG_DWORD, &saved, sizeof(saved));
    } else {
        ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kClientKey, L"LoggingLevel");
    }
    run.values = ParseReport(run.result.output);
    for (const auto& file : std::filesystem::directory_iterator(logDir.Path())) {
        if (file.path().filename().wstring().rfind(L"sh_client_log_", 0) == 0) {
            run.log += ReadFileText(file.path().wstring());
        }
    }
    return run;
}

std::map<std::string, std::string> ParseReport(const std::string& output) {
    std::map<std::string, std::string> values;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        size_t eq = line.find('=');
        if (eq != std::string::npos) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return values;
}

} // namespace test
} // namespace hk
