// What tests share: a temporary folder of their own, a registry key saved
// and restored around a test, file reading, and the source tree's location.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

namespace hk {
namespace test {

// A new folder under the user's temporary directory, removed with all its
// content when the object dies.
class TempDir {
public:
    explicit TempDir(const wchar_t* tag = L"t");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return m_path; }
    std::wstring File(const wchar_t* name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// Exports a registry key (HKCU or HKLM, with every sub key and value) when
// constructed and puts it back exactly as it was when destroyed; a key that
// did not exist is deleted again.
class RegistryKeyGuard {
public:
    RegistryKeyGuard(HKEY root, const wchar_t* subKey);
    ~RegistryKeyGuard();
    RegistryKeyGuard(const RegistryKeyGuard&) = delete;
    RegistryKeyGuard& operator=(const RegistryKeyGuard&) = delete;

private:
    HKEY m_root;
    std::wstring m_subKey;
    std::wstring m_saved; // the copy, a key of its own under HKCU
    bool m_existed = false;
};

std::vector<BYTE> ReadFileBytes(const std::wstring& path);
std::string ReadFileText(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const void* data, size_t size);
// The source tree, as a Windows path (Z:\...).
std::wstring SourceDir();
// The directory of this test program (where Hearthkit.dll and the
// stand-ins are built).
std::wstring BinDir();
std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

} // namespace test
} // namespace hk
