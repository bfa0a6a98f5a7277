#include "MapiTestSupport.h"
#include "LoggedRun.h"

#include "HkRegKey.h"
#include "MAPILoader.h"
#include "Scenario.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>

namespace hk {
namespace test {

const wchar_t kOutlookKey[] = L"Software\\Clients\\Mail\\Microsoft Outlook";

OutlookRegistration::OutlookRegistration() : m_guard(HKEY_LOCAL_MACHINE, kOutlookKey) {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kOutlookKey);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kOutlookKey);
}

void OutlookRegistration::SetBytes(const wchar_t* name, const std::string& bytes, DWORD type) {
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, kOutlookKey));
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                              static_cast<DWORD>(bytes.size())));
}

void OutlookRegistration::SetString(const wchar_t* name, const std::wstring& value, DWORD type) {
    std::wstring withZero = value + L'\0';
    SetBytes(name,
             std::string(reinterpret_cast<const char*>(withZero.data()), withZero.size() * sizeof(wchar_t)),
             type);
}

FakeCopies::FakeCopies(const wchar_t* builtName, int count, const wchar_t* fileName) : m_dir(L"fakemapi") {
    std::wstring built = BinDir() + L"\\" + builtName;
    for (int i = 0; i < count; ++i) {
        std::wstring folder = m_dir.File(std::to_wstring(i).c_str());
        ::CreateDirectoryW(folder.c_str(), nullptr);
        std::wstring path = folder + L"\\" + fileName;
        EXPECT_TRUE(::CopyFileW(built.c_str(), path.c_str(), FALSE)) << Narrow(path);
        m_paths.push_back(path);
    }
}

FakeMapiRecord* FakeRecordAt(const std::wstring& path) {
    HMODULE module = ::GetModuleHandleW(path.c_str());
    auto state = module ? reinterpret_cast<FakeMapiStateFn>(
                              reinterpret_cast<void (*)()>(::GetProcAddress(module, "FakeMapiState")))
                        : nullptr;
    return state ? state() : nullptr;
}

HK_SCENARIO(ReportMapiLoader) {
    const MAPILoader& loader = MAPILoader::Instance();
    ULONG bound = 0;
    for (ULONG i = 0; i < MAPILoader::FunctionCount; ++i) {
        bound += MAPILoader::IsBound(i) ? 1 : 0;
    }
    void* buffer = nullptr;
    ::MAPIAllocateBuffer(8, &buffer);
    int reached = -1;
    std::string present;
    for (size_t i = 0; i < args.size(); ++i) {
        FakeMapiRecord* record = FakeRecordAt(args[i]);
        present += record ? '1' : '0';
        if (record && record->allocateBuffer == 1) {
            reached = static_cast<int>(i);
        }
    }
    ::MAPIFreeBuffer(buffer);
    std::string error = loader.LastError();
    std::replace(error.begin(), error.end(), '\n', '|');
    char calls[4096] = {};
    ::GetEnvironmentVariableA("HK_FGCP_CALLS", calls, sizeof(calls));
    std::printf("loaded=%d\nlastError=%s\nbound=%lu\nreached=%d\npresent=%s\nstubs=%d,%d\ncalls=%s\n",
                loader.IsLoaded() ? 1 : 0, error.c_str(), bound, reached, present.c_str(),
                ::GetModuleHandleW(L"mapi32.dll") ? 1 : 0, ::GetModuleHandleW(L"mapistub.dll") ? 1 : 0,
                calls);
    return 0;
}

std::map<std::string, std::string> ReportLoader(const std::vector<std::wstring>& candidates,
                                                const std::vector<std::wstring>& extraEnv) {
    ScenarioResult result = RunScenario("ReportMapiLoader", candidates, 60000, extraEnv);
    EXPECT_EQ(0u, result.exitCode) << result.output;
    return ParseReport(result.output);
}

} // namespace test
} // namespace hk
