// DiskUtil: the cache store's size and a disk's free space.
#include "DiskUtil.h"
#include "CDesktopLog.h"
#include "HkHandle.h"
#include "HkResult.h"
#include "util/DiskSpace.h"

#include <string>

namespace {

// The disk's total free bytes (GetDiskFreeSpaceExW's third value, not the
// caller's quota). Logs and answers false when they cannot be read.
bool ReadTotalFreeBytes(CDesktopLog& log, const wchar_t* path, ULONGLONG* bytes) {
    // A null path would stand for the current directory's disk: it names
    // none here.
    if (path == nullptr) {
        HkNullArgument(log, "path");
        return false;
    }
    ULARGE_INTEGER available, total, free;
    if (!::GetDiskFreeSpaceExW(path, &available, &total, &free)) {
        log.LogHR(LOG_ERROR, "Failed to acquire free space", HkHResultFromWin32(::GetLastError()));
        return false;
    }
    *bytes = free.QuadPart;
    return true;
}

} // namespace

unsigned long DiskUtil::HCStoreSize(const wchar_t* directory) {
    CDesktopLog log("DiskUtil::HCStoreSize", nullptr, "CONTENT:STORE");
    WIN32_FIND_DATAW entry;
    hk::unique_find find;
    if (directory != nullptr) {
        // The caller's text ends with its separator: nothing is added.
        find.reset(::FindFirstFileW((std::wstring(directory) + L"*.*").c_str(), &entry));
    }
    if (!find) {
        log.LogText(LOG_ERROR, "HC byte count reset to 0 during sync (received INVALID_HANDLE_VALUE)\n");
        return 0;
    }
    ULONGLONG bytes = 0;
    do {
        bytes += (static_cast<ULONGLONG>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
    } while (::FindNextFileW(find.get(), &entry));
    return hk::util::StoreMbFromBytes(bytes);
}

unsigned long DiskUtil::GetFreeSpaceInMb(const wchar_t* path) {
    CDesktopLog log("DiskUtil::GetFreeSpaceInMb");
    ULONGLONG bytes = 0;
    return ReadTotalFreeBytes(log, path, &bytes) ? hk::util::FreeMbFromBytes(bytes) : 0;
}

unsigned long DiskUtil::GetFreeSpaceInMbRoundedToNearestGb(const wchar_t* path) {
    CDesktopLog log("DiskUtil::GetFreeSpaceInMbRoundedToNearestGb");
    return hk::util::FreeMbRoundedToGb(GetFreeSpaceInMb(path));
}

unsigned long DiskUtil::GetFreeSpacePercentInMb(const wchar_t* path, unsigned int percent) {
    CDesktopLog log("DiskUtil::GetFreeSpacePercentInMb");
    ULONGLONG bytes = 0;
    if (!ReadTotalFreeBytes(log, path, &bytes)) {
        return hk::util::kUnknownFreeSpacePercentMb;
    }
    return hk::util::FreeMbPercent(bytes, percent);
}
