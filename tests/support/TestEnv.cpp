#include "TestEnv.h"

#include "HkHandle.h"
#include "HkRegKey.h"

#include <atomic>
#include <memory>

namespace hk {
namespace test {

TempDir::TempDir(const wchar_t* tag) {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH, temp);
    wchar_t name[64];
    _snwprintf(name, 64, L"hk-%s-%lu-%u", tag, ::GetCurrentProcessId(), counter++);
    m_path = std::wstring(temp) + name;
    DeleteTree(m_path);
    ::CreateDirectoryW(m_path.c_str(), nullptr);
}

TempDir::~TempDir() {
    DeleteTree(m_path);
}

void DeleteTree(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    unique_find find(::FindFirstFileW((path + L"\\*").c_str(), &fd));
    if (find) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            std::wstring child = path + L"\\" + name;
            ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteTree(child);
            } else {
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(find.get(), &fd));
    }
    find.reset();
    ::RemoveDirectoryW(path.c_str());
}

// The saved copy of the key: a tree of its own under HKCU, copied with
// RegCopyTree both ways.
struct RegistryKeyGuard::Snapshot {
    bool existed = false;
    std::wstring saved;
};

namespace {
const wchar_t kSavedRoot[] = L"Software\\HearthkitTests\\SavedKeys";
} // namespace

RegistryKeyGuard::RegistryKeyGuard(HKEY root, const wchar_t* subKey)
    : m_root(root), m_subKey(subKey), m_snapshot(new Snapshot) {
    static std::atomic<unsigned> counter{0};
    m_snapshot->saved = std::wstring(kSavedRoot) + L"\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                        std::to_wstring(counter++);
    CRegKey key, saved;
    if (key.Open(root, subKey, KEY_READ) == ERROR_SUCCESS &&
        saved.Create(HKEY_CURRENT_USER, m_snapshot->saved.c_str()) == ERROR_SUCCESS) {
        m_snapshot->existed = ::RegCopyTreeW(key, nullptr, saved) == ERROR_SUCCESS;
    }
}

RegistryKeyGuard::~RegistryKeyGuard() {
    std::unique_ptr<Snapshot> snap(m_snapshot);
    ::RegDeleteTreeW(m_root, m_subKey.c_str());
    ::RegDeleteKeyW(m_root, m_subKey.c_str());
    CRegKey key, saved;
    if (snap->existed && saved.Open(HKEY_CURRENT_USER, snap->saved.c_str(), KEY_READ) == ERROR_SUCCESS &&
        key.Create(m_root, m_subKey.c_str()) == ERROR_SUCCESS) {
        ::RegCopyTreeW(saved, nullptr, key);
    }
    saved.Close();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, snap->saved.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, snap->saved.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, kSavedRoot); // only when no other guard holds a copy
}

std::vector<BYTE> ReadFileBytes(const std::wstring& path) {
    std::vector<BYTE> bytes;
    unique_file file(::CreateFileW(path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return bytes;
    }
    LARGE_INTEGER size = {};
    ::GetFileSizeEx(file.get(), &size);
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty()) {
        ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    }
    bytes.resize(got);
    return bytes;
}

std::string ReadFileText(const std::wstring& path) {
    auto bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool WriteFileBytes(const std::wstring& path, const void* data, size_t size) {
    unique_file file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) &&
           written == size;
}

namespace {
std::wstring UnixToWindows(const char* var) {
    wchar_t value[MAX_PATH * 2] = {};
    std::wstring wvar(var, var + strlen(var));
    if (::GetEnvironmentVariableW(wvar.c_str(), value, MAX_PATH * 2) == 0) {
        return std::wstring();
    }
    std::wstring path = value;
    if (!path.empty() && path[0] == L'/') {
        path = L"Z:" + path;
    }
    for (auto& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return path;
}
} // namespace

std::wstring SourceDir() {
    return UnixToWindows("HK_SOURCE_DIR");
}
std::wstring BuildDir() {
    return UnixToWindows("HK_BUILD_DIR");
}

std::wstring BinDir() {
    wchar_t self[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L'\\'));
}

std::string Narrow(const std::wstring& text) {
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                  nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr,
                          nullptr);
    return out;
}

std::wstring Widen(const std::string& text) {
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

} // namespace test
} // namespace hk
