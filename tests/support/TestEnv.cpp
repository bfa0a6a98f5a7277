#include "TestEnv.h"

#include "HkHandle.h"
#include "HkRegKey.h"

#include <atomic>
#include <map>
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

struct RegistryKeyGuard::Snapshot {
    struct Value {
        DWORD type;
        std::vector<BYTE> data;
    };
    bool existed = false;
    std::map<std::wstring, Value> values;
    std::map<std::wstring, std::unique_ptr<Snapshot>> children;

    static std::unique_ptr<Snapshot> Take(HKEY parent, const std::wstring& name) {
        auto snap = std::make_unique<Snapshot>();
        CRegKey key;
        if (key.Open(parent, name.c_str(), KEY_READ) != ERROR_SUCCESS) {
            return snap;
        }
        snap->existed = true;
        for (DWORD i = 0;; ++i) {
            wchar_t valueName[16384];
            DWORD chars = 16384, type = 0, size = 0;
            if (::RegEnumValueW(key, i, valueName, &chars, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
                break;
            }
            Value v{type, std::vector<BYTE>(size)};
            chars = 16384;
            ::RegEnumValueW(key, i, valueName, &chars, nullptr, &type, v.data.data(), &size);
            v.data.resize(size);
            snap->values[valueName] = std::move(v);
        }
        std::vector<std::wstring> names;
        key.EnumKeys(names);
        for (const auto& child : names) {
            snap->children[child] = Take(key, child);
        }
        return snap;
    }

    void Restore(HKEY parent, const std::wstring& name) const {
        CRegKey key;
        if (key.Create(parent, name.c_str()) != ERROR_SUCCESS) {
            return;
        }
        for (const auto& kv : values) {
            ::RegSetValueExW(key, kv.first.c_str(), 0, kv.second.type, kv.second.data.data(),
                             static_cast<DWORD>(kv.second.data.size()));
        }
        for (const auto& kv : children) {
            kv.second->Restore(key, kv.first);
        }
    }
};

RegistryKeyGuard::RegistryKeyGuard(HKEY root, const wchar_t* subKey)
    : m_root(root), m_subKey(subKey), m_snapshot(Snapshot::Take(root, subKey).release()) {}

RegistryKeyGuard::~RegistryKeyGuard() {
    std::unique_ptr<Snapshot> snap(m_snapshot);
    ::RegDeleteTreeW(m_root, m_subKey.c_str());
    ::RegDeleteKeyW(m_root, m_subKey.c_str());
    if (snap->existed) {
        snap->Restore(m_root, m_subKey);
    }
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
