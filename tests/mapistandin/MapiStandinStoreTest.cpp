// Personal-folder stores of the MAPI stand-in: the file a configured
// service makes, folders, messages with attachments and named properties,
// and the content surviving a close and a reopen.
#include "MapiStandinFixture.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <vector>

using namespace mapitest;

namespace {

const ULONG PR_PST_PATH = PROP_TAG(PT_UNICODE, 0x6700);
const ULONG kStoreUnicodeOk = 0x00040000;
const ULONG kDeleteHardDelete = 0x00000010;
// {D0F41A15-9E91-D111-84E6-0000F877D428}
GUID kOwnSet = {0xD0F41A15, 0x9E91, 0xD111, {0x84, 0xE6, 0x00, 0x00, 0xF8, 0x77, 0xD4, 0x28}};

class MapiStandinStore : public LeakCheckedTest {
protected:
    void ReleaseAll() override { m_session.put(); }

    // A profile with one PST service pointed at path; opens its store.
    void OpenPst(const char* profile, const char* service, const std::wstring& path, IMsgStore** store) {
        {
            Ptr<IProfAdmin> admin;
            ASSERT_EQ(S_OK, MAPIAdminProfiles(0, admin.put()));
            admin->DeleteProfile(const_cast<char*>(profile), 0);
            ASSERT_EQ(S_OK, admin->CreateProfile(const_cast<char*>(profile), nullptr, 0, 0));
        }
        ASSERT_EQ(S_OK,
                  MAPILogonEx(0, const_cast<char*>(profile), nullptr, MAPI_NEW_SESSION, m_session.put()));
        Ptr<IMsgServiceAdmin> admin;
        ASSERT_EQ(S_OK, m_session->AdminServices(0, admin.put()));
        ASSERT_EQ(S_OK,
                  admin->CreateMsgService(const_cast<char*>(service), const_cast<char*>("Ignored"), 0, 0));
        Ptr<IMAPITable> services;
        ASSERT_EQ(S_OK, admin->GetMsgServiceTable(0, services.put()));
        Rows rows;
        ASSERT_EQ(S_OK, QueryAll(services.p, {PR_SERVICE_UID}, nullptr, &rows));
        ASSERT_EQ(1u, rows->cRows);
        MAPIUID uid;
        memcpy(uid.ab, rows->aRow[0].lpProps[0].Value.bin.lpb, 16);
        SPropValue value{};
        value.ulPropTag = PR_PST_PATH;
        value.Value.lpszW = const_cast<wchar_t*>(path.c_str());
        ASSERT_EQ(S_OK, admin->ConfigureMsgService(&uid, 0, 0, 1, &value));

        Ptr<IMAPITable> stores;
        ASSERT_EQ(S_OK, m_session->GetMsgStoresTable(0, stores.put()));
        ASSERT_EQ(S_OK, QueryAll(stores.p, {PR_ENTRYID}, nullptr, &rows, nullptr, 1));
        ASSERT_EQ(1u, rows->cRows);
        const SBinary& eid = rows->aRow[0].lpProps[0].Value.bin;
        ASSERT_EQ(S_OK, m_session->OpenMsgStore(0, eid.cb, reinterpret_cast<LPENTRYID>(eid.lpb), nullptr,
                                                0x90, store));
    }

    void Inbox(IMsgStore* store, IMAPIFolder** folder) {
        ULONG cb = 0;
        Buf<ENTRYID> eid;
        ASSERT_EQ(S_OK, store->GetReceiveFolder(const_cast<char*>("IPM.Note"), 0, &cb, eid.put(), nullptr));
        ULONG type = 0;
        ASSERT_EQ(S_OK, store->OpenEntry(cb, eid.p, &IID_IMAPIFolder, MAPI_BEST_ACCESS, &type,
                                         reinterpret_cast<LPUNKNOWN*>(folder)));
        EXPECT_EQ(static_cast<ULONG>(MAPI_FOLDER), type);
    }

