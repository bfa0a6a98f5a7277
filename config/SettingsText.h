// The text of the desktop settings attachment and the map it becomes. Pure
// functions: no I/O, no MAPI, no log, so the parser is tested on its own.
#pragma once

#include <cstddef>
#include <map>
#include <string>

namespace hk {
namespace config {

// Upper-case key to value, ordered by ordinal comparison of the keys.
using SettingsMap = std::map<std::wstring, std::wstring>;

// Upper case as the settings keys use it: the invariant locale, so a key reads
// the same on every user's machine.
std::wstring ToUpperKey(const std::wstring& text);

// A setting's text read as a decimal integer: leading blanks and a sign
// allowed, stopping at the first other character, 0 without a number.
long SettingNumber(const wchar_t* text);

// True for the keys whose values are lists separated by ";" and never lose a
// comment (compared without regard to case).
bool IsSettingsListKey(const std::wstring& upperKey);

// Parses settings text (UTF-16 code units, already decoded) into settings.
// The map is not emptied first: a key the text names replaces its entry, the
// other entries stay. The text ends at its length or at the first U+0000,
// whichever comes first, as the attachment buffer is a terminated string.
void ParseSettingsText(const wchar_t* text, size_t length, SettingsMap& settings);

// Parses the bytes of the settings attachment: UTF-16 little-endian, a
// leading byte order mark skipped, a trailing odd byte ignored.
void ParseSettingsBytes(const void* data, size_t bytes, SettingsMap& settings);

} // namespace config
} // namespace hk
