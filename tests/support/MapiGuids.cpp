// The MAPI interface identifiers the tests pass, which mingw's libuuid lacks.
#include <windows.h>
#include <initguid.h>
#define USES_IID_IMAPIFolder
#define USES_IID_IMessage
#define USES_IID_IMailUser
#include <mapiguid.h>
