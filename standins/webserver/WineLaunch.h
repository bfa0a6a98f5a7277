// What a Windows program under Wine needs to start the archive web server
// stand-in, a Unix program, and to tell it what to answer: Unix paths, this
// process's Unix id for --watch-pid, and the JSON strings of its control
// paths, in which every character is one byte of the reply.
#pragma once

#include <windows.h>
#include <cstdio>
#include <string>

namespace webserver {

// Wine's own path conversion; empty when not under Wine.
inline std::string UnixPath(const std::wstring& path) {
    using Fn = char*(CDECL*)(const wchar_t*);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = fn != nullptr ? fn(path.c_str()) : nullptr;
    std::string out = unix != nullptr ? unix : "";
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return out;
}

// The Unix process id of this Wine process, the first field of
// /proc/self/stat, read with the C runtime; "0" when unknown.
inline std::string UnixPid() {
    FILE* file = std::fopen("Z:\\proc\\self\\stat", "rb");
    if (file == nullptr) {
        return "0";
    }
    char buffer[64] = {};
    size_t read = std::fread(buffer, 1, sizeof(buffer) - 1, file);
    std::fclose(file);
    std::string stat(buffer, read);
    size_t end = stat.find(' ');
    return end == std::string::npos || end == 0 ? std::string("0") : stat.substr(0, end);
}

// Starts a Unix program (Wine does so when given its Unix path). Its handles
// cannot be waited on: the caller learns otherwise that it runs or ended.
inline bool StartUnix(std::wstring command) {
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return false;
    }
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return true;
}

// bytes as a JSON string of the stand-in's control paths: printable ASCII as
// it is, every other byte as \u00XX.
inline std::string ByteJson(const std::string& bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        }
    }
    return out + "\"";
}

} // namespace webserver
