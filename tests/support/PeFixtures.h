// PE files for tests: a library with a given fixed file version at a Windows path of the prefix,
// and one without version resource.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "platform/Win32.h"
#include "tests/support/TempPrefix.h"

namespace kv {

enum class PeFormat;
class PeWriter;
// Parameterised tests name a PE format by its name.
void PrintTo(PeFormat format, std::ostream* out);

}  // namespace kv

namespace kv::test {

using FileVersionNumbers = std::array<std::uint16_t, 4>;  // major, minor, release, build

// A resource-only library whose fixed version information holds the file version given and a
// different product version (99.99.99.99), with a French string table naming the file version.
std::vector<std::uint8_t> PeWithFileVersion(const FileVersionNumbers& version);
// A resource-only library holding the version resource given.
std::vector<std::uint8_t> PeWithVersion(const win::VersionResource& version);
// A PE image with one data resource and no version resource.
std::vector<std::uint8_t> PeWithoutVersion();

// Each writes the image at a Windows path of the prefix (folders created) and answers the host path.
std::filesystem::path WriteVersionedPe(const TempPrefix& prefix, const std::string& windowsPath,
                                       const FileVersionNumbers& version);
std::filesystem::path WriteUnversionedPe(const TempPrefix& prefix, const std::string& windowsPath);
// The fixed file version of a file, as the installer toolkit reads it; a failed test when it has none.
FileVersionNumbers VersionOf(const std::string& windowsPath);
// A library carrying exactly this version resource.
std::filesystem::path WritePeWithVersion(const TempPrefix& prefix, const std::string& windowsPath,
                                         const win::VersionResource& version);
// Writes the writer's image to a host file; throws kv::Error when the file cannot be written.
void WritePe(const PeWriter& writer, const std::filesystem::path& hostPath);
// Failed expectations for every field in which two version resources differ.
void ExpectSameVersion(const win::VersionResource& actual, const win::VersionResource& expected);

}  // namespace kv::test