    ULONG NamedTag(IMsgStore* store, const wchar_t* name, ULONG flags) {
        MAPINAMEID id{&kOwnSet, MNID_STRING, {0}};
        id.Kind.lpwstrName = const_cast<wchar_t*>(name);
        LPMAPINAMEID names[] = {&id};
        Buf<SPropTagArray> tags;
        HRESULT hr = store->GetIDsFromNames(1, names, flags, tags.put());
        if (FAILED(hr) || !tags.p)
            return 0;
        return tags->aulPropTag[0];
    }

    void AddSettingsMessage(IMAPIFolder* inbox, ULONG storeIdTag, const char* data, LONG creationHigh) {
        Ptr<IMessage> message;
        ASSERT_EQ(S_OK, inbox->CreateMessage(nullptr, MAPI_ASSOCIATED, message.put()));
        SPropValue props[3] = {};
        props[0].ulPropTag = PR_MESSAGE_CLASS_A;
        props[0].Value.lpszA = const_cast<char*>("IPM.Note.Stowhaven.Settings");
        props[1].ulPropTag = PROP_TAG(PT_UNICODE, PROP_ID(storeIdTag));
        props[1].Value.lpszW = const_cast<wchar_t*>(L"STORE-1");
        props[2].ulPropTag = PR_CREATION_TIME;
        props[2].Value.ft.dwHighDateTime = static_cast<DWORD>(creationHigh);
        ASSERT_EQ(S_OK, message->SetProps(3, props, nullptr));
        ULONG num = 0xdeadbeef;
        Ptr<IAttach> attach;
        ASSERT_EQ(S_OK, message->CreateAttach(nullptr, 0, &num, attach.put()));
        EXPECT_EQ(0u, num);
        {
            Ptr<IStream> stream;
            ASSERT_EQ(S_OK,
                      attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY,
                                           reinterpret_cast<LPUNKNOWN*>(stream.put())));
            ULONG written = 0;
            ASSERT_EQ(S_OK, stream->Write(data, static_cast<ULONG>(strlen(data)), &written));
            ASSERT_EQ(S_OK, stream->Commit(0));
        }
        ASSERT_EQ(S_OK, attach->SaveChanges(KEEP_OPEN_READWRITE));
        ASSERT_EQ(S_OK, message->SaveChanges(KEEP_OPEN_READWRITE));
    }

    Ptr<IMAPISession> m_session;
    hk::test::RegistryKeyGuard m_profiles{HKEY_CURRENT_USER, kProfiles};
};

