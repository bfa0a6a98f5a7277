// What the mailbox tests share. The parent registers the MAPI stand-in and
// keeps the profiles it makes in check; the scenario (a fresh process, so
// that Hearthkit.dll binds the stand-in at load) builds a mailbox profile and
// puts settings and marker messages into its stores through MAPI.
#pragma once

#include "ConfigTestEnv.h"
#include "TidyRowSet.h"
#include "MapiStandinControl.h"

#include <cstdio>
#include <string>

namespace mailboxtest {

extern const BYTE kPrimary[16];
extern const BYTE kDelegate[16];

// Parent side: "DLLPathEx" names the stand-in, and MAPI's profile registry
// and the client keys come back as they were.
class StandinHost {
public:
    StandinHost();

private:
    hk::test::RegistryKeyGuard m_outlook;
    hk::test::RegistryKeyGuard m_profiles;

public:
    configtest::ClientKeys keys;
};

// Scenario side: the stand-in's control surface (the module the library's
// loader bound).
struct Standin {
    decltype(&MapiStandinCreateMailboxProfile) CreateMailboxProfile = nullptr;
    decltype(&MapiStandinFailCall) FailCall = nullptr;
    decltype(&MapiStandinCallCount) CallCount = nullptr;
    decltype(&MapiStandinLiveObjects) LiveObjects = nullptr;
};
const Standin& Api();

// The default profile "ConfigTest" of user "jdoe" (home server
// "exch01.example"), with the extra stores asked for, and the shared logon.
HRESULT CreateProfile(bool delegate, bool archive);

// The first store of provider; for the delegate provider the archive store
// when archive is set, the plain delegate store otherwise.
CComPtr<IMsgStore> OpenStore(const BYTE* provider, bool archive = false);

// A settings message with text as its attachment, created minutesAgo
// minutes before now (so the newest is known without waiting).
void PutSettings(IMsgStore* store, const std::wstring& text, int minutesAgo = 0);
// A message of the class in the store's Inbox, with "Archive ID" or "Store
// Id" when given.
CComPtr<IMessage> PutItem(IMsgStore* store, const char* messageClass, const wchar_t* archiveId,
                          bool associated = false, const wchar_t* storeId = nullptr);
CComPtr<IMAPIFolder> OpenInbox(IMsgStore* store);
// A Hoardlocal marker message, with "Store Id" when storeId is given.
void PutMarker(IMsgStore* store, const wchar_t* storeId);
// Sets "Store Id" on the store's newest marker message.
void SetStoreId(IMsgStore* store, const wchar_t* storeId);
// Makes store the profile's default store.
void MakeDefault(IMsgStore* store);
// "Store Id" of the store's newest marker message; empty when none.
std::wstring ReadStoreId(IMsgStore* store);
// Associated messages of class messageClass in the store's Inbox.
ULONG CountHidden(IMsgStore* store, const char* messageClass);

// Checks inside a scenario: a failure prints where and what, and counts.
extern int g_failures;
void Check(bool ok, const char* where, int line, const char* what);
void CheckHr(HRESULT expected, HRESULT actual, const char* where, int line, const char* what);
void CheckStr(const std::wstring& expected, const std::wstring& actual, const char* where, int line,
              const char* what);
#define MB_CHECK(cond) ::mailboxtest::Check(!!(cond), __FILE__, __LINE__, #cond)
#define MB_CHECK_HR(expected, actual) ::mailboxtest::CheckHr(expected, actual, __FILE__, __LINE__, #actual)
#define MB_CHECK_STR(expected, actual) ::mailboxtest::CheckStr(expected, actual, __FILE__, __LINE__, #actual)

} // namespace mailboxtest
