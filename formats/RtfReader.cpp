#include "formats/RtfReader.h"

#include <algorithm>

#include "formats/rtf/Parser.h"

namespace kv::rtf {

Document ParseRtf(std::string_view bytes) {
  return detail::Parser(bytes).Parse();
}

std::string PlainText(const Document& document) {
  std::string out;
  for (std::size_t i = 0; i < document.paragraphs.size(); ++i) {
    if (i > 0) out += '\n';
    for (const Run& run : document.paragraphs[i].runs) out += run.text;
  }
  return out;
}

std::size_t LineCount(const Document& document) {
  std::size_t lines = document.paragraphs.empty() ? 1 : document.paragraphs.size();
  for (const Paragraph& paragraph : document.paragraphs) {
    for (const Run& run : paragraph.runs)
      lines += static_cast<std::size_t>(std::count(run.text.begin(), run.text.end(), '\n'));
  }
  return lines;
}

}  // namespace kv::rtf
