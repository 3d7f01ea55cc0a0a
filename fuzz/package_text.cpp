// The package's text resources (Updates.txt, FileNames.txt, ...) on any bytes: byte-order marks,
// code page 1252, line ends. Never throws; every line is valid UTF-8 without a line end.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/Package.h"
#include "engine/UpdateCommon.h"

namespace {

// Well-formed UTF-8 by RFC 3629: no overlong form, no surrogate, nothing past U+10FFFF.
bool IsUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead < 0x80) {
      length = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      low = lead == 0xE0 ? 0xA0 : 0x80;
      high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      low = lead == 0xF0 ? 0x90 : 0x80;
      high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if (k == 1 ? (b < low || b > high) : (b & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const std::string& line : kv::ResourceTextLines(bytes)) {
    if (line.find_first_of("\r\n") != std::string::npos) __builtin_trap();
    if (!IsUtf8(line)) __builtin_trap();
    // The names a package may install are judged on these lines.
    kv::IsSafeResourceFileName(line);
  }
  return 0;
}
