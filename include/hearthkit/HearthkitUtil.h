// HearthkitUtil: static helpers of the Stowhaven desktop, grouped by subject
// in the blocks below.
#pragma once

#include "HearthkitExport.h"
#include "HkLock.h"
#include "HkString.h"

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

    // ---- URLs, connectivity and authentication probes ------------------------

    // Appends param after "&" (URL with "?") or "?x=shoutlookext&"; nothing
    // is encoded; an empty param changes nothing.
    static void AddParameterToURL(CStringW& url, const CStringW& param);
    static void AddParameterToURLA(CStringA& url, const CStringA& param);
    // "shhost=" + scheme prefix of the application URL + host of the host URL
    // + path of the application URL.
    static CStringW GetRPCSHHostURLParam(const CStringW& hostUrl, const CStringW& appUrl);
    // Whether the archive web server answers: a "/clienttest.gif" URL must
    // return the 43-byte image/gif test image; a 401 counts as connected
    // unless the login dialog is asked for.
    static bool HasInternetConnection(const wchar_t* url, DWORD* pdwConnectionFlags, const wchar_t* headers,
                                      bool bShowLoginDialog);
    // Whether the server's first challenge for url is Basic.
    static bool IsUsingBasicAuthentication(const wchar_t* url);
    // INTERNET_OPEN_TYPE_DIRECT when "INTERNETOPENTYPEDIRECT" is non-zero,
    // else INTERNET_OPEN_TYPE_PRECONFIG.
    static DWORD GetInternetOpenType();
    // "StowhavenOutlookExt-V%d.%d.%d.%d" from this library's file version.
    static CStringW GetSHUserAgent();
    // This library's file version; outputs may be null and stay untouched
    // when the file has no version resource.
    static HRESULT GetClientDLLVersion(int* pnMajor, int* pnMinor, int* pnBuild, int* pnRevision,
                                       long* plFlags);

    static HWND m_hwndOutlookWindow;
    static CHkCriticalSection m_critSectOutlookWindow;
    static HWND m_hwndHCSync;
};
