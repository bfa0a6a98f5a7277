#include "CL10N.h"

#include "CDesktopLog.h"

#include <cwchar>

namespace {

const wchar_t kDefaultModule[] = L"skyrend.dll";
const int kMaxStringChars = 512;
// Resource identifiers are 16-bit: LoadStringW would silently use the low
// word of a larger one and MAKEINTRESOURCEW would turn it into a name pointer.
const UINT kMaxResourceId = 0xFFFF;

// The translated texts carry at most one "%s". The insert takes its place
// and "%%" becomes "%", as the C runtime's formatter would do; anything else
// is copied as it stands, so a text with other or more directives can never
// make the formatter read arguments that were not passed.
std::wstring FormatWithInsert(const std::wstring& format, const wchar_t* insert) {
    std::wstring out;
    out.reserve(format.size() + (insert ? std::wcslen(insert) : 0));
    bool inserted = false;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == L'%' && i + 1 < format.size()) {
            if (format[i + 1] == L'%') {
                out += L'%';
                ++i;
                continue;
            }
            if (format[i + 1] == L's' && !inserted) {
                out += insert ? insert : L"";
                inserted = true;
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

} // namespace

// Creating a critical section cannot fail on the systems this library runs
// on (they allocate its debug information on demand), so there is no
// out-of-memory path to report here.
CL10N::CL10N() : m_hModule(nullptr), m_bInitialised(false) {}

CL10N::CL10N(const wchar_t* path) : CL10N() {
    Initialise(path);
}

// The module stays loaded: callers may still hold texts and resources of it.
CL10N::~CL10N() = default;

bool CL10N::HasBeenInitialised() const {
    return m_bInitialised;
}

bool CL10N::LoadLanguageLibrary(const wchar_t* path) {
    CDesktopLog log("CL10N::LoadLanguageLibrary");
    m_hModule = ::LoadLibraryW(path);
    log.LogText(LOG_DETAIL,
                m_hModule ? "Successfully loaded resource module '%s'\n"
                          : "Failed to load resource module '%s'\n",
                path);
    return m_hModule != nullptr;
}

void CL10N::Initialise(const wchar_t* path) {
    CDesktopLog log("CL10N::Initialise");
    if (m_bInitialised) {
        return;
    }
    CHkCritSecLock lock(m_csLock);
    if (m_bInitialised) {
        return;
    }
    if (path == nullptr || *path == 0) {
        log.LogText(LOG_DETAIL, "No DLL specified.\n");
    } else if (!LoadLanguageLibrary(path)) {
        const wchar_t* lastSlash = std::wcsrchr(path, L'\\');
        if (lastSlash != nullptr) {
            std::wstring sibling(path, static_cast<size_t>(lastSlash - path) + 1);
            sibling += kDefaultModule;
            LoadLanguageLibrary(sibling.c_str());
        }
    }
    if (m_hModule == nullptr) {
        LoadLanguageLibrary(kDefaultModule);
    }
    m_bInitialised = true;
}

std::wstring CL10N::GetTranslatedMsg(UINT identifier) const {
    CDesktopLog log("CL10N::GetTranslatedMsg");
    CHkCritSecLock lock(m_csLock);
    wchar_t buffer[kMaxStringChars + 1] = {};
    if (m_hModule != nullptr &&
        (identifier > kMaxResourceId || ::LoadStringW(m_hModule, identifier, buffer, kMaxStringChars) <= 0)) {
        log.LogInt(LOG_DETAIL, "String ID %u could not be loaded from localised resources.\n",
                   static_cast<int>(identifier));
        if (::LoadStringW(m_hModule, IDS_ERR_UNSPECIFIED, buffer, kMaxStringChars) <= 0) {
            log.LogText(LOG_DETAIL,
                        "String 'IDS_ERR_UNSPECIFIED' could not be loaded from localised resources.\n");
        }
    }
    if (buffer[0] == 0) {
        log.LogInt(LOG_DETAIL,
                   "String ID %u could not be loaded, as localised resources are not available.\n",
                   static_cast<int>(identifier));
        _snwprintf(buffer, kMaxStringChars, L"The Stowhaven operation could not be completed : [%u]",
                   identifier);
    }
    return buffer;
}

std::wstring CL10N::GetTranslatedMsg(UINT identifier, const wchar_t* insert) const {
    CDesktopLog log("CL10N::GetTranslatedMsg");
    return FormatWithInsert(GetTranslatedMsg(identifier), insert);
}

void CL10N::GetBinaryResource(UINT identifier, const wchar_t* type, IStream* destination) const {
    CDesktopLog log("CL10N::GetBinaryResource");
    if (destination == nullptr || type == nullptr || identifier > kMaxResourceId) {
        return;
    }
    CHkCritSecLock lock(m_csLock);
    if (m_hModule == nullptr) {
        return;
    }
    // Resources of a loaded module live as long as the module: nothing to free.
    HRSRC found = ::FindResourceW(m_hModule, MAKEINTRESOURCEW(identifier), type);
    if (found == nullptr) {
        return;
    }
    const DWORD size = ::SizeofResource(m_hModule, found);
    HGLOBAL loaded = ::LoadResource(m_hModule, found);
    if (loaded == nullptr) {
        return;
    }
    ULONG written = 0;
    destination->Write(::LockResource(loaded), size, &written);
}
