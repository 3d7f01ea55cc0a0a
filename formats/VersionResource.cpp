#include "formats/VersionResource.h"

#include <charconv>

#include "formats/Text.h"

namespace kv::win {

namespace {

constexpr std::uint16_t kBinary = 0;
constexpr std::uint16_t kText = 1;
constexpr std::size_t kFixedInfoSize = 52;

[[noreturn]] void Damaged(const std::string& what) {
  throw PeFormatError("Ressource de version endommagée : " + what);
}

constexpr std::uint64_t Align4(std::uint64_t v) {
  return (v + 3) & ~std::uint64_t{3};
}

std::uint16_t U16(std::span<const std::uint8_t> b, std::uint64_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t U32(std::span<const std::uint8_t> b, std::uint64_t at) {
  return static_cast<std::uint32_t>(U16(b, at)) | (static_cast<std::uint32_t>(U16(b, at + 2)) << 16);
}

// One node of the version tree: wLength, wValueLength, wType, a null-terminated UTF-16 key, the
// value and the children, each part starting on a 32-bit boundary of the resource.
struct Block {
  std::uint64_t end = 0;
  std::string key;
  std::uint64_t valueAt = 0;
  std::uint64_t valueSize = 0;  // bytes, within the block
  std::uint64_t childrenAt = 0;
};

Block ReadBlock(std::span<const std::uint8_t> b, std::uint64_t at, std::uint64_t limit, bool textValue) {
  if (limit < at || limit - at < 6) Damaged("bloc tronqué");
  const std::uint16_t length = U16(b, at);
  const std::uint16_t valueLength = U16(b, at + 2);
  const std::uint16_t type = U16(b, at + 4);
  if (length < 6) Damaged("longueur de bloc invalide (" + std::to_string(length) + ")");
  if (length > limit - at) Damaged("bloc plus long que son parent");
  Block block;
  block.end = at + length;
  std::uint64_t p = at + 6;
  std::u16string key;
  for (;; p += 2) {
    if (block.end - p < 2) Damaged("clé de bloc sans fin");
    const char16_t unit = U16(b, p);
    if (unit == 0) break;
    key += unit;
  }
  block.key = text::Utf16ToUtf8(key);
  block.valueAt = Align4(p + 2);
  // Text values count UTF-16 units; some tools count bytes, so a text value is cut at its block's
  // end and at its first null instead of trusting the count.
  const std::uint64_t declared = (textValue && type == kText) ? std::uint64_t{valueLength} * 2 : valueLength;
  const std::uint64_t room = block.valueAt <= block.end ? block.end - block.valueAt : 0;
  if (declared > room) {
    if (!textValue) Damaged("valeur du bloc " + block.key + " hors de son bloc");
    block.valueSize = room;
  } else {
    block.valueSize = declared;
  }
  block.childrenAt = Align4(block.valueAt + block.valueSize);
  return block;
}

// Calls `visit` for each child of `parent`; trailing zero padding ends the list.
template <typename Visit>
void ForEachChild(std::span<const std::uint8_t> b, const Block& parent, bool textValues, Visit visit) {
  for (std::uint64_t at = parent.childrenAt; at < parent.end && parent.end - at >= 6;) {
    if (U16(b, at) == 0) break;
    const Block child = ReadBlock(b, at, parent.end, textValues);
    visit(child);
    at = Align4(child.end);
  }
}

std::string TextValue(std::span<const std::uint8_t> b, const Block& block) {
  std::u16string units;
  for (std::uint64_t p = block.valueAt; p + 1 < block.valueAt + block.valueSize; p += 2) {
    const char16_t unit = U16(b, p);
    if (unit == 0) break;
    units += unit;
  }
  return text::Utf16ToUtf8(units);
}

class BlockWriter {
 public:
  std::size_t Begin(std::string_view key, std::size_t valueLength, std::uint16_t type) {
    out_.resize(Align4(out_.size()), 0);
    const std::size_t start = out_.size();
    Put16(0);
    Put16(Checked(valueLength, key));
    Put16(type);
    PutText(text::Utf8ToUtf16(key));
    return start;
  }
  void Value(std::span<const std::uint8_t> bytes) {
    out_.resize(Align4(out_.size()), 0);
    out_.insert(out_.end(), bytes.begin(), bytes.end());
  }
  void TextValue(const std::u16string& units) {
    out_.resize(Align4(out_.size()), 0);
    PutText(units);
  }
  void End(std::size_t start, std::string_view key) {
    const std::uint16_t length = Checked(out_.size() - start, key);
    out_[start] = static_cast<std::uint8_t>(length);
    out_[start + 1] = static_cast<std::uint8_t>(length >> 8);
  }
  std::vector<std::uint8_t> Take() { return std::move(out_); }

 private:
  static std::uint16_t Checked(std::size_t n, std::string_view key) {
    if (n > 0xFFFF) throw Error("Ressource de version trop grande (" + std::string(key) + ")");
    return static_cast<std::uint16_t>(n);
  }
  void Put16(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v));
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void PutText(const std::u16string& units) {
    for (char16_t u : units) Put16(u);
    Put16(0);
  }
  std::vector<std::uint8_t> out_;
};

void Append32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

VersionResource ParseVersionResource(std::span<const std::uint8_t> bytes) {
  const Block root = ReadBlock(bytes, 0, bytes.size(), false);
  if (root.key != "VS_VERSION_INFO") Damaged("en-tête VS_VERSION_INFO absent");
  VersionResource version;
  if (root.valueSize >= kFixedInfoSize && U32(bytes, root.valueAt) == VS_FFI_SIGNATURE) {
    version.hasFixedInfo = true;
    version.fileVersionMS = U32(bytes, root.valueAt + 8);
    version.fileVersionLS = U32(bytes, root.valueAt + 12);
    version.productVersionMS = U32(bytes, root.valueAt + 16);
    version.productVersionLS = U32(bytes, root.valueAt + 20);
  }
  ForEachChild(bytes, root, false, [&](const Block& child) {
    if (text::IEquals(child.key, "StringFileInfo")) {
      ForEachChild(bytes, child, false, [&](const Block& table) {
        VersionStrings strings;
        strings.translation = table.key;
        ForEachChild(bytes, table, true, [&](const Block& value) {
          strings.values.emplace_back(value.key, TextValue(bytes, value));
        });
        version.stringTables.push_back(std::move(strings));
      });
    } else if (text::IEquals(child.key, "VarFileInfo")) {
      ForEachChild(bytes, child, false, [&](const Block& var) {
        if (!text::IEquals(var.key, "Translation")) return;
        for (std::uint64_t p = 0; p + 4 <= var.valueSize; p += 4) {
          version.translations.push_back(U32(bytes, var.valueAt + p));
        }
      });
    }
  });
  return version;
}

std::vector<std::uint8_t> BuildVersionResource(const VersionResource& version) {
  BlockWriter w;
  const std::size_t root = w.Begin("VS_VERSION_INFO", version.hasFixedInfo ? kFixedInfoSize : 0, kBinary);
  if (version.hasFixedInfo) {
    std::vector<std::uint8_t> fixed;
    Append32(fixed, VS_FFI_SIGNATURE);
    Append32(fixed, 0x00010000);  // structure version 1.0
    Append32(fixed, version.fileVersionMS);
    Append32(fixed, version.fileVersionLS);
    Append32(fixed, version.productVersionMS);
    Append32(fixed, version.productVersionLS);
    Append32(fixed, 0x3F);     // flags mask
    Append32(fixed, 0);        // flags
    Append32(fixed, 0x40004);  // VOS_NT_WINDOWS32
    Append32(fixed, 1);        // VFT_APP
    Append32(fixed, 0);        // subtype
    Append32(fixed, 0);        // date, high
    Append32(fixed, 0);        // date, low
    w.Value(fixed);
  }
  if (!version.stringTables.empty()) {
    const std::size_t info = w.Begin("StringFileInfo", 0, kText);
    for (const VersionStrings& table : version.stringTables) {
      const std::size_t t = w.Begin(table.translation, 0, kText);
      for (const auto& [key, value] : table.values) {
        const std::u16string units = text::Utf8ToUtf16(value);
        const std::size_t s = w.Begin(key, units.size() + 1, kText);
        w.TextValue(units);
        w.End(s, key);
      }
      w.End(t, table.translation);
    }
    w.End(info, "StringFileInfo");
  }
  if (!version.translations.empty()) {
    const std::size_t info = w.Begin("VarFileInfo", 0, kText);
    std::vector<std::uint8_t> value;
    for (std::uint32_t t : version.translations) Append32(value, t);
    const std::size_t var = w.Begin("Translation", value.size(), kBinary);
    w.Value(value);
    w.End(var, "Translation");
    w.End(info, "VarFileInfo");
  }
  w.End(root, "VS_VERSION_INFO");
  return w.Take();
}

std::optional<VersionResource> ReadVersionResource(const PeImage& image) {
  const auto entry = image.FindFirstResource(RT_VERSION);
  if (!entry) return std::nullopt;
  return ParseVersionResource(entry->data);
}

std::optional<std::string> VersionResource::QueryString(const std::string& translation,
                                                        const std::string& key) const {
  for (const VersionStrings& table : stringTables) {
    if (!text::IEquals(table.translation, translation)) continue;
    for (const auto& [name, value] : table.values) {
      if (text::IEquals(name, key)) return value;
    }
  }
  return std::nullopt;
}

std::string TranslationKey(std::uint32_t translation) {
  static const char* digits = "0123456789ABCDEF";
  // Language (low half) first, then code page.
  const std::uint32_t ordered = (translation << 16) | (translation >> 16);
  std::string key(8, '0');
  for (int i = 0; i < 8; ++i) key[static_cast<std::size_t>(i)] = digits[(ordered >> (28 - 4 * i)) & 0xF];
  return key;
}

std::optional<std::uint32_t> ParseTranslationKey(std::string_view key) {
  if (key.size() != 8) return std::nullopt;
  std::uint32_t ordered = 0;
  for (char c : key) {
    int digit = 0;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    ordered = (ordered << 4) | static_cast<std::uint32_t>(digit);
  }
  return (ordered >> 16) | (ordered << 16);
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> ParseVersionNumbers(std::string_view text) {
  std::uint32_t parts[4] = {0, 0, 0, 0};
  std::size_t count = 0;
  for (std::string_view part : text::Split(text, '.')) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (count == 4 || part.empty() || ec != std::errc() || end != part.data() + part.size() ||
        value > 0xFFFF) {
      return std::nullopt;
    }
    parts[count++] = value;
  }
  return std::make_pair((parts[0] << 16) | parts[1], (parts[2] << 16) | parts[3]);
}

std::string FormatVersionNumbers(std::uint32_t mostSignificant, std::uint32_t leastSignificant) {
  return std::to_string(mostSignificant >> 16) + "." + std::to_string(mostSignificant & 0xFFFF) + "." +
         std::to_string(leastSignificant >> 16) + "." + std::to_string(leastSignificant & 0xFFFF);
}

}  // namespace kv::win