TEST_F(MapiStandinStore, ConfiguredServiceMakesTheFileAndContentSurvivesReopening) {
    hk::test::TempDir dir;
    std::wstring path = dir.File(L"cache.pst");
    ULONG storeIdTag = 0;
    {
        Ptr<IMsgStore> store;
        OpenPst("StandinPst", "MSUPST MS", path, store.put());
        ASSERT_NE(nullptr, store.p);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str())) << "missing file is made";
        Buf<SPropValue> mask;
        ASSERT_EQ(S_OK, HrGetOneProp(store.p, PR_STORE_SUPPORT_MASK, mask.put()));
        EXPECT_EQ(kStoreUnicodeOk, static_cast<ULONG>(mask->Value.l) & kStoreUnicodeOk);

        storeIdTag = NamedTag(store.p, L"Store Id", MAPI_CREATE);
        ASSERT_GE(PROP_ID(storeIdTag), 0x8000u);
        EXPECT_EQ(storeIdTag, NamedTag(store.p, L"Store Id", 0));
        EXPECT_EQ(0u, NamedTag(store.p, L"Never Made", 0) & 0xFFFF0000u);

        Ptr<IMAPIFolder> inbox;
        Inbox(store.p, inbox.put());
        AddSettingsMessage(inbox.p, storeIdTag, "older", 1);
        AddSettingsMessage(inbox.p, storeIdTag, "newest", 3);
        AddSettingsMessage(inbox.p, storeIdTag, "middle", 2);
        Ptr<IMessage> plain;
        ASSERT_EQ(S_OK, inbox->CreateMessage(nullptr, 0, plain.put()));
        ASSERT_EQ(S_OK, plain->SaveChanges(0));
    }
    m_session.put(); // everything closed: the next open reads the file

    Ptr<IMsgStore> store;
    OpenPst("StandinPst2", "MSUPST MS", path, store.put());
    EXPECT_EQ(storeIdTag, NamedTag(store.p, L"Store Id", 0)) << "named ids are kept with the store";
    Ptr<IMAPIFolder> inbox;
    Inbox(store.p, inbox.put());
    Ptr<IMAPITable> hidden;
    ASSERT_EQ(S_OK, inbox->GetContentsTable(MAPI_ASSOCIATED, hidden.put()));
    Match cls(PR_MESSAGE_CLASS_A);
    cls.value.Value.lpszA = const_cast<char*>("IPM.Note.Stowhaven.Settings");
    SizedSSortOrderSet(1, sort) = {1, 0, 0, {{PR_CREATION_TIME, TABLE_SORT_DESCEND}}};
    Rows rows;
    ASSERT_EQ(S_OK, QueryAll(hidden.p, {PR_ENTRYID, PR_CREATION_TIME}, &cls.r, &rows,
                             reinterpret_cast<LPSSortOrderSet>(&sort)));
    ASSERT_EQ(3u, rows->cRows);
    EXPECT_EQ(3u, rows->aRow[0].lpProps[1].Value.ft.dwHighDateTime);
    EXPECT_EQ(1u, rows->aRow[2].lpProps[1].Value.ft.dwHighDateTime);

    // The newest one's attachment and its data through a stream.
    const SBinary& newest = rows->aRow[0].lpProps[0].Value.bin;
    Ptr<IMessage> message;
    ULONG type = 0;
    ASSERT_EQ(S_OK, store->OpenEntry(newest.cb, reinterpret_cast<LPENTRYID>(newest.lpb), &IID_IMessage,
                                     MAPI_BEST_ACCESS, &type, reinterpret_cast<LPUNKNOWN*>(message.put())));
    Buf<SPropValue> storeId;
    ASSERT_EQ(S_OK, HrGetOneProp(message.p, PROP_TAG(PT_UNICODE, PROP_ID(storeIdTag)), storeId.put()));
    EXPECT_STREQ(L"STORE-1", storeId->Value.lpszW);
    Ptr<IMAPITable> attachments;
    ASSERT_EQ(S_OK, message->GetAttachmentTable(0, attachments.put()));
    Rows attachRows;
    ASSERT_EQ(S_OK, QueryAll(attachments.p, {PR_ATTACH_NUM}, nullptr, &attachRows));
    ASSERT_EQ(1u, attachRows->cRows);
    Ptr<IAttach> attach;
    ASSERT_EQ(S_OK, message->OpenAttach(static_cast<ULONG>(attachRows->aRow[0].lpProps[0].Value.l), nullptr,
                                        MAPI_BEST_ACCESS, attach.put()));
    Ptr<IStream> stream;
    ASSERT_EQ(S_OK, attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, 0,
                                         reinterpret_cast<LPUNKNOWN*>(stream.put())));
    STATSTG stat{};
    ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
    char text[16] = {};
    ULONG read = 0;
    ASSERT_EQ(S_OK, stream->Read(text, sizeof(text), &read));
    EXPECT_EQ(6u, stat.cbSize.QuadPart);
    EXPECT_STREQ("newest", text);
    Buf<SPropValue> modified;
    EXPECT_EQ(S_OK, HrGetOneProp(attach.p, PR_LAST_MODIFICATION_TIME, modified.put()));

    // Two duplicates go: one hard-deleted, one not; a stranger id is reported.
    for (ULONG i = 1; i < 3; ++i) {
        SBinary bin = rows->aRow[i].lpProps[0].Value.bin;
        ENTRYLIST list{1, &bin};
        EXPECT_EQ(S_OK, inbox->DeleteMessages(&list, 0, nullptr, i == 1 ? kDeleteHardDelete : 0));
        EXPECT_EQ(MAPI_W_PARTIAL_COMPLETION, inbox->DeleteMessages(&list, 0, nullptr, 0));
    }
    Ptr<IMAPITable> after;
    ASSERT_EQ(S_OK, inbox->GetContentsTable(MAPI_ASSOCIATED, after.put()));
    ULONG count = 0;
    ASSERT_EQ(S_OK, after->GetRowCount(0, &count));
    EXPECT_EQ(1u, count);
    Ptr<IMAPITable> normal;
    ASSERT_EQ(S_OK, inbox->GetContentsTable(0, normal.put()));
    ASSERT_EQ(S_OK, normal->GetRowCount(0, &count));
    EXPECT_EQ(1u, count);
}

