// What the provider tests share: MAPI's profile registry and the client keys
// read and written directly, and the store key the class is given.
#pragma once

#include "Hearthkit.h"
#include "TestEnv.h"
#include "ClientKeys.h"

#include <string>
#include <vector>

namespace providertest {

using hk::test::kClientKey;
using hk::test::kStoreKey; // kClientKey + "\\TESTSTORE"

extern const wchar_t kProfilesRoot[];
extern const wchar_t kServicesSection[];

// Every key and value below root\path as sorted lines "key|value|type|hex",
// so two snapshots compare whole.
std::string DumpTree(HKEY root, const std::wstring& path);
bool KeyExists(const std::wstring& path); // under HKCU

// REG_BINARY values in MAPI's profile layout.
std::vector<BYTE> WideBytes(const std::wstring& text); // with its NUL
std::vector<BYTE> UidBytes(BYTE seed);                 // 16 bytes, seed first
std::wstring Hex(const std::vector<BYTE>& bytes, bool upper = false);
void SetBinary(const std::wstring& path, const wchar_t* name, const std::vector<BYTE>& bytes);
std::vector<BYTE> GetBinary(const std::wstring& path, const wchar_t* name);

} // namespace providertest
