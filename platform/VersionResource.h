// The version resource (VS_VERSIONINFO) of PE files: parsed from and built into its binary form,
// and read from files of the host. The record itself, kv::win::VersionResource, is in Win32.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/PeImage.h"
#include "platform/Win32.h"

namespace kv::win {

// The id under which resource compilers store the version resource.
inline constexpr std::uint16_t VS_VERSION_INFO = 1;
inline constexpr std::uint32_t VS_FFI_SIGNATURE = 0xFEEF04BD;

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

namespace kv::host {

// The version resource of a host file. nullopt with the thread's last error set: ERROR_FILE_NOT_FOUND
// (or the error of the failed open), ERROR_RESOURCE_DATA_NOT_FOUND for a file that is not a sound
// PE image, ERROR_RESOURCE_TYPE_NOT_FOUND for an image without version resource.
std::optional<win::VersionResource> ReadFileVersionResource(const std::filesystem::path& hostPath);
// The version resource the running program was built with.
win::VersionResource BuiltVersionResource();

}  // namespace kv::host
