// The Rich Text Format reader on any bytes: it never throws, and what it gives is whole.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "formats/RtfReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const kv::rtf::Document document =
      kv::rtf::ParseRtf(std::string_view(reinterpret_cast<const char*>(data), size));
  if (document.paragraphs.empty()) __builtin_trap();
  for (const kv::rtf::Paragraph& paragraph : document.paragraphs) {
    for (const kv::rtf::Run& run : paragraph.runs) {
      if (run.text.empty()) __builtin_trap();
    }
  }
  kv::rtf::PlainText(document);
  kv::rtf::LineCount(document);
  return 0;
}
