// Text conversions at the edges of the core (UTF-16, code page 1252) and the case rules of
// Windows names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::text {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
// Little-endian UTF-16 bytes (no byte-order mark, no terminating null).
std::string Utf16LeBytesToUtf8(const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> Utf8ToUtf16LeBytes(std::string_view utf8);

// The bytes as they are where they are well-formed UTF-8; each malformed sequence (a stray or
// missing continuation byte, an overlong form, a surrogate, a code point past U+10FFFF) becomes
// U+FFFD, as Windows decodes UTF-8.
std::string ToValidUtf8(std::string_view bytes);
std::string Cp1252ToUtf8(std::string_view bytes);
// Characters without a code-page 1252 form become '?'.
std::string Utf8ToCp1252(std::string_view utf8);
// ISO 8859-1, the character set of the databases.
std::string Latin1ToUtf8(std::string_view bytes);
std::string Utf8ToLatin1(std::string_view utf8);
// The same without substitution: nullopt when a character has no ISO 8859-1 form.
std::optional<std::string> Utf8ToLatin1Exact(std::string_view utf8);

// Case folding as Windows compares file and key names: ASCII and the Latin-1 letters.
std::string ToUpper(std::string_view utf8);
std::string ToLower(std::string_view utf8);
bool IEquals(std::string_view a, std::string_view b);
bool IStartsWith(std::string_view text, std::string_view prefix);

std::string Trim(std::string_view s);
std::vector<std::string> Split(std::string_view s, char separator);

}  // namespace kv::text
