// The update package: one RT_RCDATA resource per packaged file in the resource section of a PE
// image. Each resource is a zlib stream of the 8-byte content length (low 32 bits used), the
// 8-byte FILETIME of the packaged file and the content.
//
// Where the PE image lies:
//  - a PE file (a Windows update executable, a kvpack package file): the whole file;
//  - a host updater (ELF) built by `kvpack build --stub`: the PE image is appended to the program
//    and the file ends with a 24-byte trailer:
//        offset 0   8 bytes  magic "KVPKG" 0x01 0x00 0x00
//        offset 8   8 bytes  file offset of the PE image, unsigned little-endian
//        offset 16  8 bytes  size of the PE image in bytes, unsigned little-endian
//    The image lies wholly before the trailer.
// kvpack stores every resource under language 0 (LANG_NEUTRAL), which Windows' resource lookup
// finds whatever the user's language; the readers here ignore the language.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Errors.h"
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

// The package the running updater carries (on Windows: its own RT_RCDATA resources; on the host:
// a PE image after the program, found through a trailer), nullptr when it carries none.
std::unique_ptr<PackageSource> OpenRunningExecutablePackage();
// A PE file holding a package (a Windows update executable, or a kvpack package file), or a host
// updater with a package appended. Throws kv::Error when the file cannot be read as one.
std::unique_ptr<PackageSource> OpenPackageFile(const std::string& hostPath);
// The package appended to a host program through the trailer; nullptr when the file has no
// trailer. Throws kv::Error when the trailer or the image it points at is damaged.
std::unique_ptr<PackageSource> OpenAppendedPackage(const std::string& hostPath);

// The language kvpack gives every resource (LANG_NEUTRAL).
inline constexpr std::uint16_t kPackageLanguage = 0;

inline constexpr std::size_t kPackageTrailerSize = 24;
inline constexpr std::array<std::uint8_t, 8> kPackageTrailerMagic = {'K', 'V',  'P',  'K',
                                                                     'G', 0x01, 0x00, 0x00};

struct PackageTrailer {
  std::uint64_t imageOffset = 0;
  std::uint64_t imageSize = 0;
};
std::array<std::uint8_t, kPackageTrailerSize> MakePackageTrailer(const PackageTrailer& trailer);
// The trailer at the end of the file's bytes; nullopt without the magic. Throws kv::Error when
// the magic is there but the image it names does not lie before it.
std::optional<PackageTrailer> ReadPackageTrailer(std::span<const std::uint8_t> fileBytes);

