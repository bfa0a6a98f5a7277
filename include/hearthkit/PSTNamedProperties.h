// MDC::PSTNamedProperties: the named properties that the cache store and
// its view keep on folders and messages, and their tags on one store.
//
//   MDC::PSTNamedProperties names(store);             // resolves all 95
//   ULONG tag = names.GetTag(MDC::HC_SyncPoint);
//   auto all = names.GetAllTags();                    // freed with MAPIFreeBuffer
//
// Tags differ from store to store: build one object per store. Failures are
// exceptions: std::invalid_argument, std::logic_error, and _com_error with
// the HRESULT of a failed MAPI call; a name the store answers error-typed
// (it cannot map it, e.g. its named ids are used up) is a _com_error with
// MAPI_E_NOT_FOUND, never a tag of id 0. After construction the object only
// reads, and may be shared between threads.
#pragma once

#include "HearthkitExport.h"
#include "AutoPtrWithFreePolicy.h"

#include <windows.h>
#include <mapix.h>
#include <map>
#include <string>
#include <vector>

namespace MDC {

// The properties, in the order of their tags in GetAllTags.
enum NAMEDPROP {
    HC_PVID = 0,
    HC_SSID = 1,
    HC_SNUM = 2,
    HC_CacheState = 3,
    HC_SHServerNewFolderRootID = 4,
    HC_SHServerNewFolder = 5,
    HC_TargetName = 6,
    HC_TargetParentPVID = 7,
    HC_FolderIcon = 8,
    HC_PendingServerDelete = 9,
    HC_SyncPoint = 10,
    HC_HighestEverSyncPoint = 11,
    HC_FullSyncCount = 12,
    HC_IncrSyncSequenceNumberCheckpoint = 13,
    HC_FullSyncMinSequenceNumberCheckpoint = 14,
    HC_FullSyncMaxSequenceNumberCheckpoint = 15,
    HC_MessageFullSyncCreated = 16,
    HC_MessageFullSyncVisited = 17,
    HC_ToBeDeletedMessagesRootID = 18,
    HC_ToBeDeletedMessages = 19,
    HC_CreatedMessagesRootID = 20,
    HC_CreatedMessages = 21,
    HC_ArchivedMessageSize = 22,
    HC_Date = 23,
    HC_RetentionCategoryIdentifier = 24,
    HC_DType = 25,
    HC_ArchiveVEID = 26,
    HC_ArchiveName = 27,
    HC_EnabledState = 28,
    HC_LastSyncTime = 29,
    HC_SyncState = 30,
    HC_Version = 31,
    HC_RCMap = 32,
    HC_Structured = 33,
    HC_IndexingLevel = 34,
    HC_PrivateVisible = 35,
    HC_ArchiveType = 36,
    HC_WebAppURL = 37,
    HC_ArchiveAccessible = 38,
    HC_InfoMessageID = 39,
    HC_PersistedServerTree = 40,
    HC_FullSyncPointTargetForResume = 41,
    Keywords = 42,
    HC_SHMSPNextOperationSnum = 43,
    HC_SHMSPCreated = 44,
    HC_SHMSPMoved = 45,
    HC_SHMSPToArchiveSearchRootID = 46,
    HC_SHMSPToArchiveSearch = 47,
    HC_SHMSPMovedSearchRootID = 48,
    HC_SHMSPMovedSearch = 49,
    HC_SHMSPDeleteRecordRootID = 50,
    HC_UpdateItemRetentionCategories = 51,
    SH_LocalisedResources = 52,
    HC_ExistsInMBX = 53,
    AppointmentStartWhole = 54,
    AppointmentEndWhole = 55,
    FileUnder = 56,
    HC_FolderDeletable = 57,
    HC_ManagedFolder = 58,
    HC_SHMSPDeleted = 59,
    HV_AllowArchive = 60,
    HV_AllowReOrg = 61,
    HV_AllowHardDelete = 62,
    HV_AllowIntraStoreCopy = 63,
    HV_AllowInterStoreCopyMove = 64,
    HV_DenyMultiContentlessOpsAbove = 65,
    Location = 66,
    TaskDueDate = 67,
    TaskDateCompleted = 68,
    TaskStatus = 69,
    HC_ItemArchiveAttempts = 70,
    HV_MessageClassInclude = 71,
    HC_MaxMessageSizeToArchiveMB = 72,
    HC_MaxTotalToArchiveMB = 73,
    HC_SHMSPCouldNotArchiveSearchRootID = 74,
    HC_SHMSPCouldNotArchiveSearch = 75,
    HC_SHMSPToArchiveSearchMsgID = 76,
    HC_SHMSPCouldNotArchiveSearchMsgID = 77,
    HC_SHMSPPendingTruncationSearchRootID = 78,
    HC_SHMSPPendingTruncationSearch = 79,
    HV_MDCUniqueID = 80,
    HC_ServerVersion = 81,
    HV_RemainingItemUpdates = 82,
    HV_StubOnlyModuleList = 83,
    HV_ForceReadOnly = 84,
    HV_ReadingPaneContent = 85,
    HV_PrimaryArchive = 86,
    HV_FolderModifiedBySync = 87,
    HV_ToArchiveSize = 88,
    HC_InitialSyncComplete = 89,
    HV_AutoSyncItemThreshold = 90,
    HV_AutoSyncItemSizeThresholdMB = 91,
    HV_ToArchiveCount = 92,
    Recurring = 93,
    HC_MailboxState = 94,
};

class HEARTHKIT_API PSTNamedProperties {
public:
    using TagArray = AutoPtrWithFreePolicy<SPropTagArray, MAPIFreeBufferPolicy>;

    // Resolves every property on store (MAPI assigns ids to names the store
    // has not seen yet). Without a store every tag stays 0 (and a line is
    // logged).
    explicit PSTNamedProperties(IMsgStore* store);
    ~PSTNamedProperties();

    // The tag of one property; std::invalid_argument for a value outside
    // the enumeration.
    ULONG GetTag(NAMEDPROP prop) const;
    // Every tag, in enumerator order (95 entries).
    TagArray GetAllTags() const;
    // The tags in the product's own property set, in the order resolved.
    TagArray GetAllHVTags() const;

    // One string name's tag on store, without an object or cache. set null:
    // the product's own property set. A null store raises _com_error
    // E_POINTER.
    static ULONG GetTagByName(IMsgStore* store, const std::wstring& name, ULONG propType, GUID* set);

private:
    ULONG GetTag(IMsgStore* store, const std::wstring& name, ULONG propType, GUID* set);
    ULONG GetTag(IMsgStore* store, LONG id, ULONG propType, GUID* set);
    ULONG GetTagIDFromMAPIName(IMsgStore* store, MAPINAMEID* name, const std::wstring& key, ULONG propType);

    std::map<std::wstring, ULONG> m_cache; // by name text; numeric ids as lower-case hex
    std::vector<ULONG> m_tags;             // by enumerator
    std::vector<ULONG> m_hvTags;           // own set, in resolution order
};

} // namespace MDC
