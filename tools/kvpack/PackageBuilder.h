// Building a package from a folder of host files, and writing one back to a folder: the work of
// kvpack, kept apart from its command line so that the benchmark builds packages the same way.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/Package.h"

namespace kvpack {

struct PackageInput {
  std::filesystem::path file;
  std::string name;  // the resource name: the relative path in upper case, '\' separated
  std::uint64_t size = 0;
  kv::win::FileTime time = 0;  // the file's last-write time, to the 100-ns unit
};

// "pls/SA-00.int" becomes "PLS\SA-00.INT".
std::string ResourceNameFor(const std::filesystem::path& relative);

// Every regular file below the folder, sorted by resource name. Throws kv::Error for a name that
// is not a safe resource name or that two files share.
std::vector<PackageInput> CollectInputs(const std::filesystem::path& folder);

// Writes the package of the inputs to `output` (replaced only once complete): the PE image alone,
// or with a stub, a copy of the stub program followed by the image and the trailer, executable.
// `workers` files are compressed at once (0: one per core). Each file is streamed through zlib
// into its worker's scratch file beside the output, so memory stays bounded whatever the
// package's size: per worker, one zlib stream and its buffers. The same inputs give the same
// bytes, whatever the number of workers.
void BuildPackage(const std::vector<PackageInput>& inputs, const std::filesystem::path& output,
                  const std::optional<std::filesystem::path>& stub, unsigned workers = 0);

// Writes a record's content to a host file (folders created), replaced only once complete, with
// the record's time as its last-write time. Answers the record's header.
kv::RecordHeader ExtractRecordToHostFile(std::span<const std::uint8_t> record,
                                         const std::filesystem::path& target);

// The host path below `folder` of a resource name (its '\' separators made folders). Throws the
// package layer's refusal for an unsafe name.
std::filesystem::path HostPathFor(const std::filesystem::path& folder, const std::string& name);

// "2024-03-05T14:22:11.1234567", local time.
std::string FormatLocalTime(kv::win::FileTime time);

}  // namespace kvpack
