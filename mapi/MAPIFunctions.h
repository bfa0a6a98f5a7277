// The 36 process-wide slots of the MAPI functions and their binding table.
// The loader fills the slots once, while Hearthkit.dll loads; the forwarding
// functions read them without a lock (they never change after load).
#pragma once

#include <windows.h>

namespace hk {
namespace mapi {

// A resolved export, kept untyped until its forwarding function casts it.
using Proc = void (*)();

// Positions in the binding table. The order is the order of resolution and
// decides which missing name is reported first.
enum Function : ULONG {
    fnMAPIAllocateBuffer,
    fnMAPIAllocateMore,
    fnMAPIFreeBuffer,
    fnHrGetOneProp,
    fnFreeProws,
    fnPpropFindProp,
    fnScDupPropset,
    fnScCountProps,
    fnScCopyProps,
    fnOpenIMsgOnIStg,
    fnMAPIGetDefaultMalloc,
    fnCloseIMsgSession,
    fnOpenIMsgSession,
    fnHrQueryAllRows,
    fnHrSetOneProp,
    fnFreePadrlist,
    fnLPropCompareProp,
    fnWrapStoreEntryID,
    fnCreateIProp,
    fnCreateTable,
    fnHrValidateParameters,
    fnBuildDisplayTable,
    fnHrValidateIPMSubtree,
    fnHrDispatchNotifications,
    fnUlRelease,
    fnHexFromBin,
    fnMAPIInitialize,
    fnMAPIUninitialize,
    fnOpenTnefStreamEx,
    fnOpenStreamOnFile,
    fnMAPIOpenFormMgr,
    fnRTFSync,
    fnWrapCompressedRTFStream,
    fnMAPILogonEx,
    fnMAPIAdminProfiles,
    fnMAPIOpenLocalFormContainer,
    functionCount
};

// The exported names (8-bit, undecorated, as a 64-bit MAPI DLL exports
// them), indexed by Function.
extern const char* const functionNames[functionCount];

// The slots, indexed by Function; null until bound.
extern Proc slots[functionCount];

} // namespace mapi
} // namespace hk
