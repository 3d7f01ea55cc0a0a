// The PE reader on any bytes: headers, sections, the resource tree and every lookup, then the
// version resource found there. Damage may raise PeFormatError, nothing else may happen.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/PeImage.h"
#include "formats/VersionResource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  kv::PeImage::HasPeSignature(bytes);
  try {
    const kv::PeImage image(bytes);
    for (std::size_t i = 0; i < 16; ++i) {
      const kv::PeDataDirectory directory = image.DataDirectory(i);
      image.RvaToOffset(directory.rva, directory.size);
    }
    for (const kv::ResourceEntry& entry : image.Resources()) {
      // Every view lies inside the image's bytes.
      if (!entry.data.empty() &&
          (entry.data.data() < data || entry.data.data() + entry.data.size() > data + size)) {
        __builtin_trap();
      }
      if (entry.type.named) continue;
      if (entry.id.named) {
        image.FindResource(entry.type.id, entry.id.name, entry.language);
      } else {
        image.FindResource(entry.type.id, entry.id.id);
      }
    }
    image.FindFirstResource(kv::win::RT_RCDATA);
    image.ListResources(kv::win::RT_VERSION);
    kv::win::ReadVersionResource(image);
  } catch (const kv::PeFormatError&) {
  }
  return 0;
}
