// The version resource (VS_VERSIONINFO) of PE images: its record, parsed from and built into its
// binary form.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/PeImage.h"

namespace kv::win {

// The id under which resource compilers store the version resource.
inline constexpr std::uint16_t VS_VERSION_INFO = 1;
inline constexpr std::uint32_t VS_FFI_SIGNATURE = 0xFEEF04BD;

struct VersionStrings {
  std::string translation;  // "040C04E4": language then code page, upper-case hexadecimal
  std::vector<std::pair<std::string, std::string>> values;
};

// What a VS_VERSIONINFO resource holds.
struct VersionResource {
  bool hasFixedInfo = false;
  std::uint32_t fileVersionMS = 0;
  std::uint32_t fileVersionLS = 0;
  std::uint32_t productVersionMS = 0;
  std::uint32_t productVersionLS = 0;
  std::vector<std::uint32_t> translations;  // each: language in the low 16 bits, code page high
  std::vector<VersionStrings> stringTables;

  // VerQueryValue of "\StringFileInfo\<translation>\<key>" (translation compared without case).
  std::optional<std::string> QueryString(const std::string& translation, const std::string& key) const;
};

// Throws PeFormatError when the block is damaged: lengths past their parent, keys without end,
// values past their block.
VersionResource ParseVersionResource(std::span<const std::uint8_t> bytes);
// The inverse of ParseVersionResource. Throws kv::Error when a text is too long for the format's
// 16-bit lengths.
std::vector<std::uint8_t> BuildVersionResource(const VersionResource& version);
// The first RT_VERSION resource of an image (any id, any language); nullopt when there is none.
// Throws PeFormatError when it is damaged.
std::optional<VersionResource> ReadVersionResource(const PeImage& image);

// "040C04E4" for language 0x040C and code page 1252: the key of a string table.
std::string TranslationKey(std::uint32_t translation);
// The inverse: exactly eight hexadecimal digits, either case.
std::optional<std::uint32_t> ParseTranslationKey(std::string_view key);
// "1.2.3.4" as the two 32-bit halves of a fixed version (most significant first); one to four
// numbers of 0 to 65535, the missing ones 0.
std::optional<std::pair<std::uint32_t, std::uint32_t>> ParseVersionNumbers(std::string_view text);
std::string FormatVersionNumbers(std::uint32_t mostSignificant, std::uint32_t leastSignificant);

}  // namespace kv::win
