// Runs and paragraphs of the document: characters gathered in runs of one format, paragraphs
// closed with the properties in effect at their end.
#include <string>
#include <utility>

#include "formats/Text.h"
#include "formats/rtf/Parser.h"

namespace kv::rtf::detail {

void Parser::AppendUnit(char16_t unit) {
  const CharState& chars = Top().chars;
  if (chars.hidden) return;
  if (!runText_.empty() && runChars_ != chars) FlushRun();
  runChars_ = chars;
  if (cellPending_) {
    cellPending_ = false;
    runText_ += u'\t';
  }
  runText_ += unit;
}

void Parser::FlushRun() {
  if (runText_.empty()) return;
  Format format;
  format.bold = runChars_.bold;
  format.italic = runChars_.italic;
  format.underline = runChars_.underline;
  format.fontSizeHalfPoints = runChars_.fontSize;
  if (runChars_.colour >= 0 && static_cast<std::size_t>(runChars_.colour) < colours_.size()) {
    format.colour = colours_[runChars_.colour];
  }
  if (const FontEntry* font = FontOf(runChars_)) format.fontFamily = font->name;
  std::string text = text::Utf16ToUtf8(runText_);
  runText_.clear();
  if (!paragraph_.runs.empty() && paragraph_.runs.back().format == format) {
    paragraph_.runs.back().text += text;
  } else {
    paragraph_.runs.push_back(Run{std::move(text), std::move(format)});
  }
}

// A paragraph takes the paragraph properties in effect at its end.
void Parser::EndParagraph() {
  FlushRun();
  const ParaState& para = Top().para;
  paragraph_.alignment = para.alignment;
  paragraph_.firstLineIndentTwips = para.firstIndent;
  paragraph_.leftIndentTwips = para.leftIndent;
  paragraph_.rightIndentTwips = para.rightIndent;
  document_.paragraphs.push_back(std::move(paragraph_));
  paragraph_ = Paragraph{};
  cellPending_ = false;
}

}  // namespace kv::rtf::detail
