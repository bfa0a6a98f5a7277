// HearthkitUtil: static helpers of the Stowhaven desktop, grouped by subject
// in the blocks below.
#pragma once

#include "HearthkitExport.h"
#include "HkLock.h"

#include <windows.h>

class HEARTHKIT_API HearthkitUtil {
public:
    // ---- Outlook host: windows, version, registry ---------------------------

    // Outlook's main window: the first top-level window whose title contains
    // "Microsoft Outlook" after its first character and whose class is
    // "rctrl_renwnd32". Cached; a handle that is no longer a window is
    // replaced by a new search. Null when there is none.
    static HWND GetOutlookWindowHandle();
    static HWND GetHCSyncWindowHandle();
    static void SetHCSyncWindowHandle(HWND hwnd);
    // The parent for a login dialog: the synchroniser's window (restored when
    // minimised) when one is set, otherwise Outlook's main window.
    static HWND GetHCLoginWindowHandle();
    // The major version from HKCR "Outlook.Application\CurVer"; 0 if unknown.
    // A positive answer is kept for the life of the process.
    static int GetOutlookMajorVersion();
    // Writes a REG_DWORD, creating the key; errors are ignored.
    static void SetRegValue(HKEY root, const wchar_t* subKey, const wchar_t* name, DWORD value);
    // A string value of at most 127 characters in a new buffer the caller
    // frees with delete[]; null when absent, longer or unreadable.
    static wchar_t* GetRegValue(HKEY root, const wchar_t* subKey, const wchar_t* name);
    // A 32-bit value, or the default when nothing could be read.
    static DWORD GetRegValue(HKEY root, const wchar_t* subKey, const wchar_t* name, DWORD defaultValue);

    static HWND m_hwndOutlookWindow;
    static CHkCriticalSection m_critSectOutlookWindow;
    static HWND m_hwndHCSync;
};
