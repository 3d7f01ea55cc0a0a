// The PE fixtures written at Windows paths of a host prefix.
#include "tests/support/PeFixtures.h"

namespace kv::test {

namespace {

std::filesystem::path WriteBytes(const TempPrefix& prefix, const std::string& windowsPath,
                                 const std::vector<std::uint8_t>& bytes) {
  return prefix.WriteFile(windowsPath, std::string(bytes.begin(), bytes.end()));
}

}  // namespace

std::filesystem::path WriteVersionedPe(const TempPrefix& prefix, const std::string& windowsPath,
                                       const FileVersionNumbers& version) {
  return WriteBytes(prefix, windowsPath, PeWithFileVersion(version));
}

std::filesystem::path WriteUnversionedPe(const TempPrefix& prefix, const std::string& windowsPath) {
  return WriteBytes(prefix, windowsPath, PeWithoutVersion());
}

std::filesystem::path WritePeWithVersion(const TempPrefix& prefix, const std::string& windowsPath,
                                         const win::VersionResource& version) {
  return WriteBytes(prefix, windowsPath, PeWithVersion(version));
}

}  // namespace kv::test
