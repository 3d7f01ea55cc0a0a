// The character sets of RTF text: the single-byte code pages and the symbol fonts, each byte of
// text to its UTF-16 unit.
#pragma once

#include <cstdint>

namespace kv::rtf::detail {

// Symbol fonts (\fcharset2) draw their own glyphs for byte values; bullets of lists are written
// that way, so the common glyphs become their Unicode characters.
enum class Glyphs : std::uint8_t { Text, Symbol, Wingdings, OtherSymbol };

// 0: the document's code page (\ansicpg), which DEFAULT_CHARSET and unknown sets follow.
int CodePageOfCharset(int charset);
// A byte of text in a font of the given code page and glyphs.
char16_t DecodeByte(std::uint8_t b, int codePage, Glyphs glyphs);

}  // namespace kv::rtf::detail
