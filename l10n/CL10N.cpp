#include "CL10N.h"

#include "CDesktopLog.h"
#include "HkResult.h"

#include <cwchar>

namespace {

const wchar_t kDefaultModule[] = L"skyrend.dll";
const int kMaxStringChars = 512;
// Resource identifiers are 16-bit: LoadStringW would silently use the low
// word of a larger one and MAKEINTRESOURCEW would turn it into a name pointer.
const UINT kMaxResourceId = 0xFFFF;

// A translated text is a format for the C runtime's formatter with at most
// one string directive, however the translator wrote it: %s, %ls, %S, %hs,
// %ws, with flags, a width or a precision (%-20s, %.8s). The directive is
// rewritten as %ls (flags, width and precision kept), so the wide insert is
// read as wide whatever size the text named. Answers false for a text that
// holds any other directive, a second string directive, a '*' (it would read
// an argument that is not passed) or a width or precision over three digits.
bool InsertFormat(const std::wstring& text, std::wstring& format) {
    const size_t size = text.size();
    // Skips the digits at j; answers whether there were at most three.
    auto digits = [&](size_t& j) {
        size_t first = j;
        while (j < size && text[j] >= L'0' && text[j] <= L'9') {
            ++j;
        }
        return j - first <= 3;
    };
    format.clear();
    bool inserted = false;
    for (size_t i = 0; i < size; ++i) {
        format += text[i];
        if (text[i] != L'%') {
            continue;
        }
        if (i + 1 < size && text[i + 1] == L'%') {
            format += text[++i];
            continue;
        }
        size_t j = i + 1;
        while (j < size && text[j] != L'\0' && std::wcschr(L"-+ #0", text[j]) != nullptr) {
            ++j;
        }
        bool sane = digits(j);
        if (j < size && text[j] == L'.') {
            sane = digits(++j) && sane;
        }
        format.append(text, i + 1, j - i - 1); // flags, width, precision
        if (j < size && (text[j] == L'l' || text[j] == L'h' || text[j] == L'w')) {
            ++j;
        }
        if (!sane || inserted || j >= size || (text[j] != L's' && text[j] != L'S')) {
            return false;
        }
        format += L"ls";
        inserted = true;
        i = j;
    }
    return true;
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
    std::wstring text = GetTranslatedMsg(identifier);
    std::wstring format;
    if (!InsertFormat(text, format)) {
        log.LogTextInt(LOG_ERROR, "String '%s' (ID %d) cannot take an insert.\n", text.c_str(),
                       static_cast<int>(identifier));
        return text;
    }
    if (insert == nullptr) {
        insert = L"";
    }
    int length = _scwprintf(format.c_str(), insert);
    if (length < 0) {
        return text;
    }
    std::wstring result(static_cast<size_t>(length) + 1, L'\0');
    _snwprintf(&result[0], result.size(), format.c_str(), insert);
    result.resize(static_cast<size_t>(length));
    return result;
}

void CL10N::GetBinaryResource(UINT identifier, const wchar_t* type, IStream* destination) const {
    CDesktopLog log("CL10N::GetBinaryResource");
    if (destination == nullptr || type == nullptr) {
        HkNullArgument(log, "type or destination");
        return;
    }
    if (identifier > kMaxResourceId) {
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
