// Builds a minimal PE image (a resource-only DLL: headers and one .rsrc section) holding given
// resources. The same resources always give the same bytes (no time stamp). Large resources are
// never copied: a resource may be a view of the caller's bytes, and Write streams the image.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <span>
#include <variant>
#include <vector>

#include "formats/PeImage.h"

namespace kv {

enum class PeFormat {
  Pe32Plus,  // x86-64, what the program writes
  Pe32,      // i386, for the readers' tests
};

class PeWriter {
 public:
  explicit PeWriter(PeFormat format = PeFormat::Pe32Plus) : format_(format) {}

  // A resource whose bytes the writer keeps.
  void Add(const ResourceId& type, const ResourceId& id, std::uint16_t language,
           std::vector<std::uint8_t> data);
  // A resource whose bytes stay the caller's: they must outlive every Write and Build.
  void AddView(const ResourceId& type, const ResourceId& id, std::uint16_t language,
               std::span<const std::uint8_t> data);

  std::size_t Count() const { return resources_.size(); }
  // The size of the file Write produces.
  std::uint64_t ImageSize() const;

  // Each throws kv::Error when two resources have the same type, name or id (names without regard
  // to case) and language, when the image would be too large for a PE file, or when output fails.
  void Write(std::ostream& out) const;
  std::vector<std::uint8_t> Build() const;

 private:
  struct Resource {
    ResourceId type;
    ResourceId id;
    std::uint16_t language = 0;
    // The bytes the writer keeps, or a view of the caller's.
    std::variant<std::vector<std::uint8_t>, std::span<const std::uint8_t>> bytes;

    std::span<const std::uint8_t> Data() const;
  };
  struct Layout;

  Layout Plan() const;
  template <typename Sink>
  void Emit(const Layout& layout, Sink&& sink) const;

  PeFormat format_;
  std::vector<Resource> resources_;
};

}  // namespace kv
