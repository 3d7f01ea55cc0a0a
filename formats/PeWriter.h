// Builds a minimal PE image (a resource-only DLL: headers and one .rsrc section) holding given
// resources, or a copy of a program with the resources added to its own. The same input always
// gives the same bytes (no time stamp). Large resources are never copied: a resource may be a view
// of the caller's bytes, and Write streams the image.
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

  // Writes a copy of this program (a PE image, which must outlive every Write and Build) in place
  // of a resource-only image: the program's own resources (its version resource, its manifest)
  // are kept beside the ones added, the resource section is written anew where the program's
  // was, the base relocations that followed it move after it, and every size of the headers and
  // the checksum are set. Throws PeFormatError for a program that cannot take it (a section other
  // than the relocations after its resources, data after its last section).
  void SetProgram(std::span<const std::uint8_t> program);

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
  struct Placement;

  Placement Place() const;
  Layout Plan() const;
  // The plan, with a program's checksum set (one more pass over the data).
  Layout PlanWithChecksum() const;
  void PatchProgramHeaders(Layout& layout, const Placement& placement) const;
  template <typename Sink>
  void Emit(const Layout& layout, Sink&& sink) const;

  PeFormat format_;
  std::vector<Resource> resources_;
  std::span<const std::uint8_t> program_;
};

}  // namespace kv
