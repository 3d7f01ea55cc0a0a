#include "formats/Text.h"

#include <array>

namespace kv::text {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one code point; malformed bytes yield U+FFFD and advance by one.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  auto cont = [&](std::size_t k) -> int {
    if (i + k >= s.size()) return -1;
    const auto b = static_cast<unsigned char>(s[i + k]);
    return (b & 0xC0) == 0x80 ? (b & 0x3F) : -1;
  };
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  if ((b0 & 0xE0) == 0xC0) {
    const int c1 = cont(1);
    if (c1 >= 0) {
      i += 2;
      return static_cast<char32_t>(((b0 & 0x1F) << 6) | c1);
    }
  } else if ((b0 & 0xF0) == 0xE0) {
    const int c1 = cont(1), c2 = cont(2);
    if (c1 >= 0 && c2 >= 0) {
      i += 3;
      return static_cast<char32_t>(((b0 & 0x0F) << 12) | (c1 << 6) | c2);
    }
  } else if ((b0 & 0xF8) == 0xF0) {
    const int c1 = cont(1), c2 = cont(2), c3 = cont(3);
    if (c1 >= 0 && c2 >= 0 && c3 >= 0) {
      i += 4;
      return static_cast<char32_t>(((b0 & 0x07) << 18) | (c1 << 12) | (c2 << 6) | c3);
    }
  }
  ++i;
  return 0xFFFD;
}

// Code page 1252 at 0x80..0x9F; 0 marks the five unassigned bytes (kept as their C1 control).
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t FoldUpper(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  if (c == 0x153) return 0x152;
  if (c == 0x161) return 0x160;
  if (c == 0x17E) return 0x17D;
  return c;
}

char32_t FoldLower(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c == 0x178) return 0xFF;
  if (c == 0x152) return 0x153;
  if (c == 0x160) return 0x161;
  if (c == 0x17D) return 0x17E;
  return c;
}

template <typename Fold>
std::string MapCase(std::string_view s, Fold fold) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) AppendUtf8(out, fold(NextCodePoint(s, i)));
  return out;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t c = NextCodePoint(utf8, i);
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::string Utf16LeBytesToUtf8(const std::uint8_t* data, std::size_t size) {
  std::u16string units;
  units.reserve(size / 2);
  for (std::size_t i = 0; i + 1 < size; i += 2) units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  return Utf16ToUtf8(units);
}

std::vector<std::uint8_t> Utf8ToUtf16LeBytes(std::string_view utf8) {
  std::vector<std::uint8_t> out;
  for (char16_t u : Utf8ToUtf16(utf8)) {
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return out;
}

std::string ToValidUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    // The length a lead byte announces, and the range its second byte must lie in (RFC 3629).
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (b0 < 0x80) {
      length = 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3;
      if (b0 == 0xE0) low = 0xA0;   // no overlong form
      if (b0 == 0xED) high = 0x9F;  // no surrogate
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4;
      if (b0 == 0xF0) low = 0x90;   // no overlong form
      if (b0 == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    }
    std::size_t good = length == 0 ? 0 : 1;
    while (good > 0 && good < length && i + good < bytes.size()) {
      const auto b = static_cast<unsigned char>(bytes[i + good]);
      if (good == 1 ? (b < low || b > high) : (b & 0xC0) != 0x80) break;
      ++good;
    }
    if (good == length && length > 0) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      AppendUtf8(out, 0xFFFD);
      i += good == 0 ? 1 : good;  // the malformed part goes as one replacement
    }
  }
  return out;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    char32_t c = b;
    if (b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80] != 0) c = kCp1252High[b - 0x80];
    AppendUtf8(out, c);
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t c = NextCodePoint(utf8, i);
    if (c < 0x80 || (c >= 0xA0 && c < 0x100)) {
      out += static_cast<char>(c);
      continue;
    }
    char mapped = '?';
    for (std::size_t k = 0; k < kCp1252High.size(); ++k) {
      if (kCp1252High[k] == c) mapped = static_cast<char>(0x80 + k);
    }
    out += mapped;
  }
  return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) AppendUtf8(out, static_cast<unsigned char>(ch));
  return out;
}

std::string Utf8ToLatin1(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t c = NextCodePoint(utf8, i);
    out += c < 0x100 ? static_cast<char>(c) : '?';
  }
  return out;
}

std::optional<std::string> Utf8ToLatin1Exact(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t c = NextCodePoint(utf8, i);
    if (c >= 0x100) return std::nullopt;
    out += static_cast<char>(c);
  }
  return out;
}

std::string ToUpper(std::string_view utf8) {
  return MapCase(utf8, FoldUpper);
}
std::string ToLower(std::string_view utf8) {
  return MapCase(utf8, FoldLower);
}

bool IEquals(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (FoldUpper(NextCodePoint(a, i)) != FoldUpper(NextCodePoint(b, j))) return false;
  }
  return i == a.size() && j == b.size();
}

bool IStartsWith(std::string_view text, std::string_view prefix) {
  std::size_t i = 0, j = 0;
  while (j < prefix.size()) {
    if (i >= text.size()) return false;
    if (FoldUpper(NextCodePoint(text, i)) != FoldUpper(NextCodePoint(prefix, j))) return false;
  }
  return true;
}

std::string Trim(std::string_view s) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  std::size_t b = 0, e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

std::vector<std::string> Split(std::string_view s, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == separator) {
      parts.emplace_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

}  // namespace kv::text
