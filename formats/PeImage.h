// A portable reader of PE images (PE32 and PE32+): headers, sections and the resource tree. It
// reads a byte span only, never past its end, whatever the bytes: a damaged image raises
// PeFormatError, a missing resource answers nullopt.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/Error.h"

namespace kv {

namespace win {
// The resource types the program uses.
inline constexpr std::uint16_t RT_RCDATA = 10;
inline constexpr std::uint16_t RT_VERSION = 16;
}  // namespace win

// A file that is not a PE image, or a PE image or resource whose structure is damaged.
class PeFormatError : public Error {
 public:
  using Error::Error;
};

// The key of a resource directory entry: a name (UTF-8 here, UTF-16 in the file) or an integer id.
struct ResourceId {
  bool named = false;
  std::uint32_t id = 0;  // when not named
  std::string name;      // when named

  ResourceId() = default;
  ResourceId(std::uint32_t number) : id(number) {}  // NOLINT: ids and names read alike at call sites
  ResourceId(std::string text) : named(true), name(std::move(text)) {}
  ResourceId(std::string_view text) : ResourceId(std::string(text)) {}
  ResourceId(const char* text) : ResourceId(std::string(text)) {}

  bool operator==(const ResourceId&) const = default;
  // Names compared without regard to case, as the resource API does.
  bool Matches(const ResourceId& other) const;
  // The name, or "#<id>" as resource compilers write an integer id.
  std::string ToString() const;
};

struct ResourceEntry {
  ResourceId type;
  ResourceId id;
  std::uint16_t language = 0;
  std::uint32_t codePage = 0;
  std::span<const std::uint8_t> data;  // a view into the image's bytes
};

struct PeSection {
  std::string name;  // up to eight characters
  std::uint32_t virtualSize = 0;
  std::uint32_t virtualAddress = 0;
  std::uint32_t sizeOfRawData = 0;
  std::uint32_t pointerToRawData = 0;
  std::uint32_t characteristics = 0;
};

struct PeDataDirectory {
  std::uint32_t rva = 0;
  std::uint32_t size = 0;
};

// The header fields the program and its tests look at.
struct PeHeaders {
  std::uint32_t peOffset = 0;  // e_lfanew
  std::uint16_t machine = 0;
  std::uint16_t characteristics = 0;
  std::uint32_t timeDateStamp = 0;
  std::uint16_t magic = 0;  // 0x10B (PE32) or 0x20B (PE32+)
  std::uint32_t addressOfEntryPoint = 0;
  std::uint64_t imageBase = 0;
  std::uint32_t sectionAlignment = 0;
  std::uint32_t fileAlignment = 0;
  std::uint32_t sizeOfImage = 0;
  std::uint32_t sizeOfHeaders = 0;
  std::uint32_t checkSum = 0;
  std::uint16_t subsystem = 0;
  std::uint16_t dllCharacteristics = 0;
  std::uint32_t numberOfRvaAndSizes = 0;  // as the file says; at most 16 are read
};

inline constexpr std::size_t kResourceDataDirectory = 2;

class PeImage {
 public:
  // Reads the headers, the section table and the resource tree. `bytes` must outlive the image:
  // resource data are views into it.
  explicit PeImage(std::span<const std::uint8_t> bytes);

  // Whether the bytes begin like a PE image (MZ header pointing at a PE signature); no other check.
  static bool HasPeSignature(std::span<const std::uint8_t> bytes);

  std::span<const std::uint8_t> Bytes() const { return bytes_; }
  const PeHeaders& Headers() const { return headers_; }
  bool Is64() const { return headers_.magic == 0x20B; }
  const std::vector<PeSection>& Sections() const { return sections_; }
  // {0, 0} for a directory the image does not have.
  PeDataDirectory DataDirectory(std::size_t index) const;
  // The file offset of [rva, rva + size) when the whole range lies in the file-backed part of one
  // section (or of the headers).
  std::optional<std::uint64_t> RvaToOffset(std::uint32_t rva, std::uint32_t size) const;

  // Every resource, in directory order (type, then name or id, then language).
  const std::vector<ResourceEntry>& Resources() const { return resources_; }
  // Lookups under an integer type; without a language, the first language of the entry.
  std::optional<ResourceEntry> FindResource(std::uint32_t type, std::string_view name,
                                            std::optional<std::uint16_t> language = std::nullopt) const;
  std::optional<ResourceEntry> FindResource(std::uint32_t type, std::uint32_t id,
                                            std::optional<std::uint16_t> language = std::nullopt) const;
  std::optional<ResourceEntry> FindFirstResource(std::uint32_t type) const;
  std::vector<ResourceEntry> ListResources(std::uint32_t type) const;

 private:
  void ReadHeaders();
  void ReadResources();
  std::optional<ResourceEntry> Find(std::uint32_t type, const ResourceId& id,
                                    std::optional<std::uint16_t> language) const;

  std::span<const std::uint8_t> bytes_;
  PeHeaders headers_;
  std::vector<PeDataDirectory> directories_;
  std::vector<PeSection> sections_;
  std::vector<ResourceEntry> resources_;
};

}  // namespace kv
