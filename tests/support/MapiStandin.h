// The MAPI stand-in (standins/mapi) as the tests meet it.
//
// A test program built with hk_add_test(... MAPI) runs its tests in a process
// whose Hearthkit.dll bound the stand-in: the library's loader finds MAPI once,
// while the DLL loads, so main registers the stand-in as Outlook's MAPI (with
// MAPI's profiles and the client keys saved), starts the program again with
// the same arguments, passes on its output and exit code, and puts everything
// back. Tests call MAPI by its names, which are the library's forwarding
// functions, and drive the stand-in through its own exports
// (MapiStandinControl.h). Scenarios started from such a process find the
// stand-in too.
#pragma once

#include "Hearthkit.h"
#include "MapiStandinControl.h"
#include "TestEnv.h"

#include <mapicode.h>
#include <mapiguid.h>
#include <mapitags.h>
#include <mapiutil.h>

#include <gtest/gtest.h>
#include <initializer_list>
#include <string>

namespace hk {
namespace test {

extern const wchar_t kMapiProfilesKey[]; // MAPI's profiles, under HKCU
extern const wchar_t kOutlookKey[];      // where HKLM names Outlook's MAPI ("DLLPathEx")
extern const BYTE kPrimaryProvider[16];  // PR_MDB_PROVIDER of a primary mailbox store
extern const BYTE kDelegateProvider[16]; // PR_MDB_PROVIDER of delegate and archive stores

// Registers the stand-in as Outlook's MAPI for the processes started from
// now on; the registration and MAPI's profiles come back as they were when it
// dies. For a test that starts programs of its own (hkdiag.exe).
class MapiStandinRegistration {
public:
    MapiStandinRegistration();
    MapiStandinRegistration(const MapiStandinRegistration&) = delete;
    MapiStandinRegistration& operator=(const MapiStandinRegistration&) = delete;

private:
    RegistryKeyGuard m_outlook;
    RegistryKeyGuard m_profiles;
};

// A test that starts without faults or counts and ends with every object and
// buffer of the stand-in freed again, and no MAPIFreeBuffer of a pointer that
// was no live MAPI buffer. A derived test releases what it holds in
// ReleaseAll, which runs before the count.
class MapiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    virtual void ReleaseAll() {}

    // What was live when the test began.
    LONG m_objects = 0;
    LONG m_buffers = 0;
    LONG m_badFrees = 0;
};

// The default profile "ConfigTest" of user "jdoe" (home server
// "exch01.example") with the extra stores asked for (MapiStandinMailbox).
HRESULT CreateMailboxProfile(bool delegate, bool archive);

// A session on the default profile that shares the mail client's logon.
CComPtr<IMAPISession> DefaultSession();

// The first store of provider in the default profile; for the delegate
// provider the archive store when archive is set, the plain delegate store
// otherwise.
CComPtr<IMsgStore> OpenMailboxStore(const BYTE* provider, bool archive = false);
CComPtr<IMAPIFolder> OpenInbox(IMsgStore* store);

// A settings message with text as its attachment, created minutesAgo minutes
// before now (so the newest is known without waiting).
void PutSettings(IMsgStore* store, const std::wstring& text, int minutesAgo = 0);
// A message of the class in the store's Inbox, with "Archive ID" or "Store
// Id" when given.
CComPtr<IMessage> PutItem(IMsgStore* store, const char* messageClass, const wchar_t* archiveId,
                          bool associated = false, const wchar_t* storeId = nullptr);
// A Hoardlocal marker message, with "Store Id" when storeId is given.
void PutMarker(IMsgStore* store, const wchar_t* storeId);
// Makes store the profile's default store.
void MakeDefault(IMsgStore* store);
// "Store Id" of the store's newest marker message; empty when none.
std::wstring ReadStoreId(IMsgStore* store);
// Associated messages of class messageClass in the store's Inbox.
ULONG CountHidden(IMsgStore* store, const char* messageClass);

// A value and a one-value restriction on it: RES_PROPERTY with op as the
// relation, or RES_CONTENT with op as the fuzzy level.
struct Match {
    SPropValue value{};
    SRestriction r{};
    explicit Match(ULONG tag, ULONG op = RELOP_EQ, ULONG rt = RES_PROPERTY);
    Match(const Match&) = delete;
    Match& operator=(const Match&) = delete;
};

// HrQueryAllRows over the columns listed.
HRESULT QueryAll(IMAPITable* table, std::initializer_list<ULONG> columns, SRestriction* r, TidyRowSet* rows,
                 SSortOrderSet* sort = nullptr, LONG maxRows = 0);

// The failure of a MAPI step a test needs to go on: raises, so that the test
// fails with the step's name and result.
void Must(HRESULT hr, const char* what);

} // namespace test
} // namespace hk
