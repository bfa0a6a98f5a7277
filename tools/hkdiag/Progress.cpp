#include "Progress.h"

#include <cstdio>

namespace hkdiag {

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) == FILE_TYPE_CHAR &&
           ::GetConsoleMode(handle, &mode);
}

Progress::Progress(const char* what, long long total)
    : m_what(what), m_total(total), m_console(IsConsole(::GetStdHandle(STD_ERROR_HANDLE))) {}

Progress::~Progress() {
    if (m_shown) {
        std::fprintf(stderr, "\r%-60s\r", "");
        std::fflush(stderr);
    }
}

void Progress::Update(long long done) {
    DWORD now = ::GetTickCount();
    if (!m_console || (m_shown && now - m_lastTick < 250)) {
        return;
    }
    m_shown = true;
    m_lastTick = now;
    double mib = done / (1024.0 * 1024.0);
    if (m_total > 0) {
        std::fprintf(stderr, "\r  %.1f MiB %s (%d%%)   ", mib, m_what,
                     static_cast<int>(done * 100 / m_total));
    } else {
        std::fprintf(stderr, "\r  %.1f MiB %s   ", mib, m_what);
    }
    std::fflush(stderr);
}

} // namespace hkdiag