TEST_F(MapiStandinStore, AnsiStoreSaysSoAndBadEntryIdsAreRefused) {
    hk::test::TempDir dir;
    Ptr<IMsgStore> store;
    OpenPst("StandinAnsi", "MSPST MS", dir.File(L"ansi.pst"), store.put());
    ASSERT_NE(nullptr, store.p);
    Buf<SPropValue> mask;
    ASSERT_EQ(S_OK, HrGetOneProp(store.p, PR_STORE_SUPPORT_MASK, mask.put()));
    EXPECT_EQ(0u, static_cast<ULONG>(mask->Value.l) & kStoreUnicodeOk);

    BYTE junk[25] = {1, 2, 3};
    IUnknown* out = reinterpret_cast<IUnknown*>(0xdeadbeef);
    ULONG type = 0;
    EXPECT_EQ(MAPI_E_INVALID_ENTRYID,
              store->OpenEntry(sizeof(junk), reinterpret_cast<LPENTRYID>(junk), nullptr, 0, &type, &out));
    EXPECT_EQ(MAPI_E_INVALID_ENTRYID,
              m_session->OpenMsgStore(0, sizeof(junk), reinterpret_cast<LPENTRYID>(junk), nullptr, 0x90,
                                      reinterpret_cast<LPMDB*>(&out)));
    EXPECT_EQ(reinterpret_cast<IUnknown*>(0xdeadbeef), out);

    // The store's root, IPM subtree and entry id.
    Buf<SPropValue> subtree;
    ASSERT_EQ(S_OK, HrGetOneProp(store.p, PR_IPM_SUBTREE_ENTRYID, subtree.put()));
    Ptr<IMAPIFolder> folder;
    ASSERT_EQ(S_OK,
              store->OpenEntry(subtree->Value.bin.cb, reinterpret_cast<LPENTRYID>(subtree->Value.bin.lpb),
                               nullptr, MAPI_BEST_ACCESS, &type, reinterpret_cast<LPUNKNOWN*>(folder.put())));
    EXPECT_EQ(static_cast<ULONG>(MAPI_FOLDER), type);
}

const IID kOverrideRequest = {0x892EBC6D, 0x24DC, 0x4D90, {0xBA, 0x48, 0xC6, 0xCB, 0xEC, 0x14, 0xA8, 0x6A}};

TEST_F(MapiStandinStore, OnlyPersonalFolderStoresOfferTheOverrideRequest) {
    hk::test::TempDir dir;
    Ptr<IMsgStore> store;
    OpenPst("StandinNoOverride", "SHMSP", dir.File(L"cache.mdc"), store.put());
    ASSERT_NE(nullptr, store.p);
    IUnknown* request = reinterpret_cast<IUnknown*>(0xdeadbeef);
    EXPECT_EQ(E_NOINTERFACE, store->QueryInterface(kOverrideRequest, reinterpret_cast<void**>(&request)));
    EXPECT_EQ(nullptr, request);
}

