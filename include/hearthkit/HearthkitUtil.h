// HearthkitUtil: static helpers of the Stowhaven desktop, grouped by subject
// in the blocks below.
#pragma once

#include "HearthkitExport.h"
#include "HkCom.h"
#include "HkLock.h"
#include "AutoPtrWithFreePolicy.h"
#include "HkString.h"

#include <windows.h>
#include <mapix.h>
#include <string>
#include <vector>

struct IXMLDOMDocument;
struct IBackgroundCopyManager;
struct IBackgroundCopyJob;

// The kind of message store OpenStoreOfType looks for.
enum MessageStoreType : int {
    MessageStoreTypePrimaryMailbox = 0,  // the user's own Exchange mailbox (the default store)
    MessageStoreTypePublicFolders = 1,   // Exchange public folders
    MessageStoreTypeDelegateMailbox = 2, // another user's mailbox, archive mailboxes excluded
    MessageStoreTypePersonalFolders = 3, // a personal folders (PST) store
};

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
    // Writes a REG_DWORD, creating the key; errors are ignored. A null name
    // is the key's default value; a null subKey (the root key itself) is
    // refused with a line in the log, here and by the readers below.
    static void SetRegValue(HKEY root, const wchar_t* subKey, const wchar_t* name, DWORD value);
    // A string value of at most 127 characters in a new buffer the caller
    // frees with delete[]; null when absent, longer or unreadable.
    static wchar_t* GetRegValue(HKEY root, const wchar_t* subKey, const wchar_t* name);
    // A 32-bit value, or the default when nothing could be read.
    static DWORD GetRegValue(HKEY root, const wchar_t* subKey, const wchar_t* name, DWORD defaultValue);

    // ---- Mailbox stores and items (util/HearthkitUtilMailbox.cpp) -----------

    // The first store of the session of the given kind (any other value
    // acts as the primary mailbox), opened MAPI_BEST_ACCESS | MDB_NO_MAIL;
    // the caller owns the reference. Null argument: E_INVALIDARG; no such
    // store: E_FAIL.
    static HRESULT OpenStoreOfType(MessageStoreType type, IMAPISession* session, IMsgStore** store);
    // True for an item with "Archive ID" that is none of the product's
    // transient items (pending archive, shortcut delete and restore
    // requests).
    static bool IsArchivedItem(IMessage* message);
    // The folder's first associated message whose class begins with
    // "IPM.Stowhaven.Filter", opened through the store. Null out pointer:
    // E_INVALIDARG; none: MAPI_E_NOT_FOUND (*message null).
    static HRESULT GetFilterMessage(IMsgStore* store, IMAPIFolder* folder, IMessage** message);

    // ---- Time and identifier conversions -----------------------------------
    // (util/HearthkitUtilTime.cpp, util/HearthkitUtilHex.cpp)
    //
    // Times are signed 64-bit counts of 100 ns since 1 January 1601 UTC,
    // carried as integers or FILETIMEs. ISO 8601 text is
    // YYYY-MM-DDThh:mm:ss, optionally followed by "Z", always UTC. Binary
    // identifiers (entry IDs) are written as two upper-case hexadecimal
    // digits per byte; the parsers also accept lower-case digits. Everything
    // here is a pure function of its arguments except Now (and a null
    // pointer, which is refused with a line in the log).

    // The current UTC time with millisecond resolution.
    static __int64 Now();
    // Signed division by 10000, truncated toward zero; the low 32 bits of the
    // quotient (so -15000 gives 0xFFFFFFFF, and waits past 49.7 days wrap).
    static DWORD NS100ToMS(__int64 ns100);
    static __int64 MinsTo100NS(DWORD minutes);
    static FILETIME Int64ToFileTime(const __int64& value);
    static __int64 FileTimeToInt64(const FILETIME& time);

    // Reads YYYY-MM-DDThh:mm:ss[Z] ("T" in either case, "Z" upper-case only;
    // the hyphens are not examined) as UTC. E_FAIL for any other shape or an
    // invalid date; E_INVALIDARG for a null text or out pointer. *time is
    // written only on success.
    static HRESULT ConvertISO8601ToFileTime(const wchar_t* text, FILETIME* time);
    // Writes YYYY-MM-DDThh:mm:ss (no "Z") into *text as a BSTR that the caller
    // frees with SysFreeString. useEnglishLocale non-zero formats with en-US,
    // 0 with the system default locale. A zero FILETIME, or one that is no
    // valid date, returns S_OK and leaves *text untouched.
    static HRESULT ConvertFileTimeToISO8601(const FILETIME& time, BSTR* text, int useEnglishLocale);

    // At most the first 250 bytes (500 digits); a null lpb counts as empty.
    static CComBSTR EidToBstr(const SBinary& eid);
    // Like EidToBstr into a new wchar_t[501] that the caller frees with
    // delete[].
    static HRESULT EidToWchar(const SBinary& eid, wchar_t** text);
    // Converts pairs of digits into consecutive bytes of eid until the NUL,
    // a character that is no digit, or a pair without a second digit. The
    // buffer must hold wcslen(text) / 2 bytes. S_OK (E_INVALIDARG only for a
    // null pointer); the number of bytes is not reported.
    static HRESULT WcharToEid(wchar_t* text, BYTE* eid);
    // The same conversion into a buffer of capacity bytes, stopping when it
    // is full; *written (may be null) receives the number of bytes written.
    static HRESULT WcharToEid(const wchar_t* text, BYTE* eid, size_t capacity, size_t* written);
    // Writes the digits of bin into text[0 .. 2*cb) and NUL at text[2*cb],
    // leaving text's length as it is. limit is the size the caller gave the
    // string; E_INVALIDARG when limit < 2*cb + 1 (or the string is shorter
    // than 2*cb).
    static HRESULT HexStrToWchar(const SBinary& bin, std::wstring& text, const int& limit);
    // Fills bytes with the value of an even-length text of digits.
    // 0x80070057 for a null or odd-length text (bytes untouched) or for a
    // character that is no digit (bytes sized to half the text, holding the
    // bytes converted so far and zeros after them).
    static HRESULT HexStrToBinary(const wchar_t* text, std::vector<BYTE>& bytes);

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
    // Computed once for the process: threads that ask at once on first use
    // wait for the one that computes it, so the text is never written by two
    // at a time. A failed computation answers empty and is tried again on
    // the next call.
    static CStringW GetSHUserAgent();
    // This library's file version; outputs may be null and stay untouched
    // when the file has no version resource. The module's path it reads is
    // found once for the process.
    static HRESULT GetClientDLLVersion(int* pnMajor, int* pnMinor, int* pnBuild, int* pnRevision,
                                       long* plFlags);

    static HWND m_hwndOutlookWindow;
    static CHkCriticalSection m_critSectOutlookWindow;
    static HWND m_hwndHCSync;
};
