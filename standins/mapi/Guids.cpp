// Defines the MAPI interface identifiers the stand-in uses, which mingw's
// libuuid lacks.
#include <windows.h>
#include <initguid.h>
#define USES_IID_IMAPISession
#define USES_IID_IMAPITable
#define USES_IID_IMAPIProp
#define USES_IID_IProfSect
#define USES_IID_IProfAdmin
#define USES_IID_IMsgServiceAdmin
#define USES_IID_IProviderAdmin
#define USES_IID_IMsgStore
#define USES_IID_IMAPIFolder
#define USES_IID_IMAPIContainer
#define USES_IID_IMessage
#define USES_IID_IAttachment
#define USES_IID_IMailUser
#include <mapiguid.h>
