// Text conversions at the edges of the core.
#include <gtest/gtest.h>

#include <string>

#include "formats/Text.h"

namespace kv {
namespace {

TEST(ToValidUtf8, KeepsWellFormedTextAndReplacesEachMalformedSequence) {
  struct Case {
    const char* label;
    std::string bytes;
    std::string expected;
  };
  const std::string r = "\uFFFD";
  for (const Case& c : {
           Case{"ascii", "Common\r\n", "Common\r\n"},
           Case{"every length", "é€𝄞", "é€𝄞"},
           Case{"last code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
           Case{"stray continuation bytes", "a\x95\x93z", "a" + r + r + "z"},
           Case{"code page 1252 letter", "Soci\xE9t\xE9", "Soci" + r + "t" + r},
           Case{"overlong slash", "\xC0\xAF", r + r},
           Case{"overlong three bytes", "\xE0\x80\xAF", r + r + r},
           Case{"surrogate", "\xED\xA0\x80", r + r + r},
           Case{"past U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
           Case{"lead bytes beyond F4", "\xF5\x80\xFF", r + r + r},
           Case{"truncated at the end", "ab\xE2\x82", "ab" + r},
           Case{"truncated before ascii", "\xF0\x9D\x84z", r + "z"},
           Case{"empty", "", ""},
       }) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(text::ToValidUtf8(c.bytes), c.expected);
  }
}

}  // namespace
}  // namespace kv
