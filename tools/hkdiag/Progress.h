// The progress of a long operation (an upload, a download, a large
// timeline): one line on stderr, rewritten in place a few times a second,
// and nothing at all when stderr is not a console: output redirected to a
// file or a pipe stays free of it.
#pragma once

#include <windows.h>
#include <string>

namespace hkdiag {

// Whether handle is a console (GetFileType and GetConsoleMode).
bool IsConsole(HANDLE handle);

class Progress {
public:
    // what: "sent", "received", "read"; total: the bytes expected, 0 when unknown.
    Progress(const char* what, long long total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Update(long long done);

private:
    const char* m_what;
    long long m_total;
    bool m_console;
    bool m_shown = false;
    DWORD m_lastTick = 0;
};

} // namespace hkdiag
