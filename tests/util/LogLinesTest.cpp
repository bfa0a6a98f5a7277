// The lines the utilities write at LOG_DETAIL and LOG_ERROR, read from the
// log file of a fresh process (the level is read once per process).
#include "Hearthkit.h"
#include "LoggedRun.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

namespace {

class RetryOnFixedDraw : public RetryInterval {
public:
    using RetryInterval::RetryInterval;
    DWORD Drawing(unsigned int draw) const {
        s_draw = draw;
        return GetRetryIntervalInMilliSeconds(Fixed);
    }

private:
    static int __cdecl Fixed(unsigned int* value) {
        *value = s_draw;
        return 0;
    }
    static unsigned int s_draw;
};
unsigned int RetryOnFixedDraw::s_draw = 0;

HK_SCENARIO(UtilLogLines) {
    RetryInterval(60, 0).GetRetryIntervalInMilliSeconds();
    RetryOnFixedDraw(60, 30).Drawing(0x80000000);
    RetryInterval(4294967, 0).GetRetryIntervalInMilliSeconds();
    RetryOnFixedDraw(4294966, 2).Drawing(0xFFFFFFFF);
    DiskUtil::HCStoreSize(L"C:\\no such store\\");
    DiskUtil::GetFreeSpaceInMb(L"Q:\\");
    Directory::GetFiles(L"C:\\windows", L"*.none");
    FILETIME ft;
    HearthkitUtil::ConvertISO8601ToFileTime(L"2024-03-05 14:07:09", &ft);
    return 0;
}

TEST(UtilLog, DecisionsAndFailuresAreLogged) {
    auto run = hk::test::RunLoggedScenario("UtilLogLines");
    ASSERT_EQ(0u, run.result.exitCode) << run.result.output;
    const std::string& text = run.log;

    const char* expected[] = {
        ": Random element of retry interval is turned off (0)\r\n",
        ": Retry interval of '60' seconds\r\n",
        ": Random element of retry interval is '15'\r\n",
        ": Retry interval of '75' seconds\r\n",
        ": Infinite retry being used\r\n",
        ": Retry with random element exceeds maximum\r\n",
        ": CONTENT:STORE: HC byte count reset to 0 during sync (received INVALID_HANDLE_VALUE)\r\n",
        ": Failed to acquire free space",
        ": Search:\\\\?\\C:\\windows\\*.none\r\n",
        ": Not an ISO 8601 date and time: '2024-03-05 14:07:09'\r\n",
    };
    size_t from = 0;
    for (const char* line : expected) {
        size_t found = text.find(line, from);
        EXPECT_NE(std::string::npos, found) << "missing or out of order: " << line << "\n--- log ---\n"
                                            << text;
        if (found != std::string::npos) {
            from = found;
        }
    }
}

} // namespace
