#include "TestEnv.h"

#include "HkHandle.h"
#include "HkRegKey.h"

#include <algorithm>
#include <atomic>
#include <filesystem>

namespace hk {
namespace test {
namespace {

const wchar_t kSavedRoot[] = L"Software\\HearthkitTests\\SavedKeys";

// Read-only files too: a test may leave some behind.
void DeleteTree(const std::wstring& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
    }
    fs::remove_all(path, ec);
}

} // namespace

TempDir::TempDir(const wchar_t* tag) {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH, temp);
    m_path = std::wstring(temp) + L"hk-" + tag + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
             std::to_wstring(counter++);
    DeleteTree(m_path);
    ::CreateDirectoryW(m_path.c_str(), nullptr);
}

TempDir::~TempDir() {
    DeleteTree(m_path);
}

// The key is copied with RegCopyTree both ways.
RegistryKeyGuard::RegistryKeyGuard(HKEY root, const wchar_t* subKey) : m_root(root), m_subKey(subKey) {
    static std::atomic<unsigned> counter{0};
    m_saved = std::wstring(kSavedRoot) + L"\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
              std::to_wstring(counter++);
    CRegKey key, saved;
    if (key.Open(root, subKey, KEY_READ) == ERROR_SUCCESS &&
        saved.Create(HKEY_CURRENT_USER, m_saved.c_str()) == ERROR_SUCCESS) {
        m_existed = ::RegCopyTreeW(key, nullptr, saved) == ERROR_SUCCESS;
    }
}

RegistryKeyGuard::~RegistryKeyGuard() {
    ::RegDeleteTreeW(m_root, m_subKey.c_str());
    ::RegDeleteKeyW(m_root, m_subKey.c_str());
    CRegKey key, saved;
    if (m_existed && saved.Open(HKEY_CURRENT_USER, m_saved.c_str(), KEY_READ) == ERROR_SUCCESS &&
        key.Create(m_root, m_subKey.c_str()) == ERROR_SUCCESS) {
        ::RegCopyTreeW(saved, nullptr, key);
    }
    saved.Close();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, m_saved.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, m_saved.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, kSavedRoot); // only when no other guard holds a copy
}

// Shared for writing and deleting too: the library may hold a log file open.
std::vector<BYTE> ReadFileBytes(const std::wstring& path) {
    unique_file file(::CreateFileW(path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.get(), &size)) {
        return {};
    }
    std::vector<BYTE> bytes(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
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

std::wstring SourceDir() {
    wchar_t value[MAX_PATH * 2] = {};
    if (::GetEnvironmentVariableW(L"HK_SOURCE_DIR", value, MAX_PATH * 2) == 0) {
        return std::wstring();
    }
    std::wstring path = value[0] == L'/' ? std::wstring(L"Z:") + value : value;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
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
