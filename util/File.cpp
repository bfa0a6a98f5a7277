// File::Exists and Blob.
#include "File.h"
#include "CDesktopLog.h"
#include "HkResult.h"

#include <windows.h>

bool File::Exists(const wchar_t* path) {
    if (path == nullptr) {
        CDesktopLog log("File::Exists");
        HkNullArgument(log, "path");
        return false;
    }
    if (::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    // Only a missing file or folder says the name is free; an entry that
    // cannot be read (access denied, sharing violation, a bad name) may
    // still be there.
    DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

bool File::Exists(const std::wstring& path) {
    return Exists(path.c_str());
}

int Blob(void* handle) {
    if (handle == nullptr) {
        CDesktopLog log("Blob");
        HkNullArgument(log, "handle");
        return 0;
    }
    return ::CloseHandle(handle);
}
