// The product's client keys around a test: saved, emptied, and put back; and
// a store key path the configuration class is given as if it had derived it.
#pragma once

#include "Hearthkit.h"
#include "TestEnv.h"

#include <windows.h>
#include <string>

namespace hk {
namespace test {

// Pre-filled into out values, so an operation that writes nothing shows.
const DWORD kUnset = 0xdeadbeef;

extern const wchar_t kClientKey[]; // "SOFTWARE\Talvo\Stowhaven\Client"
extern const wchar_t kStoreKey[];  // kClientKey + "\\TESTSTORE"

// Saves HKCU's and HKLM's client keys, creates HKCU's client key and the
// store key empty (HKLM's is removed), and restores everything afterwards.
class ClientKeys {
public:
    ClientKeys();
    ~ClientKeys();
    ClientKeys(const ClientKeys&) = delete;
    ClientKeys& operator=(const ClientKeys&) = delete;
    // Create the key as needed; for any key, not only the client keys.
    static void SetDword(HKEY root, const wchar_t* path, const wchar_t* name, DWORD value);
    static void SetString(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* value,
                          DWORD type = REG_SZ);

private:
    RegistryKeyGuard m_user;
    RegistryKeyGuard m_machine;
};

// Gives HearthkitConfig the store key "TESTSTORE" (kStoreKey), or none.
void UseStoreKey(bool present);

// A log record's text as it stands in the file: after the header, ending in
// CR LF.
std::string Record(const std::string& text);

} // namespace test
} // namespace hk
