// What the configuration tests share: the client keys set up and restored
// around a test, a store key path of the test's choosing, and scenarios run
// with the log at a given level whose file comes back as text.
#pragma once

#include "Hearthkit.h"
#include "Scenario.h"
#include "TestEnv.h"

#include <memory>
#include <string>

namespace configtest {

// Pre-filled into out values, so an operation that writes nothing shows.
const DWORD kUnset = 0xdeadbeef;

extern const wchar_t kClientKey[];
extern const wchar_t kStoreKey[]; // kClientKey + "\\TESTSTORE"

// Saves HKCU and HKLM client keys, creates HKCU's client key and the store
// key empty (HKLM's is removed), and restores everything afterwards.
class ClientKeys {
public:
    ClientKeys();
    ~ClientKeys();
    void SetDword(HKEY root, const wchar_t* path, const wchar_t* name, DWORD value);
    void SetString(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* value,
                   DWORD type = REG_SZ);

private:
    hk::test::RegistryKeyGuard m_user;
    hk::test::RegistryKeyGuard m_machine;
};

// Gives the class a store key path as if derived ("TESTSTORE"), or none.
void UseStoreKey(bool present);

struct LoggedRun {
    hk::test::ScenarioResult result;
    std::string log; // the whole log file, or empty when none was written
};

// Runs the scenario with "LoggingLevel" set to level (in the keys the caller
// has set up) and its own temporary directory, and reads the log it leaves.
LoggedRun RunLogged(const char* scenario, DWORD level);

// A log record's text as it stands in the file: after the header, ending in
// CR LF.
std::string Record(const std::string& text);

} // namespace configtest
