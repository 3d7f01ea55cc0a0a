// Registry values as Windows stores them (strings in UTF-16LE with their terminating null), and
// key paths: the same on every backend.
#include "formats/Text.h"
#include "platform/Win32.h"

namespace kv::win {

namespace {

void AppendUtf16(std::vector<std::uint8_t>& data, const std::string& utf8) {
  const auto units = text::Utf8ToUtf16LeBytes(utf8);
  data.insert(data.end(), units.begin(), units.end());
  data.push_back(0);
  data.push_back(0);
}

std::u16string Units(const std::vector<std::uint8_t>& data) {
  std::u16string units;
  units.reserve(data.size() / 2);
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  return units;
}

}  // namespace

RegValue RegValue::String(const std::string& utf8) {
  RegValue value;
  value.type = REG_SZ;
  AppendUtf16(value.data, utf8);
  return value;
}

RegValue RegValue::Dword(std::uint32_t number) {
  RegValue value;
  value.type = REG_DWORD;
  for (int shift = 0; shift < 32; shift += 8)
    value.data.push_back(static_cast<std::uint8_t>(number >> shift));
  return value;
}

RegValue RegValue::Binary(std::vector<std::uint8_t> bytes) {
  RegValue value;
  value.type = REG_BINARY;
  value.data = std::move(bytes);
  return value;
}

// Each string with its null, then the null that ends the list. Empty strings are kept (the moves
// recorded for a restart use one for "delete"), so the data's size, not a double null, ends it.
RegValue RegValue::MultiString(const std::vector<std::string>& utf8) {
  RegValue value;
  value.type = REG_MULTI_SZ;
  for (const auto& s : utf8) AppendUtf16(value.data, s);
  value.data.push_back(0);
  value.data.push_back(0);
  return value;
}

std::string RegValue::AsString() const {
  const std::u16string units = Units(data);
  return text::Utf16ToUtf8(std::u16string_view(units).substr(0, units.find(u'\0')));
}

std::vector<std::string> RegValue::AsMultiString() const {
  std::u16string units = Units(data);
  std::vector<std::string> strings;
  if (units.find_first_not_of(u'\0') == std::u16string::npos) return strings;
  if (units.back() == u'\0') units.pop_back();  // the null that ends the list
  std::size_t start = 0;
  while (start < units.size()) {
    const auto end = units.find(u'\0', start);
    const auto length = end == std::u16string::npos ? units.size() - start : end - start;
    strings.push_back(text::Utf16ToUtf8(std::u16string_view(units).substr(start, length)));
    if (end == std::u16string::npos) break;
    start = end + 1;
  }
  return strings;
}

std::string NormalizedKeyPath(const std::string& path) {
  std::string out;
  for (const std::string& name : text::Split(path, '\\')) {
    if (name.empty()) continue;
    if (!out.empty()) out += '\\';
    out += name;
  }
  return out;
}

}  // namespace kv::win
