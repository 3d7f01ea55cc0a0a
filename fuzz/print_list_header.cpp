// The header lines of a printing list (COM:, DES:F:, DES:I:, DES:D:, DES:X:) on any bytes, read as
// the update reads a list: code page 1252, lines split at CR LF. Never throws; each result is at
// most 255 characters of well-formed UTF-8, holds no "/*", and neither starts nor ends with a
// blank or a control character.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/Text.h"
#include "products/dmStructurePrintingUnit.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

// The number of characters of well-formed UTF-8, or -1.
long Characters(const std::string& text) {
  if (kv::text::Utf16ToUtf8(kv::text::Utf8ToUtf16(text)) != text) return -1;
  long count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

void Check(const std::string& value) {
  const long characters = Characters(value);
  if (characters < 0 || characters > 255) __builtin_trap();
  if (value.find("/*") != std::string::npos) __builtin_trap();
  if (!value.empty() &&
      (static_cast<unsigned char>(value.front()) <= ' ' || static_cast<unsigned char>(value.back()) <= ' '))
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> lines = Lines(kv::text::Cp1252ToUtf8(bytes));
  const kv::TPrintListHeader header = kv::TdmStructurePrinting::ParsePrintListHeader(lines, "liste");
  for (const std::string* value : {&header.Comment, &header.DescD, &header.DescI, &header.DescF})
    Check(*value);
  // A description is never empty unless its default text was all blanks or a comment.
  bool anyDescription = false;
  for (const std::string& line : lines) anyDescription |= line.starts_with("DES:");
  if (!anyDescription && (header.DescF != "liste" || header.DescD != "liste" || header.DescI != "liste"))
    __builtin_trap();
  return 0;
}
