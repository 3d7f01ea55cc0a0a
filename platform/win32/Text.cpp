// UTF-8 <-> UTF-16 at the edge of the system (wchar_t is a UTF-16 unit on Windows).
#include "formats/Text.h"

#include "platform/win32/Api.h"

namespace kv::win32 {

std::wstring Wide(std::string_view utf8) {
  const std::u16string units = text::Utf8ToUtf16(utf8);
  return std::wstring(units.begin(), units.end());
}

std::string Utf8(std::wstring_view utf16) {
  return text::Utf16ToUtf8(std::u16string(utf16.begin(), utf16.end()));
}

std::wstring WidePath(std::string_view utf8) {
  std::wstring path = Wide(utf8);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

}  // namespace kv::win32
