#include "platform/RichTextControl.h"

#include "formats/Text.h"

namespace kv {

void MemoryRichText::Clear() {
  lines_.clear();
  currentSize_ = 0;
}

void MemoryRichText::LoadDocument(const rtf::Document& document) {
  Clear();
  const std::string plain = rtf::PlainText(document);
  if (plain.empty()) return;
  for (const std::string& line : text::Split(plain, '\n')) lines_.push_back({line, 0});
}

void MemoryRichText::AppendLine(const std::string& text, int sizePoints) {
  if (sizePoints != 0) currentSize_ = sizePoints;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find("\r\n", start);
    const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    lines_.push_back({line, currentSize_});
    if (listener_) listener_(line);
    if (end == std::string::npos) break;
    start = end + 2;
  }
}

std::string MemoryRichText::PlainText() const {
  std::string out;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) out += '\n';
    out += lines_[i].text;
  }
  return out;
}

}  // namespace kv
