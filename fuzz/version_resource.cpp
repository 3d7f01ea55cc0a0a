// The version resource (VS_VERSIONINFO) parser on any bytes, and the queries the toolkit makes of
// what it parsed. Damage may raise PeFormatError, nothing else may happen.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/VersionResource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const kv::win::VersionResource version = kv::win::ParseVersionResource(std::span(data, size));
    for (const kv::win::VersionStrings& table : version.stringTables) {
      for (const auto& [key, value] : table.values) version.QueryString(table.translation, key);
      kv::win::ParseTranslationKey(table.translation);
    }
    for (const std::uint32_t translation : version.translations) {
      version.QueryString(kv::win::TranslationKey(translation), "FileVersion");
    }
    kv::win::FormatVersionNumbers(version.fileVersionMS, version.fileVersionLS);
  } catch (const kv::PeFormatError&) {
  }
  return 0;
}
