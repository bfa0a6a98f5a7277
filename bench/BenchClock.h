// The benchmarks' clock: the performance counter in seconds.
#pragma once

#include <windows.h>

namespace bench {

inline double NowSeconds() {
    LARGE_INTEGER frequency, count;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Seconds since a NowSeconds() reading.
inline double SecondsSince(double start) {
    return NowSeconds() - start;
}

} // namespace bench
