// Fixtures for the package tests: hand-made records, host files with exact times, and running the
// project's programs and the toolchain's.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::test {

// The inflated bytes of a record: the 8-byte length field, the FILETIME, the content.
std::string RecordPayload(std::uint64_t lengthField, std::uint64_t time, std::string_view content);
// `payload` as a zlib stream written at the given level and window size (9 to 15).
std::vector<std::uint8_t> ZlibStream(std::string_view payload, int level, int windowBits = 15);
// The same stream cut after a full flush: all of the payload, but no final block and no checksum.
std::vector<std::uint8_t> UnfinishedZlibStream(std::string_view payload);

// Reproducible content: random bytes, and text made of words drawn from a small vocabulary.
std::string RandomBytes(std::size_t size, std::uint32_t seed);
std::string WordText(std::size_t size, std::uint32_t seed);

std::string ReadHostFile(const std::filesystem::path& path);
void WriteHostFile(const std::filesystem::path& path, std::string_view content);
// Last-write time of a host file as a FILETIME, to the 100-ns unit.
std::uint64_t HostLastWriteTime(const std::filesystem::path& path);
void SetHostLastWriteTime(const std::filesystem::path& path, std::uint64_t fileTime);
// Every regular file below a folder, as paths relative to it ("a/b.txt"), sorted.
std::vector<std::string> FilesBelow(const std::filesystem::path& folder);

struct CommandResult {
  int exitCode = -1;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
};
// Runs a program (found on PATH when the name has no '/') and waits for it.
CommandResult RunProgram(const std::vector<std::string>& argv,
                         const std::optional<std::filesystem::path>& workingDirectory = std::nullopt);
// The program's full path on PATH, nullopt when it is not there.
std::optional<std::filesystem::path> FindOnPath(const std::string& name);
// The kvpack built alongside the tests.
std::filesystem::path KvpackPath();

}  // namespace kv::test
