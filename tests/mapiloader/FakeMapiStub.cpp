// A fake of mapi32.dll / mapistub.dll in the system directory: its
// FGetComponentPath answers what the environment says and logs each request.
//
//   HK_FGCP_ANSWERS  entries "qualifier=result:path" separated by '|'; the
//                    qualifier "-" stands for none (null). A request with no
//                    entry answers FALSE with an empty buffer.
//   HK_FGCP_CALLS    each request appends "module>component>qualifier>
//                    chars>install;" (a null qualifier as "-", the strings of
//                    a multi-string qualifier joined with '/').
// The environment outlives this module, which the caller unloads at once.
#include <windows.h>

#include <string>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

std::string Env(const char* name) {
    char value[4096] = {};
    DWORD n = ::GetEnvironmentVariableA(name, value, sizeof(value));
    return n < sizeof(value) ? std::string(value, n) : std::string();
}

// A multi-string (strings each ending in a zero, an empty one last) as
// "a/b"; a plain string as itself.
std::string JoinMultiString(const char* text) {
    std::string out;
    for (const char* p = text; *p; p += strlen(p) + 1) {
        if (!out.empty()) {
            out += '/';
        }
        out += p;
    }
    return out;
}

std::string ModuleName() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH);
    const char* slash = strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

} // namespace

extern "C" __declspec(dllexport) BOOL WINAPI
    FGetComponentPath(LPSTR szComponent, LPSTR szQualifier, LPSTR szDllPath, DWORD cchBufferSize,
                      BOOL fInstall) {
    std::string qualifier = szQualifier ? JoinMultiString(szQualifier) : "-";
    std::string call = ModuleName() + ">" + szComponent + ">" + qualifier + ">" +
                       std::to_string(cchBufferSize) + ">" + std::to_string(fInstall) + ";";
    ::SetEnvironmentVariableA("HK_FGCP_CALLS", (Env("HK_FGCP_CALLS") + call).c_str());

    std::string answers = Env("HK_FGCP_ANSWERS") + "|";
    std::string key = qualifier + "=";
    for (size_t start = 0, end; (end = answers.find('|', start)) != std::string::npos; start = end + 1) {
        std::string entry = answers.substr(start, end - start);
        if (entry.compare(0, key.size(), key) != 0) {
            continue;
        }
        size_t colon = entry.find(':', key.size());
        std::string path = entry.substr(colon + 1);
        lstrcpynA(szDllPath, path.c_str(), static_cast<int>(cchBufferSize));
        return atoi(entry.substr(key.size(), colon - key.size()).c_str());
    }
    return FALSE;
}
