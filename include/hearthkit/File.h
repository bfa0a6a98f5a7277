// File: existence of a file or directory. Blob: closing a kernel handle.
#pragma once

#include "HearthkitExport.h"

#include <string>

class HEARTHKIT_API File {
public:
    // True unless the attributes cannot be read because the file or a folder
    // of its path is missing (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND).
    // Any other failure (access denied, sharing violation, a bad name) counts
    // as existing: the caller must not take the name as free to use. A null
    // path names nothing: false, with a line in the log.
    static bool Exists(const wchar_t* path);
    static bool Exists(const std::wstring& path);
};

// Closes handle (CloseHandle) and answers that call's result: non-zero on
// success; a null handle is not passed on: 0, with a line in the log.
HEARTHKIT_API int Blob(void* handle);
