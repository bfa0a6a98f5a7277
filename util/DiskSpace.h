// The megabyte arithmetic of DiskUtil, apart from the platform calls so that
// its roundings are tested on any byte count.
#pragma once

#include <windows.h>

namespace hk {
namespace util {

const ULONGLONG kBytesPerMb = 0x100000;
const unsigned long kMbPerGb = 1024;
// GetFreeSpacePercentInMb's answer when the free space cannot be read.
const unsigned long kUnknownFreeSpacePercentMb = 1023000;

// A store that is not a whole number of megabytes takes one more.
inline unsigned long StoreMbFromBytes(ULONGLONG bytes) {
    return static_cast<unsigned long>(bytes / kBytesPerMb + (bytes % kBytesPerMb != 0 ? 1 : 0));
}

inline unsigned long FreeMbFromBytes(ULONGLONG bytes) {
    return static_cast<unsigned long>(bytes / kBytesPerMb);
}

// Whole gigabytes of free megabytes, never less than one gigabyte.
inline unsigned long FreeMbRoundedToGb(unsigned long mb) {
    unsigned long rounded = mb - mb % kMbPerGb;
    return rounded < kMbPerGb ? kMbPerGb : rounded;
}

// percent of the whole free megabytes, rounded down; 0 stands for 10.
inline unsigned long FreeMbPercent(ULONGLONG bytes, unsigned int percent) {
    if (percent == 0) {
        percent = 10;
    }
    return static_cast<unsigned long>(bytes / kBytesPerMb * percent / 100);
}

} // namespace util
} // namespace hk