// Multi-valued values kept in the file; copies between messages; named ids
// back to names; a folder deleted only with what it holds when asked.
TEST_F(MapiStandinStore, MultiValuesCopiesNamesAndFolderDeletion) {
    hk::test::TempDir dir;
    std::wstring path = dir.File(L"mv.pst");
    const ULONG PR_COUNTS = PROP_TAG(PT_MV_LONG, 0x6801);
    wchar_t* words[] = {const_cast<wchar_t*>(L"alpha"), const_cast<wchar_t*>(L""),
                        const_cast<wchar_t*>(L"g")};
    LONG counts[] = {7, -1};
    SBinary copiedEid{};
    std::vector<BYTE> copiedBytes;
    {
        Ptr<IMsgStore> store;
        OpenPst("StandinMv", "MSUPST MS", path, store.put());
        Ptr<IMAPIFolder> inbox;
        Inbox(store.p, inbox.put());
        const ULONG named = NamedTag(store.p, L"Keywords", MAPI_CREATE);
        Ptr<IMessage> source, copy;
        ASSERT_EQ(S_OK, inbox->CreateMessage(nullptr, 0, source.put()));
        ASSERT_EQ(S_OK, inbox->CreateMessage(nullptr, 0, copy.put()));
        SPropValue props[3] = {};
        props[0].ulPropTag = PROP_TAG(PT_MV_UNICODE, PROP_ID(named));
        props[0].Value.MVszW = {3, words};
        props[1].ulPropTag = PR_COUNTS;
        props[1].Value.MVl = {2, counts};
        props[2].ulPropTag = PR_SUBJECT_W;
        props[2].Value.lpszW = const_cast<wchar_t*>(L"source");
        ASSERT_EQ(S_OK, source->SetProps(3, props, nullptr));
        props[2].Value.lpszW = const_cast<wchar_t*>(L"kept");
        ASSERT_EQ(S_OK, copy->SetProps(1, &props[2], nullptr));

        EXPECT_EQ(MAPI_E_INVALID_PARAMETER,
                  source->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, nullptr, 0, nullptr));
        EXPECT_EQ(MAPI_E_NO_ACCESS,
                  source->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, source.p, 0, nullptr));
        SizedSPropTagArray(1, noCounts) = {1, {PR_COUNTS}};
        EXPECT_EQ(S_OK, source->CopyTo(0, nullptr, reinterpret_cast<LPSPropTagArray>(&noCounts), 0, nullptr,
                                       &IID_IMessage, copy.p, MAPI_NOREPLACE, nullptr));
        Buf<SPropValue> v;
        ASSERT_EQ(S_OK, HrGetOneProp(copy.p, PR_SUBJECT_W, v.put()));
        EXPECT_STREQ(L"kept", v->Value.lpszW) << "MAPI_NOREPLACE keeps what the target has";
        EXPECT_EQ(MAPI_E_NOT_FOUND, HrGetOneProp(copy.p, PR_COUNTS, v.put())) << "excluded";
        EXPECT_EQ(S_OK, source->CopyProps(reinterpret_cast<LPSPropTagArray>(&noCounts), 0, nullptr,
                                          &IID_IMessage, copy.p, MAPI_MOVE, nullptr));
        EXPECT_EQ(MAPI_E_NOT_FOUND, HrGetOneProp(source.p, PR_COUNTS, v.put())) << "moved away";
        ASSERT_EQ(S_OK, copy->SaveChanges(0));
        ASSERT_EQ(S_OK, HrGetOneProp(copy.p, PR_ENTRYID, v.put()));
        copiedBytes.assign(v->Value.bin.lpb, v->Value.bin.lpb + v->Value.bin.cb);

        // Names of ids: one known, one that names nothing; then every name.
        SizedSPropTagArray(2, ids) = {2, {named, PROP_TAG(PT_UNSPECIFIED, 0xFFF0)}};
        LPSPropTagArray idList = reinterpret_cast<LPSPropTagArray>(&ids);
        ULONG count = 0xdeadbeef;
        Buf<MAPINAMEID*> names;
        ASSERT_EQ(MAPI_W_ERRORS_RETURNED, store->GetNamesFromIDs(&idList, nullptr, 0, &count, names.put()));
        ASSERT_EQ(2u, count);
        ASSERT_NE(nullptr, names.p[0]);
        EXPECT_TRUE(IsEqualGUID(kOwnSet, *names.p[0]->lpguid));
        EXPECT_STREQ(L"Keywords", names.p[0]->Kind.lpwstrName);
        EXPECT_EQ(nullptr, names.p[1]);
        Buf<SPropTagArray> all;
        ASSERT_EQ(S_OK, store->GetNamesFromIDs(all.put(), &kOwnSet, 0, &count, names.put()));
        EXPECT_EQ(1u, count);
        EXPECT_EQ(MAPI_E_INVALID_PARAMETER, store->GetNamesFromIDs(nullptr, nullptr, 0, &count, names.put()));

        // A folder with a sub folder holding a message.
        Ptr<IMAPIFolder> outer, inner;
        Ptr<IMessage> deep;
        ASSERT_EQ(S_OK, inbox->CreateFolder(FOLDER_GENERIC, const_cast<char*>("Outer"), nullptr, nullptr, 0,
                                            outer.put()));
        ASSERT_EQ(S_OK, outer->CreateFolder(FOLDER_GENERIC, const_cast<char*>("Inner"), nullptr, nullptr, 0,
                                            inner.put()));
        ASSERT_EQ(S_OK, inner->CreateMessage(nullptr, 0, deep.put()));
        ASSERT_EQ(S_OK, deep->SaveChanges(0));
        ASSERT_EQ(S_OK, HrGetOneProp(outer.p, PR_ENTRYID, v.put()));
        LPENTRYID outerId = reinterpret_cast<LPENTRYID>(v->Value.bin.lpb);
        BYTE junk[3] = {1, 2, 3};
        EXPECT_EQ(MAPI_E_INVALID_ENTRYID, inbox->DeleteFolder(sizeof(junk), reinterpret_cast<LPENTRYID>(junk),
                                                              0, nullptr, DEL_FOLDERS | DEL_MESSAGES));
        EXPECT_EQ(MAPI_E_NOT_FOUND, outer->DeleteFolder(v->Value.bin.cb, outerId, 0, nullptr, DEL_FOLDERS));
        EXPECT_EQ(MAPI_E_HAS_FOLDERS, inbox->DeleteFolder(v->Value.bin.cb, outerId, 0, nullptr, 0));
        EXPECT_EQ(MAPI_E_HAS_MESSAGES,
                  inbox->DeleteFolder(v->Value.bin.cb, outerId, 0, nullptr, DEL_FOLDERS));
        EXPECT_EQ(S_OK,
                  inbox->DeleteFolder(v->Value.bin.cb, outerId, 0, nullptr, DEL_FOLDERS | DEL_MESSAGES));
    }
    m_session.put();

    Ptr<IMsgStore> store;
    OpenPst("StandinMv2", "MSUPST MS", path, store.put());
    Ptr<IMessage> copy;
    ULONG type = 0;
    copiedEid = {static_cast<ULONG>(copiedBytes.size()), copiedBytes.data()};
    ASSERT_EQ(S_OK, store->OpenEntry(copiedEid.cb, reinterpret_cast<LPENTRYID>(copiedEid.lpb), nullptr, 0,
                                     &type, reinterpret_cast<LPUNKNOWN*>(copy.put())));
    Buf<SPropValue> v;
    ASSERT_EQ(S_OK, HrGetOneProp(copy.p, PR_COUNTS, v.put()));
    ASSERT_EQ(2u, v->Value.MVl.cValues);
    EXPECT_EQ(-1, v->Value.MVl.lpl[1]);
    ASSERT_EQ(S_OK, HrGetOneProp(copy.p, PROP_TAG(PT_MV_UNICODE, PROP_ID(NamedTag(store.p, L"Keywords", 0))),
                                 v.put()));
    ASSERT_EQ(3u, v->Value.MVszW.cValues);
    EXPECT_STREQ(L"alpha", v->Value.MVszW.lppszW[0]);
    EXPECT_STREQ(L"", v->Value.MVszW.lppszW[1]);
    EXPECT_STREQ(L"g", v->Value.MVszW.lppszW[2]);
    Ptr<IMAPIFolder> inbox;
    Inbox(store.p, inbox.put());
    Ptr<IMAPITable> folders;
    ASSERT_EQ(S_OK, inbox->GetHierarchyTable(0, folders.put()));
    ULONG count = 0xdeadbeef;
    ASSERT_EQ(S_OK, folders->GetRowCount(0, &count));
    EXPECT_EQ(0u, count) << "the deleted folder stays gone";
}

} // namespace
