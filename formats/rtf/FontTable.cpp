// The font table (\fonttbl): entries with their character set, code page and symbol glyphs, and
// the font of the text.
#include <utility>

#include "formats/Text.h"
#include "formats/rtf/Parser.h"

namespace kv::rtf::detail {

void Parser::FontTableWord(Keyword keyword, int param) {
  switch (keyword) {
    case Keyword::Font:
      CommitFont();
      pendingFont_.number = param;
      break;
    case Keyword::Charset:
      pendingFont_.charset = param;
      break;
    case Keyword::FontCodePage:
      pendingFont_.codePage = param;
      break;
    default:
      break;
  }
}

void Parser::AppendFontName(char16_t unit) {
  if (pendingFont_.number >= 0) pendingFont_.name += unit;
}

void Parser::CommitFont() {
  if (pendingFont_.number < 0) return;
  FontEntry entry;
  entry.name = text::Trim(text::Utf16ToUtf8(pendingFont_.name));
  entry.codePage =
      pendingFont_.codePage > 0 ? pendingFont_.codePage : CodePageOfCharset(pendingFont_.charset);
  if (pendingFont_.charset == 2) {
    if (text::IEquals(entry.name, "Symbol")) {
      entry.glyphs = Glyphs::Symbol;
    } else if (text::IEquals(entry.name, "Wingdings")) {
      entry.glyphs = Glyphs::Wingdings;
    } else {
      entry.glyphs = Glyphs::OtherSymbol;
    }
  }
  fonts_[pendingFont_.number] = std::move(entry);
  pendingFont_ = PendingFont{};
}

const FontEntry* Parser::FontOf(const CharState& chars) const {
  const auto found = fonts_.find(chars.font >= 0 ? chars.font : defaultFont_);
  return found == fonts_.end() ? nullptr : &found->second;
}

}  // namespace kv::rtf::detail
