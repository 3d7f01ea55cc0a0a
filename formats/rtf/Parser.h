// The RTF reader's parser: one pass over the input with an explicit group stack. Every step
// consumes at least one byte, so any input ends, and nothing recurses. Its operations are defined
// in the files of formats/rtf/ named in the comments below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/RtfReader.h"
#include "formats/rtf/CodePages.h"
#include "formats/rtf/Keywords.h"

namespace kv::rtf::detail {

enum class Destination : std::uint8_t { Text, Skip, FontTable, ColourTable };

struct CharState {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool hidden = false;
  int fontSize = 24;
  int font = -1;    // -1: the document's default font (\deff)
  int colour = -1;  // index into the colour table; -1: automatic
  bool operator==(const CharState&) const = default;
};

struct ParaState {
  Alignment alignment = Alignment::Left;
  int firstIndent = 0;
  int leftIndent = 0;
  int rightIndent = 0;
};

// What a group saves on '{' and restores on '}'.
struct GroupState {
  Destination destination = Destination::Text;
  CharState chars;
  ParaState para;
  int unicodeSkip = 1;
};

struct FontEntry {
  std::string name;
  int codePage = 0;  // 0: the document's
  Glyphs glyphs = Glyphs::Text;
};

// The entry of the font table being read.
struct PendingFont {
  int number = -1;  // -1: no entry open, text is ignored
  int charset = -1;
  int codePage = 0;
  std::u16string name;
};

// Word nests a dozen levels at most; deeper groups are damage and share the deepest state, so
// memory stays bounded whatever the input.
constexpr std::size_t kMaxDepth = 512;
constexpr int kMaxFontSize = 3276;  // 1638 pt, the largest size Word accepts
constexpr int kMaxUnicodeSkip = 255;
constexpr std::size_t kMaxWordLength = 32;

class Parser {
 public:
  explicit Parser(std::string_view input) : in_(input) {}
  Document Parse();

 private:
  GroupState& Top() { return stack_.back(); }
  const FontEntry* CurrentFont() { return FontOf(Top().chars); }

  // Parser.cpp
  void SkipPreamble();
  void OpenGroup();
  void CloseGroup();
  void ControlSequence();
  void ControlSymbol(char c);
  bool ConsumesPendingSkip();
  void PlainCharacter(std::uint8_t b);

  // ControlWords.cpp
  void ControlWord(std::string_view word, bool hasParam, int param);
  void TextWord(GroupState& state, Keyword keyword, bool hasParam, int param);

  // FontTable.cpp
  void FontTableWord(Keyword keyword, int param);
  void AppendFontName(char16_t unit);
  void CommitFont();
  const FontEntry* FontOf(const CharState& chars) const;

  // ColourTable.cpp
  void ColourTableWord(Keyword keyword, int param);
  void CommitColour();
  void ResetColour();

  // Characters.cpp
  void EscapedByte(std::uint8_t b);
  void EmitUnicode(char16_t unit);
  void EmitFiltered(char16_t unit);
  void Emit(char16_t unit);

  // Paragraphs.cpp
  void AppendUnit(char16_t unit);
  void FlushRun();
  void EndParagraph();

  std::string_view in_;
  std::size_t pos_ = 0;
  bool finished_ = false;
  std::vector<GroupState> stack_;
  std::size_t overflow_ = 0;  // groups opened beyond kMaxDepth and not closed yet
  int pendingSkip_ = 0;
  int codePage_ = 1252;
  int defaultFont_ = -1;
  std::map<int, FontEntry> fonts_;
  PendingFont pendingFont_;
  std::vector<std::optional<Rgb>> colours_;
  Rgb colourEntry_;
  bool colourGiven_ = false;
  bool cellPending_ = false;
  Document document_;
  Paragraph paragraph_;
  CharState runChars_;
  std::u16string runText_;
};

}  // namespace kv::rtf::detail