// A package built in memory (tests).
class MemoryPackage : public PackageSource {
 public:
  // Compresses and stores a file under the name as given (replacing one of the same name).
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

// Makes a package the current one for the scope's life; no package afterwards.
class CurrentPackageScope {
 public:
  explicit CurrentPackageScope(const PackageSource& package) { SetCurrentPackage(&package); }
  ~CurrentPackageScope() { SetCurrentPackage(nullptr); }
  CurrentPackageScope(const CurrentPackageScope&) = delete;
  CurrentPackageScope& operator=(const CurrentPackageScope&) = delete;
};

// A record built at zlib's best level.
std::vector<std::uint8_t> MakeRecord(std::string_view content, win::FileTime time);

struct RecordHeader {
  std::uint32_t length = 0;
  win::FileTime time = 0;
};

// The largest piece of content InflateRecord hands to its sink at once.
inline constexpr std::size_t kRecordPieceSize = 64 * 1024;

// A record whose zlib stream is damaged, or whose content is shorter than its header says.
class DamagedRecordError : public Error {
 public:
  using Error::Error;
};

using RecordSink = std::function<void(const std::uint8_t*, std::size_t)>;

// Inflates a record, handing the content to `sink` in pieces of at most kRecordPieceSize bytes.
// Throws DamagedRecordError when the stream is damaged (its checksum included) or ends before the
// header's length, or when the header's time is later than MAX_FILETIME; an exception thrown by the sink
// passes through. Bytes after the content are never handed to the sink; they are inflated only to check the
// stream to its end, so damage is found even where it makes the content longer, and the sink may have had
// part of the content when the error comes.
RecordHeader InflateRecord(std::span<const std::uint8_t> record, const RecordSink& sink);
// The same, calling onHeader with the header before the first piece of content.
RecordHeader InflateRecord(std::span<const std::uint8_t> record,
                           const std::function<void(const RecordHeader&)>& onHeader, const RecordSink& sink);
// Inflates the header only (the rest of the record is not checked). Throws DamagedRecordError
// when the header cannot be read or its time is later than MAX_FILETIME.
RecordHeader ReadRecordHeader(std::span<const std::uint8_t> record);

// Reads up to `size` bytes of content into `buffer`; answers the count, 0 at the end.
using RecordSource = std::function<std::size_t(std::uint8_t* buffer, std::size_t size)>;
// Builds a record at zlib's best level from `length` bytes of content read from `source` in
// pieces, handing the compressed bytes to `sink` in pieces: memory stays bounded whatever the
// length. Throws kv::Error when the length does not fit the header's 32 bits, the time is later
// than MAX_FILETIME, or the source ends
// early or goes on past the length.
void DeflateRecord(std::uint64_t length, win::FileTime time, const RecordSource& source,
                   const RecordSink& sink);

// The package layer's free functions, on the current package (none installed: every resource is
// missing). A missing resource is not an error; a present one of size 0 raises the system error
// ERROR_RESOURCE_DATA_NOT_FOUND; a damaged one raises DamagedRecordError naming the resource.
// ReadPackageResource: content holds exactly `length` bytes; on a raise it is left empty.
bool ReadPackageResource(std::string_view name, std::vector<std::uint8_t>& content, std::uint32_t& length,
                         win::FileTime& time);
// The content is written in pieces as it is inflated: when the record is damaged the stream may
// already hold its first part.
bool LoadResourceToStream(std::string_view name, std::ostream& stream);
// extractedName is the target name when the resource exists (the file then holds the content and
// carries the record's time), else empty. The content is inflated into a part file beside the
// target (engine/PartFile.h), held open exclusively, which gets the record's time and then
// replaces the target in one move: on any failure the exception leaves neither a partial target
// nor the part file, and a previous target stays as it was.
void ExtractResourceToFile(std::string_view name, const std::string& targetFileName,
                           std::string& extractedName);
// Streams the remaining bytes of the stream into the control as Rich Text Format.
void LoadRichTextFromStream(RichTextControl& control, std::istream& stream);
// False when the file does not exist; an open that fails raises SystemError; otherwise whether
// setting the last-write time (only that one) succeeded.
bool SetFileModifiedTime(const std::string& fileName, win::FileTime time);

// Whether a packaged file name (a line of FileNames.txt or PrintLists.txt, a resource name) may
// name a file below a target folder: relative (no leading '\' or '/', hence no UNC name), made of
// names separated by '\' or '/', without a drive or stream (':'), an empty, "." or ".." part, a
// part ending with a dot or a blank (Windows drops them), a character Windows forbids in file
// names, a device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9, with or without
// extension), a part over 255 or a whole name over 260 UTF-16 units.
bool IsSafeResourceFileName(std::string_view name);
// Throws kv::Error("Nom de fichier refusé dans le paquet : <name>") when the name is not safe. The
// installers call it before they install a packaged file under its own name.
void ValidateResourceFileName(std::string_view name);
// Whether a safe name below a folder goes through a symbolic link or junction, or names one: the
// folder's own path (the installation's layout, which an administrator may have linked) is not
// looked at, only what the name adds to it. The installers write a listed file only through real
// folders, so that a link planted in the installation cannot redirect a write elsewhere.
bool LeadsThroughLink(const std::string& folder, std::string_view name);

}  // namespace kv
