// The desktop settings text: CR LF separated lines of "key=value", with
// comments, booleans, list values and one multi-line message.
#include "config/SettingsText.h"

#include <windows.h>
#include <cwchar>
#include <cstdint>
#include <cwctype>
#include <string_view>
#include <vector>

namespace hk {
namespace config {

namespace {

const wchar_t kCustomLoginMessage[] = L"CUSTOMLOGINMESSAGE";

const wchar_t* const kListKeys[] = {
    L"ADDSERVERTOINTRANETZONE", L"REMOVESERVERFROMINTRANETZONE", L"SHSERVERS",
    L"HLMESSAGECLASSINCLUDE",   L"HLMESSAGECLASSEXCLUDE",        L"HLROOTDIRECTORYSEARCHPATH",
};

bool IsWhite(wchar_t c) {
    return std::iswspace(c) != 0;
}

size_t SkipWhite(const std::wstring& text, size_t from) {
    while (from < text.size() && IsWhite(text[from])) {
        ++from;
    }
    return from;
}

std::wstring Trimmed(const std::wstring& text) {
    size_t first = SkipWhite(text, 0);
    size_t last = text.size();
    while (last > first && IsWhite(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

// Booleans are recognised on the value exactly as it follows "=": a blank
// before TRUE keeps the text.
bool BooleanValue(const std::wstring& raw, std::wstring& value) {
    if (raw.size() != 4 && raw.size() != 5) {
        return false;
    }
    std::wstring upper = ToUpperKey(raw);
    if (upper == L"TRUE") {
        value = L"1";
        return true;
    }
    if (upper == L"FALSE") {
        value = L"0";
        return true;
    }
    return false;
}

// One "key=value" line; false for a line that carries no setting.
bool ParseLine(const std::wstring& line, std::wstring& key, std::wstring& value) {
    size_t start = SkipWhite(line, 0);
    if (start == line.size() || line[start] == L';' || line[start] == L'=') {
        return false;
    }
    size_t equals = line.find(L'=', start);
    if (equals == std::wstring::npos) {
        return false;
    }
    key = ToUpperKey(Trimmed(line.substr(start, equals - start)));
    std::wstring raw = line.substr(equals + 1);
    if (BooleanValue(raw, value)) {
        return true;
    }
    if (!IsSettingsListKey(key)) {
        // A ";" that opens the value is part of it; a later one starts a comment.
        size_t comment = raw.find(L';', 1);
        if (comment != std::wstring::npos) {
            raw.erase(comment);
        }
    }
    value = Trimmed(raw);
    return true;
}

} // namespace

std::wstring ToUpperKey(const std::wstring& text) {
    if (text.empty()) {
        return text;
    }
    std::wstring upper(text);
    int chars = ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text.data(), static_cast<int>(text.size()),
                               &upper[0], static_cast<int>(upper.size()));
    if (chars != static_cast<int>(text.size())) {
        // Upper casing keeps the length for every UTF-16 unit; fall back to
        // the C runtime should the system answer otherwise.
        upper = text;
        for (wchar_t& c : upper) {
            c = static_cast<wchar_t>(std::towupper(c));
        }
    }
    return upper;
}

long SettingNumber(const wchar_t* text) {
    return text != nullptr ? std::wcstol(text, nullptr, 10) : 0;
}

bool IsSettingsListKey(const std::wstring& upperKey) {
    for (const wchar_t* listKey : kListKeys) {
        if (upperKey == listKey) {
            return true;
        }
    }
    return false;
}

void ParseSettingsText(const wchar_t* text, size_t length, SettingsMap& settings) {
    if (text == nullptr) {
        return;
    }
    // A view: the attachment's text is not copied again.
    std::wstring_view all(text, length);
    all = all.substr(0, all.find(L'\0'));

    // The multi-line message collects its lines here until a line with "="
    // ends it; it is trimmed and stored once, so blank lines inside it stay.
    bool inMessage = false;
    std::wstring message;
    auto endMessage = [&] {
        if (inMessage) {
            settings[kCustomLoginMessage] = Trimmed(message);
            inMessage = false;
        }
    };

    size_t pos = 0;
    while (pos <= all.size()) {
        size_t crlf = all.find(L"\r\n", pos);
        size_t lineEnd = crlf == std::wstring_view::npos ? all.size() : crlf;
        std::wstring line(all.substr(pos, lineEnd - pos));
        pos = crlf == std::wstring_view::npos ? all.size() + 1 : crlf + 2;

        if (inMessage && line.find(L'=') == std::wstring::npos) {
            message += L"\r\n";
            message += line;
            continue;
        }
        endMessage();

        std::wstring key, value;
        if (!ParseLine(line, key, value)) {
            continue;
        }
        if (key == kCustomLoginMessage) {
            inMessage = true;
            message = value;
            continue;
        }
        settings[key] = value;
    }
    endMessage();
}

void ParseSettingsBytes(const void* data, size_t bytes, SettingsMap& settings) {
    if (data == nullptr) {
        return;
    }
    // Read in place when aligned for 16-bit units (a buffer from the heap
    // is); copied otherwise.
    const size_t count = bytes / sizeof(wchar_t);
    std::vector<wchar_t> copy;
    const wchar_t* units = static_cast<const wchar_t*>(data);
    if (reinterpret_cast<uintptr_t>(data) % alignof(wchar_t) != 0) {
        copy.resize(count);
        ::CopyMemory(copy.data(), data, count * sizeof(wchar_t));
        units = copy.data();
    }
    size_t first = count > 0 && units[0] == 0xFEFF ? 1 : 0;
    ParseSettingsText(units + first, count - first, settings);
}

} // namespace config
} // namespace hk
