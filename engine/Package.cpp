// The package layer's functions on the current package: reading a resource whole, into a stream
// or into a file, rich text from a stream, file times, and the names a package may install.
#include "engine/Package.h"

#include <algorithm>
#include <array>
#include <istream>
#include <iterator>
#include <ostream>

#include "engine/PartFile.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "platform/RtfReader.h"
#include "platform/Text.h"

namespace kv {

namespace {

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

bool IsReservedDeviceName(std::string_view part) {
  const std::string base = text::ToUpper(part.substr(0, part.find('.')));
  static constexpr std::array<std::string_view, 4> devices = {"CON", "PRN", "AUX", "NUL"};
  if (std::find(devices.begin(), devices.end(), base) != devices.end()) return true;
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '1' &&
         base[3] <= '9';
}

bool IsSafePart(std::string_view part) {
  if (part.empty() || part == "." || part == "..") return false;
  // Windows drops trailing dots and blanks, so "a." would name "a" and "..." climb like "..".
  if (part.back() == '.' || part.back() == ' ') return false;
  for (const char c : part) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos) return false;
  }
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

void ValidateResourceFileName(std::string_view name) {
  if (!IsSafeResourceFileName(name))
    throw Error("Nom de fichier refusé dans le paquet : " + std::string(name));
}

}  // namespace kv
