// The named property table resolved on PST stores of the stand-in, checked
// against the cache store's schema as the store itself names the ids.
#include "PstTestEnv.h"

#include <stdexcept>

namespace {

using psttest::TestHelper;
using Tags = MDC::PSTNamedProperties::TagArray;

GUID kOwnSet = {0xD0F41A15, 0x9E91, 0xD111, {0x84, 0xE6, 0x00, 0x00, 0xF8, 0x77, 0xD4, 0x28}};
GUID kPublicStrings = {0x00020329, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
GUID kAppointment = {0x00062002, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
GUID kTask = {0x00062003, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
GUID kAddress = {0x00062004, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// One property of the schema: a string name (name) or a numeric one (id).
struct Schema {
    const wchar_t* name;
    ULONG type;
    const GUID* set = &kOwnSet;
    LONG id = 0;
};

// By enumerator value.
// clang-format off
const Schema kSchema[95] = {
    {L"HC_PVID", PT_UNICODE}, {L"HC_SSID", PT_UNICODE}, {L"HC_SNUM", PT_LONG}, {L"HC_CacheState", PT_LONG},
    {L"HC_SHServerNewFolderRootID", PT_BINARY}, {L"HC_SHServerNewFolder", PT_BOOLEAN},
    {L"HC_TargetName", PT_UNICODE}, {L"HC_TargetParentPVID", PT_UNICODE}, {L"HC_FolderIcon", PT_LONG},
    {L"HC_PendingServerDelete", PT_BOOLEAN}, {L"HC_SyncPoint", PT_LONG},
    {L"HC_HighestEverSyncPoint", PT_LONG}, {L"HC_FullSyncCount", PT_LONG},
    {L"HC_IncrSyncSequenceNumberCheckpoint", PT_LONG}, {L"HC_FullSyncMinSequenceNumberCheckpoint", PT_LONG},
    {L"HC_FullSyncMaxSequenceNumberCheckpoint", PT_LONG}, {L"HC_MessageFullSyncCreated", PT_LONG},
    {L"HC_MessageFullSyncVisited", PT_LONG}, {L"HC_ToBeDeletedMessagesRootID", PT_BINARY},
    {L"HC_ToBeDeletedMessages", PT_BOOLEAN}, {L"HC_CreatedMessagesRootID", PT_BINARY},
    {L"HC_CreatedMessages", PT_BOOLEAN}, {L"HC_ArchivedMessageSize", PT_LONG}, {L"HC_Date", PT_UNICODE},
    {L"HC_RetentionCategoryIdentifier", PT_UNICODE}, {L"HC_DType", PT_UNICODE},
    {L"HC_ArchiveVEID", PT_UNICODE}, {L"HC_ArchiveName", PT_UNICODE}, {L"HC_EnabledState", PT_BOOLEAN},
    {L"HC_LastSyncTime", PT_I8}, {L"HC_SyncState", PT_LONG}, {L"HC_Version", PT_LONG},
    {L"HC_RCMap", PT_BINARY}, {L"HC_Structured", PT_LONG}, {L"HC_IndexingLevel", PT_LONG},
    {L"HC_PrivateVisible", PT_LONG}, {L"HC_ArchiveType", PT_LONG}, {L"HC_WebAppURL", PT_UNICODE},
    {L"HC_ArchiveAccessible", PT_BOOLEAN}, {L"HC_InfoMessageID", PT_BINARY},
    {L"HC_PersistedServerTree", PT_BINARY}, {L"HC_FullSyncPointTargetForResume", PT_LONG},
    {L"Keywords", PT_MV_UNICODE, &kPublicStrings}, {L"HC_SHMSPNextOperationSnum", PT_LONG},
    {L"HC_SHMSPCreated", PT_LONG}, {L"HC_SHMSPMoved", PT_LONG}, {L"HC_SHMSPToArchiveSearchRootID", PT_BINARY},
    {L"HC_SHMSPToArchiveSearch", PT_BOOLEAN}, {L"HC_SHMSPMovedSearchRootID", PT_BINARY},
    {L"HC_SHMSPMovedSearch", PT_BOOLEAN}, {L"HC_SHMSPDeleteRecordRootID", PT_BINARY},
    {L"HC_UpdateItemRetentionCategories", PT_BOOLEAN}, {L"SH_LocalisedResources", PT_UNICODE},
    {L"HC_ExistsInMBX", PT_BOOLEAN}, {nullptr, PT_SYSTIME, &kAppointment, 0x820D},
    {nullptr, PT_SYSTIME, &kAppointment, 0x820E}, {nullptr, PT_UNICODE, &kAddress, 0x8005},
    {L"HC_FolderDeletable", PT_BOOLEAN}, {L"HC_ManagedFolder", PT_BOOLEAN}, {L"HC_SHMSPDeleted", PT_LONG},
    {L"HV_AllowArchive", PT_BOOLEAN}, {L"HV_AllowReOrg", PT_BOOLEAN}, {L"HV_AllowHardDelete", PT_BOOLEAN},
    {L"HV_AllowIntraStoreCopy", PT_BOOLEAN}, {L"HV_AllowInterStoreCopyMove", PT_BOOLEAN},
    {L"HV_DenyMultiContentlessOpsAbove", PT_LONG}, {nullptr, PT_UNICODE, &kAppointment, 0x8208},
    {nullptr, PT_SYSTIME, &kTask, 0x8105}, {nullptr, PT_SYSTIME, &kTask, 0x810F},
    {nullptr, PT_LONG, &kTask, 0x8101}, {L"HC_ItemArchiveAttempts", PT_LONG},
    {L"HV_MessageClassInclude", PT_UNICODE}, {L"HC_MaxMessageSizeToArchiveMB", PT_LONG},
    {L"HC_MaxTotalToArchiveMB", PT_LONG}, {L"HC_SHMSPCouldNotArchiveSearchRootID", PT_BINARY},
    {L"HC_SHMSPCouldNotArchiveSearch", PT_BOOLEAN}, {L"HC_SHMSPToArchiveSearchMsgID", PT_BINARY},
    {L"HC_SHMSPCouldNotArchiveSearchMsgID", PT_BINARY}, {L"HC_SHMSPPendingTruncationSearchRootID", PT_BINARY},
    {L"HC_SHMSPPendingTruncationSearch", PT_BOOLEAN}, {L"HV_MDCUniqueID", PT_UNICODE},
    {L"HC_ServerVersion", PT_UNICODE}, {L"HV_RemainingItemUpdates", PT_BOOLEAN},
    {L"HV_StubOnlyModuleList", PT_UNICODE}, {L"HV_ForceReadOnly", PT_BOOLEAN},
    {L"HV_ReadingPaneContent", PT_LONG}, {L"HV_PrimaryArchive", PT_BOOLEAN},
    {L"HV_FolderModifiedBySync", PT_BOOLEAN}, {L"HV_ToArchiveSize", PT_LONG},
    {L"HC_InitialSyncComplete", PT_BOOLEAN}, {L"HV_AutoSyncItemThreshold", PT_LONG},
    {L"HV_AutoSyncItemSizeThresholdMB", PT_LONG}, {L"HV_ToArchiveCount", PT_LONG},
    {nullptr, PT_BOOLEAN, &kAppointment, 0x8223}, {L"HC_MailboxState", PT_LONG},
};
// clang-format on

class PstNamedProperties : public psttest::PstTest {};

// What step throws as _com_error.
template <class Step>
HRESULT Thrown(Step step) {
    try {
        step();
    } catch (const _com_error& e) {
        return e.Error();
    }
    return S_OK;
}

TEST_F(PstNamedProperties, WithoutAStoreEveryTagIsZero) {
    MDC::PSTNamedProperties names(nullptr);
    Tags all = names.GetAllTags();
    EXPECT_EQ(std::vector<ULONG>(95), std::vector<ULONG>(all->aulPropTag, all->aulPropTag + all->cValues));
    EXPECT_EQ(0u, names.GetAllHVTags()->cValues);
    for (int bad : {95, -1}) {
        try {
            names.GetTag(static_cast<MDC::NAMEDPROP>(bad));
            ADD_FAILURE() << bad << " accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ("Invalid named property enum", e.what());
        }
    }
    MapiStandinFailCall("MAPIAllocateBuffer", MAPI_E_NOT_ENOUGH_MEMORY, 1, nullptr);
    EXPECT_EQ(MAPI_E_NOT_ENOUGH_MEMORY, Thrown([&] { names.GetAllTags(); }));
}

TEST_F(PstNamedProperties, EveryEntryIsTheStoresNameOfItsSetWithTheSchemasType) {
    TestHelper helper(m_session);
    CComPtr<IMsgStore> store = OpenStore(helper, L"names.pst");
    ASSERT_TRUE(store);
    MapiStandinReset();
    MDC::PSTNamedProperties names(store);
    EXPECT_EQ(95u, MapiStandinCallCount("IMsgStore::GetIDsFromNames")) << "one call per name";
    Tags all = names.GetAllTags();
    ASSERT_EQ(95u, all->cValues);
    for (ULONG i = 0; i < 95; ++i) {
        const Schema& want = kSchema[i];
        SCOPED_TRACE(testing::Message() << i << " " << (want.name ? hk::test::Narrow(want.name) : ""));
        ULONG tag = names.GetTag(static_cast<MDC::NAMEDPROP>(i));
        EXPECT_EQ(tag, all->aulPropTag[i]);
        EXPECT_EQ(want.type, PROP_TYPE(tag));
        SizedSPropTagArray(1, one) = {1, {tag}};
        LPSPropTagArray asked = reinterpret_cast<LPSPropTagArray>(&one);
        ULONG count = 0;
        AutoPtrWithFreePolicy<MAPINAMEID*, MAPIFreeBufferPolicy> found;
        ASSERT_EQ(S_OK, store->GetNamesFromIDs(&asked, nullptr, 0, &count, found.put()));
        const MAPINAMEID& name = *found.get()[0];
        EXPECT_TRUE(IsEqualGUID(*want.set, *name.lpguid));
        if (want.name) {
            ASSERT_EQ(ULONG(MNID_STRING), name.ulKind);
            EXPECT_STREQ(want.name, name.Kind.lpwstrName);
        } else {
            ASSERT_EQ(ULONG(MNID_ID), name.ulKind);
            EXPECT_EQ(want.id, name.Kind.lID);
        }
    }
    // The own set's tags in resolution order: 80 before 78 and 79.
    std::vector<ULONG> own;
    for (ULONG i = 0; i < 95; ++i) {
        ULONG at = i == 78 ? 80 : i == 79 ? 78 : i == 80 ? 79 : i;
        if (kSchema[at].set == &kOwnSet) {
            own.push_back(all->aulPropTag[at]);
        }
    }
    Tags hv = names.GetAllHVTags();
    EXPECT_EQ(own, std::vector<ULONG>(hv->aulPropTag, hv->aulPropTag + hv->cValues));
}

TEST_F(PstNamedProperties, AFailedResolutionThrowsMAPIsResult) {
    TestHelper helper(m_session);
    CComPtr<IMsgStore> store = OpenStore(helper, L"f.pst");
    ASSERT_TRUE(store);
    MapiStandinFailCall("IMsgStore::GetIDsFromNames", MAPI_E_NO_ACCESS, 1, nullptr);
    EXPECT_EQ(MAPI_E_NO_ACCESS, Thrown([&] { MDC::PSTNamedProperties names(store); }));
    MapiStandinFailCall("IMsgStore::GetIDsFromNames", MAPI_E_NO_ACCESS, 1, nullptr);
    EXPECT_EQ(MAPI_E_NO_ACCESS,
              Thrown([&] { MDC::PSTNamedProperties::GetTagByName(store, L"HC_PVID", PT_UNICODE, nullptr); }));
}

// A store whose named property ids run out answers the names it cannot map
// with error-typed tags: no tag of id 0 may come out of that.
TEST_F(PstNamedProperties, NamesTheStoreCannotMapAreRefused) {
    TestHelper helper(m_session);
    CComPtr<IMsgStore> store = OpenStore(helper, L"full.pst");
    ASSERT_TRUE(store);
    // Every id but ten taken by other names.
    const ULONG kTaken = 0xFFFF - 0x8000 - 10;
    std::vector<std::wstring> texts(kTaken);
    std::vector<MAPINAMEID> names(kTaken);
    std::vector<LPMAPINAMEID> list(kTaken);
    for (ULONG i = 0; i < kTaken; ++i) {
        texts[i] = L"filler" + std::to_wstring(i);
        names[i] = {&kPublicStrings, MNID_STRING, {}};
        names[i].Kind.lpwstrName = &texts[i][0];
        list[i] = &names[i];
    }
    Tags taken;
    ASSERT_EQ(S_OK, store->GetIDsFromNames(kTaken, list.data(), MAPI_CREATE, taken.put()));
    EXPECT_EQ(MAPI_E_NOT_FOUND, Thrown([&] { MDC::PSTNamedProperties table(store); }));
    EXPECT_EQ(MAPI_E_NOT_FOUND, Thrown([&] {
                  MDC::PSTNamedProperties::GetTagByName(store, L"HC_NotMapped", PT_LONG, nullptr);
              }));
}

} // namespace
