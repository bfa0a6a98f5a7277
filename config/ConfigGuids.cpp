// The MAPI interface identifiers the configuration asks for, which mingw's
// libuuid lacks (selectany: other files may define them too).
#include <windows.h>
#include <initguid.h>
#define USES_IID_IMAPIFolder
#define USES_IID_IMessage
#define USES_IID_IMailUser
#define USES_IID_IAttachment
#include <mapiguid.h>
