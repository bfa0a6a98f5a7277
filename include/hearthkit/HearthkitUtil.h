// HearthkitUtil: static helpers of the Stowhaven desktop, grouped by subject
// in the blocks below.
#pragma once

#include "HearthkitExport.h"
#include "HkLock.h"
#include "HkCom.h"
#include "AutoPtrWithFreePolicy.h"

#include <windows.h>

struct IXMLDOMDocument;
struct IBackgroundCopyManager;
struct IBackgroundCopyJob;

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

    // ---- XML documents and background transfers ----------------------------

    // An MSXML DOM document: version 3.0 (*pbVersion3 set; with setXPath its
    // selection language is XPath), else the earlier edition (*pbVersion3
    // cleared, never XPath). REGDB_E_CLASSNOTREG when neither can be made.
    // pbVersion3 may be null.
    static HRESULT GetXMLDOMDocumentObj(CComPtr<IXMLDOMDocument>& doc, bool setXPath, bool* pbVersion3);
    // Parses length bytes (trailing zero bytes ignored) without copying them;
    // the parser detects the encoding. False, with the parser's reason
    // logged, when the document does not load.
    static bool LoadBufferIntoXMLDOM(IXMLDOMDocument* doc, const char* buffer, unsigned long length);
    // The BITS 2.0 copy manager (local server); version is set to 2.0.
    static HRESULT GetBITSManager(CComPtr<IBackgroundCopyManager>& manager, double& version);
    // The local and remote names of a job with exactly one file; for any
    // other number of files S_OK with both owners left as they are.
    static HRESULT GetBITSJobFileDetails(IBackgroundCopyJob* job, CoTaskMemString& localName,
                                         CoTaskMemString& remoteName);

    static HWND m_hwndOutlookWindow;
    static CHkCriticalSection m_critSectOutlookWindow;
    static HWND m_hwndHCSync;
};
