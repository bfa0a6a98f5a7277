// DiskUtil: the size of the cache store directory and the free space of a
// disk, in megabytes of 1,048,576 bytes. Nothing here raises; each operation
// answers a fixed value when the platform cannot tell, or when the path is
// null (which names no disk here, not the current directory's).
#pragma once

#include "HearthkitExport.h"

class HEARTHKIT_API DiskUtil {
public:
    // The total size of the entries of one directory (not its sub
    // directories), rounded up to whole megabytes. directory must end with
    // "\": "*.*" is appended to it as it is. 0 when the search cannot start.
    static unsigned long HCStoreSize(const wchar_t* directory);
    // The disk's total free bytes (not only those available to the caller)
    // in whole megabytes, rounded down; 0 when they cannot be read.
    static unsigned long GetFreeSpaceInMb(const wchar_t* path);
    // GetFreeSpaceInMb rounded down to whole gigabytes, at least 1024 (also
    // on failure).
    static unsigned long GetFreeSpaceInMbRoundedToNearestGb(const wchar_t* path);
    // percent of the free megabytes, rounded down; percent 0 means 10.
    // 1,023,000 when the free space cannot be read.
    static unsigned long GetFreeSpacePercentInMb(const wchar_t* path, unsigned int percent);
};
