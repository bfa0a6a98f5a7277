// JSON text for the tool's output: string escaping and a small writer of one
// object's members. Pure: no I/O.
#pragma once

#include <string>
#include <string_view>

namespace hkdiag {

// text as a JSON string literal, quotes included. Quotes, backslashes and
// control characters are escaped; valid UTF-8 passes through unchanged; a
// byte that does not start a valid UTF-8 sequence becomes U+FFFD (the log
// may hold a record cut inside a character).
std::string JsonString(std::string_view text);

// Builds {"a":..,"b":..} member by member.
class JsonObject {
public:
    JsonObject& Text(std::string_view name, std::string_view value);
    JsonObject& Number(std::string_view name, long long value);
    JsonObject& Bool(std::string_view name, bool value);
    // value must already be JSON text (an object, an array, a literal).
    JsonObject& Raw(std::string_view name, std::string_view value);
    // members: '"a":1,"b":2', already JSON text.
    JsonObject& Members(std::string_view members);
    // The members so far, without the braces.
    std::string Inner() const { return m_text.substr(1); }
    std::string Done() const { return m_text + "}"; }

private:
    std::string m_text = "{";
};

} // namespace hkdiag
