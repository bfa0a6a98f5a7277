// CL10N: the product's user-visible texts and binary resources, read from the
// resource module "skyrend.dll". Lookups never fail: a missing module or
// string falls back to the module's generic failure text (string 376) and
// then to a built-in English text carrying the identifier. One object may be
// shared by the threads of a process; the module stays loaded for the rest
// of the process.
#pragma once

#include "HearthkitExport.h"
#include "HkLock.h"

#include <windows.h>
#include <objidl.h>
#include <string>

class HEARTHKIT_API CL10N {
public:
    CL10N();
    // As above, then Initialise(path).
    explicit CL10N(const wchar_t* path);
    ~CL10N();
    CL10N(const CL10N&) = delete;
    CL10N& operator=(const CL10N&) = delete;

    // Loads the module once: path; else, when path has a directory, that
    // directory's "skyrend.dll"; else "skyrend.dll" by the standard search.
    // Later calls change nothing, also when no module could be loaded.
    void Initialise(const wchar_t* path);
    bool HasBeenInitialised() const;

    // The string of identifier (at most 512 characters), or the fallbacks.
    std::wstring GetTranslatedMsg(UINT identifier) const;
    // The string of identifier formatted by the C runtime with insert for
    // its one string directive (%s, %ls, %S, %hs or %ws, with any flags,
    // width or precision: the insert is wide whatever the text names) and
    // "%%" giving "%". A string with any other directive, or two, comes back
    // as it stands, with a line in the log; a null insert counts as empty.
    std::wstring GetTranslatedMsg(UINT identifier, const wchar_t* insert) const;
    // Writes the bytes of resource (identifier, type) to destination at its
    // current position; with no module, no such resource, a null type or a
    // null stream it writes nothing.
    void GetBinaryResource(UINT identifier, const wchar_t* type, IStream* destination) const;

    static const UINT IDS_ERR_UNSPECIFIED = 376;

private:
    bool LoadLanguageLibrary(const wchar_t* path);

    mutable CHkCriticalSection m_csLock;
    HMODULE m_hModule;
    bool m_bInitialised;
};
