// The package layer's functions on the current package: reading a resource whole, into a stream
// or into a file, rich text from a stream, file times, and the names a package may install.
#include "engine/Package.h"

#include <algorithm>
#include <array>
#include <istream>
#include <iterator>
#include <ostream>

#include "engine/PartFile.h"
#include "formats/RtfReader.h"
#include "formats/Text.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"

namespace kv {

namespace {

// The longest name a file may have below its folder (MAX_PATH), and the longest part of it that a
// Windows file system takes, in UTF-16 units as Windows counts them.
constexpr std::size_t kMaxResourceFileName = 260;
constexpr std::size_t kMaxNamePart = 255;

// A damaged record could claim 4 GiB; the buffer grows with what really comes beyond this.
constexpr std::size_t kMaxReserve = std::size_t{64} << 20;

// The record of a present resource; nullopt when the resource (or the package) is missing.
std::optional<std::span<const std::uint8_t>> FindCurrentRecord(std::string_view name) {
  const PackageSource* package = CurrentPackage();
  if (package == nullptr) return std::nullopt;
  auto record = package->FindRecord(name);
  if (record && record->empty()) {
    // What the resource API reports for a resource without data.
    win::SetLastError(win::ERROR_RESOURCE_DATA_NOT_FOUND);
    RaiseLastOSError();
  }
  return record;
}

// Inflates a record of the current package, naming the resource in a damage report.
RecordHeader InflateNamed(std::string_view name, std::span<const std::uint8_t> record,
                          const std::function<void(const RecordHeader&)>& onHeader, const RecordSink& sink) {
  try {
    return InflateRecord(record, onHeader, sink);
  } catch (const DamagedRecordError& e) {
    throw DamagedRecordError("Ressource " + std::string(name) + " du paquet illisible.\r\n" + e.what());
  }
}

[[noreturn]] void RaiseFileError(win::DWORD code, const std::string& text) {
  throw SystemError(code, text + "\r\n" + SystemErrorText(code));
}

// Windows opens a device, not a file, under these names, whatever the extension and with blanks
// before it ("CON", "nul.txt", "COM1 .dll"); the superscript digits count as digits there.
bool IsReservedDeviceName(std::string_view part) {
  std::string base = text::ToUpper(part.substr(0, part.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static constexpr std::array<std::string_view, 6> devices = {"CON", "PRN",    "AUX",
                                                              "NUL", "CONIN$", "CONOUT$"};
  if (std::find(devices.begin(), devices.end(), base) != devices.end()) return true;
  if (!base.starts_with("COM") && !base.starts_with("LPT")) return false;
  const std::string_view digit = std::string_view(base).substr(3);
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\u00B9" ||
         digit == "\u00B2" || digit == "\u00B3";
}

bool IsSafePart(std::string_view part) {
  if (part.empty() || part == "." || part == "..") return false;
  // Windows drops trailing dots and blanks, so "a." would name "a" and "..." climb like "..".
  if (part.back() == '.' || part.back() == ' ') return false;
  for (const char c : part) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos) return false;
  }
  if (text::Utf8ToUtf16(part).size() > kMaxNamePart) return false;
  return !IsReservedDeviceName(part);
}

}  // namespace

bool ReadPackageResource(std::string_view name, std::vector<std::uint8_t>& content, std::uint32_t& length,
                         win::FileTime& time) {
  content.clear();
  length = 0;
  time = 0;
  const auto record = FindCurrentRecord(name);
  if (!record) return false;
  try {
    const RecordHeader header = InflateNamed(
        name, *record,
        [&](const RecordHeader& h) { content.reserve(std::min<std::size_t>(h.length, kMaxReserve)); },
        [&](const std::uint8_t* p, std::size_t n) { content.insert(content.end(), p, p + n); });
    length = header.length;
    time = header.time;
  } catch (...) {
    std::vector<std::uint8_t>().swap(content);  // frees the buffer before the error leaves
    throw;
  }
  return true;
}

bool LoadResourceToStream(std::string_view name, std::ostream& stream) {
  const auto record = FindCurrentRecord(name);
  if (!record) return false;
  InflateNamed(name, *record, nullptr, [&](const std::uint8_t* p, std::size_t n) {
    if (!stream.write(reinterpret_cast<const char*>(p), static_cast<std::streamsize>(n))) {
      throw Error("Échec de l'écriture de la ressource " + std::string(name) + " dans un flux");
    }
  });
  return true;
}

void ExtractResourceToFile(std::string_view name, const std::string& targetFileName,
                           std::string& extractedName) {
  extractedName.clear();
  const auto record = FindCurrentRecord(name);
  if (!record) return;

  PartFile partial(targetFileName);
  const auto failed = [&](const std::string& what) {
    RaiseFileError(win::GetLastError(), "Impossible d'extraire la ressource " + std::string(name) +
                                            " vers le fichier " + targetFileName + " : " + what + ".");
  };
  const RecordHeader header = InflateNamed(name, *record, nullptr, [&](const std::uint8_t* p, std::size_t n) {
    if (!partial.File().Write(p, n)) failed("échec de l'écriture");
  });
  // Stamped after the last write, which would otherwise set the time to now.
  if (!partial.File().SetLastWriteTime(header.time)) failed("échec de la mise à jour de la date");
  // A temporary file need not reach the disk: a power cut ends the run that would read it, and the
  // copy made from it is written through.
  if (!partial.ReplaceTarget(false)) failed("échec du remplacement du fichier");
  extractedName = targetFileName;
}

void LoadRichTextFromStream(RichTextControl& control, std::istream& stream) {
  const std::string bytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
  control.LoadDocument(rtf::ParseRtf(bytes));
}

bool SetFileModifiedTime(const std::string& fileName, win::FileTime time) {
  if (!IsExistingFile(fileName)) return false;
  auto file = win::File::Create(fileName, win::GENERIC_READ | win::GENERIC_WRITE, 0, win::OPEN_EXISTING);
  if (!file) {
    const win::DWORD code = win::GetLastError();
    RaiseFileError(code,
                   "Erreur d'entrée/sortie " + std::to_string(code) + " sur le fichier " + fileName + ".");
  }
  return file->SetLastWriteTime(time);
}

bool IsSafeResourceFileName(std::string_view name) {
  if (name.empty() || name.front() == '\\' || name.front() == '/') return false;
  if (text::Utf8ToUtf16(name).size() > kMaxResourceFileName) return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = name.find_first_of("\\/", start);
    if (!IsSafePart(
            name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start))) {
      return false;
    }
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

bool LeadsThroughLink(const std::string& folder, std::string_view name) {
  std::string path = PathWithDelimiter(folder);
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = name.find_first_of("\\/", start);
    path += name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    const win::DWORD attributes = win::GetFileAttributes(path);
    if (attributes == win::INVALID_FILE_ATTRIBUTES) return false;  // nothing below a missing part
    if (attributes & win::FILE_ATTRIBUTE_REPARSE_POINT) return true;
    if (end == std::string_view::npos) return false;
    path += '\\';
    start = end + 1;
  }
}

void ValidateResourceFileName(std::string_view name) {
  if (!IsSafeResourceFileName(name))
    throw Error("Nom de fichier refusé dans le paquet : " + std::string(name));
}

}  // namespace kv
