// The mailbox profile the control surface builds: the stores a client
// picks by provider, default flag and archive marker, the owner as a mail
// user, the home server in the global section, and the shared logon.
#include "MapiStandinFixture.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

using namespace mapitest;

namespace {

const ULONG PR_HOME_SERVER = PROP_TAG(PT_STRING8, 0x6602);
const ULONG PR_OWNER_ENTRYID = PROP_TAG(PT_BINARY, 0x6619);
const ULONG PR_MAILBOX_TYPE = PROP_TAG(PT_LONG, 0x6806);
BYTE kPrimary[16] = {0x54, 0x94, 0xA1, 0xC0, 0x29, 0x7F, 0x10, 0x1B,
                     0xA5, 0x87, 0x08, 0x00, 0x2B, 0x2A, 0x25, 0x17};
BYTE kDelegate[16] = {0x9E, 0xB4, 0x77, 0x00, 0x74, 0xE4, 0x11, 0xCE,
                      0x8C, 0x5E, 0x00, 0xAA, 0x00, 0x42, 0x54, 0xE2};
BYTE kPublic[16] = {0x78, 0xB2, 0xFA, 0x70, 0xAF, 0xF7, 0x11, 0xCD,
                    0x9B, 0xC8, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A};

class MailboxProfile : public LeakCheckedTest {
protected:
    void ReleaseAll() override { m_session.put(); }

    // Rows of the store table for one provider, with an optional second
    // condition, as a client asks for a store of a kind.
    ULONG CountStores(BYTE* provider, SRestriction* extra, Rows* out = nullptr) {
        Ptr<IMAPITable> stores;
        EXPECT_EQ(S_OK, m_session->GetMsgStoresTable(0, stores.put()));
        Match uid(PR_MDB_PROVIDER);
        uid.value.Value.bin = {16, provider};
        SRestriction parts[2] = {uid.r, extra ? *extra : uid.r};
        SRestriction both{};
        both.rt = RES_AND;
        both.res.resAnd = {2, parts};
        Rows rows;
        EXPECT_EQ(S_OK, QueryAll(stores.p, {PR_ENTRYID, PR_DISPLAY_NAME_W, PR_DEFAULT_STORE, PR_MAILBOX_TYPE},
                                 &both, out ? out : &rows));
        const SRowSet* set = (out ? out : &rows)->p;
        return set ? set->cRows : 0;
    }

    Ptr<IMAPISession> m_session;
    hk::test::RegistryKeyGuard m_profiles{HKEY_CURRENT_USER, kProfiles};
};

TEST_F(MailboxProfile, ProfileOffersPrimaryDelegateArchiveAndPublicStores) {
    ::MapiStandinMailbox mailbox = {L"jdoe", L"John Doe", "exch01.example", TRUE, TRUE, TRUE};
    ASSERT_EQ(S_OK, MapiStandinCreateMailboxProfile(L"StandinMailbox", &mailbox));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, MapiStandinCreateMailboxProfile(nullptr, &mailbox));
    ASSERT_EQ(S_OK, MAPILogonEx(0, nullptr, nullptr, MAPI_EXTENDED | MAPI_ALLOW_OTHERS, m_session.put()));

    Ptr<IProfSect> global;
    ASSERT_EQ(S_OK, m_session->OpenProfileSection(&kGlobalSection, nullptr, 0, global.put()));
    Buf<SPropValue> value;
    ASSERT_EQ(S_OK, HrGetOneProp(global.p, PR_HOME_SERVER, value.put()));
    EXPECT_STREQ("exch01.example", value->Value.lpszA);
    ASSERT_EQ(S_OK, HrGetOneProp(global.p, PR_PROFILE_NAME_W, value.put()));
    EXPECT_STREQ(L"StandinMailbox", value->Value.lpszW);

    Match isDefault(PR_DEFAULT_STORE), notArchive(PR_MAILBOX_TYPE, RELOP_NE);
    isDefault.value.Value.b = TRUE;
    notArchive.value.Value.l = 32;
    EXPECT_EQ(1u, CountStores(kDelegate, &notArchive.r));
    EXPECT_EQ(2u, CountStores(kDelegate, nullptr));
    EXPECT_EQ(1u, CountStores(kPublic, nullptr));

    Rows rows;
    ASSERT_EQ(1u, CountStores(kPrimary, &isDefault.r, &rows));
    EXPECT_STREQ(L"Mailbox - John Doe", rows->aRow[0].lpProps[1].Value.lpszW);
    EXPECT_EQ(PROP_TAG(PT_ERROR, 0x6806), rows->aRow[0].lpProps[3].ulPropTag);

    // The owner, reached from the primary store's PR_USER_ENTRYID.
    const SBinary& eid = rows->aRow[0].lpProps[0].Value.bin;
    Ptr<IMsgStore> store;
    ASSERT_EQ(S_OK, m_session->OpenMsgStore(0, eid.cb, reinterpret_cast<LPENTRYID>(eid.lpb), nullptr, 0x90,
                                            store.put()));
    ASSERT_EQ(S_OK, HrGetOneProp(store.p, PR_OWNER_ENTRYID, value.put()));
    Ptr<IMailUser> user;
    ULONG type = 0;
    ASSERT_EQ(S_OK,
              m_session->OpenEntry(value->Value.bin.cb, reinterpret_cast<LPENTRYID>(value->Value.bin.lpb),
                                   &IID_IMailUser, 0, &type, reinterpret_cast<LPUNKNOWN*>(user.put())));
    EXPECT_EQ(static_cast<ULONG>(MAPI_MAILUSER), type);
    Buf<SPropValue> account;
    ASSERT_EQ(S_OK, HrGetOneProp(user.p, PR_ACCOUNT_W, account.put()));
    EXPECT_STREQ(L"jdoe", account->Value.lpszW);

    BYTE bogus[30] = {};
    IUnknown* none = reinterpret_cast<IUnknown*>(0xdeadbeef);
    EXPECT_EQ(MAPI_E_INVALID_ENTRYID, m_session->OpenEntry(sizeof(bogus), reinterpret_cast<LPENTRYID>(bogus),
                                                           nullptr, 0, &type, &none));
    EXPECT_EQ(reinterpret_cast<IUnknown*>(0xdeadbeef), none);
}

TEST_F(MailboxProfile, ProfileWithoutExtrasHasNoDelegateOrArchive) {
    ::MapiStandinMailbox mailbox = {L"solo", nullptr, nullptr, FALSE, FALSE, FALSE};
    ASSERT_EQ(S_OK, MapiStandinCreateMailboxProfile(L"StandinSolo", &mailbox));
    ASSERT_EQ(S_OK,
              MAPILogonEx(0, const_cast<char*>("StandinSolo"), nullptr, MAPI_NEW_SESSION, m_session.put()));
    EXPECT_EQ(0u, CountStores(kDelegate, nullptr));
    EXPECT_EQ(1u, CountStores(kPrimary, nullptr));
    Ptr<IProfSect> global;
    ASSERT_EQ(S_OK, m_session->OpenProfileSection(&kGlobalSection, nullptr, 0, global.put()));
    Buf<SPropValue> value;
    EXPECT_EQ(MAPI_E_NOT_FOUND, HrGetOneProp(global.p, PR_HOME_SERVER, value.put()));
}

} // namespace
