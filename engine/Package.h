// The update package: one RT_RCDATA resource per packaged file in the resource section of a PE
// image. Each resource is a zlib stream of the 8-byte content length (low 32 bits used), the
// 8-byte FILETIME of the packaged file and the content.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RichTextControl.h"
#include "platform/Win32.h"

namespace kv {

// Where the package's resources come from.
class PackageSource {
 public:
  virtual ~PackageSource() = default;
  // The compressed record stored under the name (compared without regard to case).
  virtual std::optional<std::span<const std::uint8_t>> FindRecord(std::string_view name) const = 0;
  // Every stored name, as stored.
  virtual std::vector<std::string> Names() const = 0;
};

// The package appended to the running updater (on the host: a PE image after the program, found
// through a trailer), nullptr when the program carries none.
std::unique_ptr<PackageSource> OpenRunningExecutablePackage();
// A PE file holding a package (a Windows update executable, or a kvpack package file), or a host
// updater with a package appended. Throws kv::Error when the file cannot be read as one.
std::unique_ptr<PackageSource> OpenPackageFile(const std::string& hostPath);

// A package built in memory (tests).
class MemoryPackage : public PackageSource {
 public:
  // Compresses and stores a file under the name as given.
  void Add(const std::string& name, std::string_view content, win::FileTime time);
  // Stores a record as it is (damaged or hand-made records for tests).
  void AddRecord(const std::string& name, std::vector<std::uint8_t> record);
  std::optional<std::span<const std::uint8_t>> FindRecord(std::string_view name) const override;
  std::vector<std::string> Names() const override;

 private:
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> records_;
};

// The package the program reads from; not owned. The program installs its own at start-up.
void SetCurrentPackage(const PackageSource* package);
const PackageSource* CurrentPackage();

// A record built at zlib's best level.
std::vector<std::uint8_t> MakeRecord(std::string_view content, win::FileTime time);

struct RecordHeader {
  std::uint32_t length = 0;
  win::FileTime time = 0;
};

// Inflates a record, handing the content to `sink` in pieces. Throws kv::Error when the stream is
// damaged or ends before the header's length.
RecordHeader InflateRecord(std::span<const std::uint8_t> record,
                           const std::function<void(const std::uint8_t*, std::size_t)>& sink);

// The package layer's free functions, on the current package.
bool ReadPackageResource(std::string_view name, std::vector<std::uint8_t>& content, std::uint32_t& length,
                         win::FileTime& time);
bool LoadResourceToStream(std::string_view name, std::ostream& stream);
// extractedName is the target name when the resource exists (the file then holds the content and
// carries the record's time), else empty.
void ExtractResourceToFile(std::string_view name, const std::string& targetFileName, std::string& extractedName);
// Streams the remaining bytes of the stream into the control as Rich Text Format.
void LoadRichTextFromStream(RichTextControl& control, std::istream& stream);
bool SetFileModifiedTime(const std::string& fileName, win::FileTime time);

}  // namespace kv
