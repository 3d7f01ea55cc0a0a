// The control words the RTF reader knows, and what each is to it.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>

namespace kv::rtf::detail {

enum class Keyword : std::uint8_t {
  // Any destination but a skipped one.
  Bin,
  Unicode,
  UnicodeSkip,
  Ansi,
  AnsiCodePage,
  Mac,
  Pc,
  Pca,
  DefaultFont,
  FontTable,
  ColourTable,
  SkippedDestination,
  // Font table.
  Font,
  Charset,
  FontCodePage,
  // Colour table.
  Red,
  Green,
  Blue,
  // Text.
  Par,
  Pard,
  Plain,
  Line,
  Tab,
  Cell,
  Row,
  PageBreak,
  Bold,
  Italic,
  Underline,
  UnderlineNone,
  Hidden,
  FontSize,
  Colour,
  AlignLeft,
  AlignRight,
  AlignCentre,
  AlignJustify,
  FirstIndent,
  LeftIndent,
  RightIndent,
  Character,
};

struct KeywordInfo {
  Keyword keyword;
  char16_t character = 0;  // for Keyword::Character
};

// The table of control words, made on first use.
const std::unordered_map<std::string_view, KeywordInfo>& Keywords();

}  // namespace kv::rtf::detail
