// Directory: the entries of one directory (no recursion).
#pragma once

#include "HearthkitExport.h"

#include <windows.h>
#include <string>
#include <vector>

class HEARTHKIT_API Directory {
public:
    // The entries of directory that match pattern (for example L"*.db"), in
    // the order the file system returns them. The directory is searched
    // through its "\\?\" form (added unless present), with or without a
    // trailing backslash. Plain directories (attributes exactly
    // FILE_ATTRIBUTE_DIRECTORY, "." and ".." among them) are left out; a
    // directory with any further attribute is listed. No match gives an empty
    // listing; a missing directory or any other enumeration error raises
    // std::runtime_error("FindNextFile()"). A null argument counts as empty.
    static std::vector<WIN32_FIND_DATAW> GetFiles(const wchar_t* directory, const wchar_t* pattern);
    static std::vector<WIN32_FIND_DATAW> GetFiles(const std::wstring& directory, const std::wstring& pattern);

private:
    static void Find(std::vector<WIN32_FIND_DATAW>& files, const wchar_t* directory, const wchar_t* pattern);
};
