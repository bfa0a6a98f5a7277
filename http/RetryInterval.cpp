// RetryInterval: base interval plus a random element drawn from rand_s.
// rand_s is declared only when this is defined before the C headers.
#define _CRT_RAND_S
#include <stdlib.h>

#include "RetryInterval.h"
#include "CDesktopLog.h"
#include "HkResult.h"

#include <cmath>
#include <ctime>

namespace {

// 0xFFFFFFFF / 1000: from here on the wait in milliseconds would not fit
// below INFINITE, so the longest finite wait is one second shorter.
const DWORD kInfiniteSeconds = 4294967;

} // namespace

RetryInterval::RetryInterval(DWORD dwRetryInterval, DWORD dwRandomElement)
    : m_dwRetryInterval(dwRetryInterval), m_dwRandomElement(dwRandomElement) {
    // Not for the random element: for the process's other users of rand().
    srand(static_cast<unsigned int>(_time64(nullptr)));
}

DWORD RetryInterval::GetRetryIntervalInMilliSeconds() const {
    return GetRetryIntervalInMilliSeconds(rand_s);
}

DWORD RetryInterval::GetRetryIntervalInMilliSeconds(RandomSource source) const {
    CDesktopLog log("RetryInterval::GetRetryIntervalInMilliSeconds");
    if (m_dwRetryInterval >= kInfiniteSeconds || m_dwRandomElement >= kInfiniteSeconds) {
        log.LogText(LOG_DETAIL, "Infinite retry being used\n");
        return INFINITE;
    }
    DWORD seconds = m_dwRetryInterval;
    unsigned int drawn = 0;
    if (m_dwRandomElement == 0) {
        log.LogText(LOG_DETAIL, "Random element of retry interval is turned off (0)\n");
    } else if (source == nullptr) {
        HkNullArgument(log, "source");
    } else if (source(&drawn) == 0) {
        // drawn scaled to 0 .. the random element, to the nearest second.
        DWORD element = static_cast<DWORD>(
            std::floor(drawn / 4294967295.0 * static_cast<double>(m_dwRandomElement) + 0.5));
        // Both are below kInfiniteSeconds, so the sum cannot overflow.
        if (static_cast<ULONGLONG>(m_dwRetryInterval) + element >= kInfiniteSeconds) {
            log.LogText(LOG_DETAIL, "Retry with random element exceeds maximum\n");
            return INFINITE;
        }
        log.LogInt(LOG_DETAIL, "Random element of retry interval is '%d'\n", static_cast<int>(element));
        seconds += element;
    }
    log.LogInt(LOG_DETAIL, "Retry interval of '%d' seconds\n", static_cast<int>(seconds));
    return seconds * 1000;
}

__int64 RetryInterval::GetRetryIntervalIn100NS() const {
    return static_cast<__int64>(static_cast<ULONGLONG>(GetRetryIntervalInMilliSeconds()) * 10000);
}
