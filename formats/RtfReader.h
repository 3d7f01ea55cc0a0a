// Reads Rich Text Format, as WordPad, Word and LibreOffice write it, into a small document model
// that the user interface renders (the package's list of changes, the installation report). The
// reader never throws: damaged input yields whatever text could be read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::rtf {

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool operator==(const Rgb&) const = default;
};

struct Format {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  // Half-points, as \fs counts them: 24 is 12 pt, the size a reader assumes when none is given.
  int fontSizeHalfPoints = 24;
  // No value is the automatic colour: the renderer's default text colour.
  std::optional<Rgb> colour;
  // The family name from the font table; empty when the text names no known font.
  std::string fontFamily;
  bool operator==(const Format&) const = default;
};

// UTF-8 text in one format. '\t' is a tab; '\n' is a line break inside the paragraph (\line),
// never a paragraph end. Non-breaking space, soft hyphen and non-breaking hyphen are U+00A0,
// U+00AD and U+2011.
struct Run {
  std::string text;
  Format format;
  bool operator==(const Run&) const = default;
};

enum class Alignment { Left, Right, Centre, Justify };

struct Paragraph {
  Alignment alignment = Alignment::Left;
  // Twips (1/1440 inch), as \fi, \li and \ri give them; the first-line indent is relative to the
  // left one and often negative (a hanging bullet).
  int firstLineIndentTwips = 0;
  int leftIndentTwips = 0;
  int rightIndentTwips = 0;
  // Adjacent runs always differ in format; no run is empty.
  std::vector<Run> runs;
};

// Every \par ends a paragraph and opens the next, so a document holds one paragraph more than it
// has paragraph marks: text after the last \par is the last paragraph, and a file that ends with
// \par (as WordPad and Word write them) ends with an empty paragraph. That empty paragraph is the
// empty last line a Windows rich-edit control shows, and counts, for such a file. A document is
// never without paragraphs: empty input gives one empty paragraph, like an empty control.
struct Document {
  std::vector<Paragraph> paragraphs;
};

Document ParseRtf(std::string_view bytes);

// The paragraphs' text joined with '\n' (so "a\par b" and "a\line b" read the same).
std::string PlainText(const Document& document);
// The lines a rich-edit control without word wrap shows: the paragraphs plus the line breaks
// inside them, which is the number of '\n' in PlainText plus one.
std::size_t LineCount(const Document& document);

}  // namespace kv::rtf
