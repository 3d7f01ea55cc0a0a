// What each control word does: the document-wide ones here, the text formatting ones in
// TextWord; those of the font and colour tables are in FontTable.cpp and ColourTable.cpp.
#include <algorithm>

#include "formats/rtf/Parser.h"

namespace kv::rtf::detail {

void Parser::ControlWord(std::string_view word, bool hasParam, int param) {
  const auto& keywords = Keywords();
  const auto found = keywords.find(word);
  const bool known = found != keywords.end();
  // \bin data is skipped whatever the state: its bytes are not markup.
  if (known && found->second.keyword == Keyword::Bin) {
    const std::size_t length = hasParam && param > 0 ? static_cast<std::size_t>(param) : 0;
    pos_ += std::min(length, in_.size() - pos_);
  }
  if (ConsumesPendingSkip()) return;
  GroupState& state = Top();
  if (!known || state.destination == Destination::Skip) return;
  const KeywordInfo& info = found->second;
  switch (info.keyword) {
    case Keyword::Bin:
      return;
    case Keyword::Unicode:
      if (hasParam) {
        EmitUnicode(static_cast<char16_t>(param < 0 ? param + 65536 : param));
        pendingSkip_ = state.unicodeSkip;
      }
      return;
    case Keyword::UnicodeSkip:
      state.unicodeSkip = std::clamp(param, 0, kMaxUnicodeSkip);
      return;
    case Keyword::Ansi:
      codePage_ = 1252;
      return;
    case Keyword::AnsiCodePage:
      if (param > 0) codePage_ = param;
      return;
    case Keyword::Mac:
      codePage_ = 10000;
      return;
    case Keyword::Pc:
      codePage_ = 437;
      return;
    case Keyword::Pca:
      codePage_ = 850;
      return;
    case Keyword::DefaultFont:
      defaultFont_ = param;
      return;
    case Keyword::FontTable:
      state.destination = Destination::FontTable;
      pendingFont_ = PendingFont{};
      return;
    case Keyword::ColourTable:
      state.destination = Destination::ColourTable;
      ResetColour();
      return;
    case Keyword::SkippedDestination:
      state.destination = Destination::Skip;
      return;
    case Keyword::Character:
      Emit(info.character);
      return;
    default:
      break;
  }
  if (state.destination == Destination::FontTable) {
    FontTableWord(info.keyword, param);
  } else if (state.destination == Destination::ColourTable) {
    ColourTableWord(info.keyword, param);
  } else {
    TextWord(state, info.keyword, hasParam, param);
  }
}

void Parser::TextWord(GroupState& state, Keyword keyword, bool hasParam, int param) {
  CharState& chars = state.chars;
  ParaState& para = state.para;
  // A toggle without parameter turns the property on; \b0 turns it off.
  const bool on = !hasParam || param != 0;
  switch (keyword) {
    case Keyword::Par:
      EndParagraph();
      break;
    case Keyword::Pard:
      para = ParaState{};
      break;
    case Keyword::Plain:
      chars = CharState{};
      break;
    case Keyword::Line:
      AppendUnit(u'\n');
      break;
    case Keyword::Tab:
      AppendUnit(u'\t');
      break;
    // Table cells read as tab-separated text, one paragraph per row.
    case Keyword::Cell:
      cellPending_ = true;
      break;
    case Keyword::Row:
      EndParagraph();
      break;
    // A page or section break starts a new line only when the current one holds text.
    case Keyword::PageBreak:
      if (!paragraph_.runs.empty() || !runText_.empty()) EndParagraph();
      break;
    case Keyword::Bold:
      chars.bold = on;
      break;
    case Keyword::Italic:
      chars.italic = on;
      break;
    case Keyword::Underline:
      chars.underline = on;
      break;
    case Keyword::UnderlineNone:
      chars.underline = false;
      break;
    case Keyword::Hidden:
      chars.hidden = on;
      break;
    case Keyword::FontSize:
      chars.fontSize = hasParam && param > 0 ? std::min(param, kMaxFontSize) : 24;
      break;
    case Keyword::Font:
      if (hasParam) chars.font = param;
      break;
    case Keyword::Colour:
      chars.colour = hasParam ? param : 0;
      break;
    case Keyword::AlignLeft:
      para.alignment = Alignment::Left;
      break;
    case Keyword::AlignRight:
      para.alignment = Alignment::Right;
      break;
    case Keyword::AlignCentre:
      para.alignment = Alignment::Centre;
      break;
    case Keyword::AlignJustify:
      para.alignment = Alignment::Justify;
      break;
    case Keyword::FirstIndent:
      para.firstIndent = param;
      break;
    case Keyword::LeftIndent:
      para.leftIndent = param;
      break;
    case Keyword::RightIndent:
      para.rightIndent = param;
      break;
    default:
      break;
  }
}

}  // namespace kv::rtf::detail
