// Directory: one directory's entries through FindFirstFileW/FindNextFileW.
#include "Directory.h"
#include "CDesktopLog.h"
#include "HkHandle.h"
#include "HkResult.h"
#include "util/DirectorySearch.h"

#include <stdexcept>

namespace {

// The one text every enumeration failure raises with; callers match on the
// exception type, not the text.
const char kFindFailed[] = "FindNextFile()";

// A plain directory (".", "..", sub directories) has exactly this attribute;
// a directory that also carries another one (hidden, read-only, ...) is
// listed.
bool IsListed(const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & ~FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace

std::vector<WIN32_FIND_DATAW> Directory::GetFiles(const wchar_t* directory, const wchar_t* pattern) {
    std::vector<WIN32_FIND_DATAW> files;
    if (directory == nullptr || pattern == nullptr) {
        CDesktopLog log("Directory::GetFiles");
        HkNullArgument(log, "directory or pattern");
    }
    Find(files, directory, pattern);
    return files;
}

std::vector<WIN32_FIND_DATAW> Directory::GetFiles(const std::wstring& directory,
                                                  const std::wstring& pattern) {
    return GetFiles(directory.c_str(), pattern.c_str());
}

void Directory::Find(std::vector<WIN32_FIND_DATAW>& files, const wchar_t* directory, const wchar_t* pattern) {
    CDesktopLog log("Directory::Find");
    std::wstring search = hk::util::DirectorySearchText(directory ? directory : L"", pattern ? pattern : L"");
    log.LogText(LOG_DETAIL, "Search:%s\n", search.c_str());

    WIN32_FIND_DATAW entry;
    hk::unique_find find(::FindFirstFileW(search.c_str(), &entry));
    if (!find) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) {
            return;
        }
        throw std::runtime_error(kFindFailed);
    }
    do {
        if (IsListed(entry)) {
            files.push_back(entry);
        }
    } while (::FindNextFileW(find.get(), &entry));
    if (::GetLastError() != ERROR_NO_MORE_FILES) {
        throw std::runtime_error(kFindFailed);
    }
}
