// BITS: the 2.0 manager and the file names of real jobs.
//
// Wine registers only the first BITS manager class. As on Windows, where one
// service serves both, each test here makes the 2.0 class creatable itself:
// it writes HKCR\CLSID\{6D18AD12-...}\TreatAs = the first class through the
// registry API, and a guard restores the key afterwards.
#include "Hearthkit.h"
#include "LoggedRun.h"
#include "Scenario.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <bits.h>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <vector>

namespace {

const wchar_t kBits20Key[] = L"Software\\Classes\\CLSID\\{6D18AD12-BDE3-4393-B311-099C346E6DF9}";
const wchar_t kBits10Clsid[] = L"{4991D34B-80A1-4291-83B6-3328366B9097}";

void TreatBits20AsBits() {
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              key.Create(HKEY_LOCAL_MACHINE, (std::wstring(kBits20Key) + L"\\TreatAs").c_str()));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(nullptr, kBits10Clsid));
}

class Bits20TreatedAsBits : public testing::Test {
protected:
    void SetUp() override {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        TreatBits20AsBits();
    }
    void TearDown() override {
        for (auto& job : m_jobs) {
            job->Cancel();
        }
        m_jobs.clear();
        ::CoUninitialize();
    }

    // A download job with the given number of files, cancelled at TearDown.
    IBackgroundCopyJob* MakeJob(IBackgroundCopyManager* manager, int files) {
        GUID id = {};
        CComPtr<IBackgroundCopyJob> job;
        EXPECT_EQ(S_OK, manager->CreateJob(L"Hearthkit test", BG_JOB_TYPE_DOWNLOAD, &id, &job));
        if (!job) {
            return nullptr;
        }
        m_jobs.push_back(job);
        for (int i = 0; i < files; ++i) {
            const std::wstring n = std::to_wstring(i);
            EXPECT_EQ(S_OK, job->AddFile((L"http://127.0.0.1:9/archive/item" + n + L".msg").c_str(),
                                         m_dir.File((L"item" + n + L".msg").c_str()).c_str()));
        }
        return job;
    }

    hk::test::RegistryKeyGuard m_guard{HKEY_LOCAL_MACHINE, kBits20Key};
    hk::test::TempDir m_dir{L"bits"};
    std::vector<CComPtr<IBackgroundCopyJob>> m_jobs;
};

CoTaskMemString Sentinel() {
    auto* text = static_cast<wchar_t*>(::CoTaskMemAlloc(4 * sizeof(wchar_t)));
    std::wcscpy(text, L"old");
    return CoTaskMemString(text);
}

TEST_F(Bits20TreatedAsBits, ManagerIsVersion2AndOnlyAOneFileJobYieldsItsNames) {
    CComPtr<IBackgroundCopyManager> manager;
    double version = 0;
    ASSERT_EQ(S_OK, HearthkitUtil::GetBITSManager(manager, version));
    EXPECT_EQ(2.0, version);

    CoTaskMemString local = Sentinel(), remote = Sentinel();
    EXPECT_EQ(S_OK, HearthkitUtil::GetBITSJobFileDetails(MakeJob(manager, 1), local, remote));
    ASSERT_TRUE(local && remote);
    EXPECT_EQ(m_dir.File(L"item0.msg"), local.get());
    EXPECT_STREQ(L"http://127.0.0.1:9/archive/item0.msg", remote.get());

    for (int files : {0, 2}) {
        CoTaskMemString l = Sentinel(), r = Sentinel();
        EXPECT_EQ(S_OK, HearthkitUtil::GetBITSJobFileDetails(MakeJob(manager, files), l, r)) << files;
        EXPECT_STREQ(L"old", l.get()) << files;
        EXPECT_STREQ(L"old", r.get()) << files;
    }

    CoTaskMemString l, r;
    EXPECT_EQ(E_INVALIDARG, HearthkitUtil::GetBITSJobFileDetails(nullptr, l, r));
    EXPECT_FALSE(l);
}

// Child: asks for the manager and prints the result.
HK_SCENARIO(BitsMakeManager) {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CComPtr<IBackgroundCopyManager> manager;
    double version = -1;
    const HRESULT hr = HearthkitUtil::GetBITSManager(manager, version);
    std::printf("hr=0x%08lx version=%.1f\n", static_cast<unsigned long>(hr), version);
    std::fflush(stdout);
    manager.Release();
    ::CoUninitialize();
    return 0;
}

TEST(BitsManagerLog, VersionIsLoggedAndAMissingClassIsReported) {
    for (bool registered : {true, false}) {
        hk::test::LoggedRun run;
        {
            hk::test::RegistryKeyGuard guard(HKEY_LOCAL_MACHINE, kBits20Key);
            if (registered) {
                TreatBits20AsBits();
            } else {
                ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kBits20Key);
            }
            run = hk::test::RunLoggedScenario("BitsMakeManager");
        }
        const char* output = registered ? "hr=0x00000000 version=2.0" : "hr=0x80040154 version=-1.0";
        const char* line = registered ? "BITS version is, '2.0'" : "Unable to create BITS MANAGER object";
        EXPECT_NE(std::string::npos, run.result.output.find(output)) << run.result.output;
        EXPECT_NE(std::string::npos, run.log.find(line)) << run.log;
    }
}

} // namespace
