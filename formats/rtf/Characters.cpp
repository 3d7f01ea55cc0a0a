// Characters of text: a byte decoded in the code page of its font, a \u unit, a symbol.
#include <cstdint>

#include "formats/rtf/Parser.h"

namespace kv::rtf::detail {

// A byte of text, in the code page of the font it is written in.
void Parser::EscapedByte(std::uint8_t b) {
  const GroupState& state = Top();
  if (state.destination == Destination::FontTable) {
    if (b < 0x20) return;
    const int codePage =
        pendingFont_.codePage > 0 ? pendingFont_.codePage : CodePageOfCharset(pendingFont_.charset);
    AppendFontName(DecodeByte(b, codePage == 0 ? codePage_ : codePage, Glyphs::Text));
  } else if (state.destination == Destination::Text) {
    const FontEntry* font = CurrentFont();
    const int codePage = font != nullptr && font->codePage != 0 ? font->codePage : codePage_;
    EmitFiltered(DecodeByte(b, codePage, font != nullptr ? font->glyphs : Glyphs::Text));
  }
}

void Parser::EmitUnicode(char16_t unit) {
  // Word writes the characters of symbol fonts in the private-use page F0xx; they read as the
  // byte of the same value in that font.
  const FontEntry* font = CurrentFont();
  if (Top().destination == Destination::Text && font != nullptr && font->glyphs != Glyphs::Text &&
      unit >= 0xF020 && unit <= 0xF0FF) {
    EscapedByte(static_cast<std::uint8_t>(unit & 0xFF));
    return;
  }
  EmitFiltered(unit);
}

// Control characters other than the tab are not text in any writer's output.
void Parser::EmitFiltered(char16_t unit) {
  if (unit < 0x20 && unit != u'\t') return;
  Emit(unit);
}

void Parser::Emit(char16_t unit) {
  switch (Top().destination) {
    case Destination::Text:
      AppendUnit(unit);
      break;
    case Destination::FontTable:
      AppendFontName(unit);
      break;
    default:
      break;
  }
}

}  // namespace kv::rtf::detail
