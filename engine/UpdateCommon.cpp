#include "engine/UpdateCommon.h"

#include <chrono>
#include <cstdio>
#include <sstream>

#include "engine/Package.h"
#include "engine/PartFile.h"
#include "formats/Text.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/UserInterface.h"

namespace kv {

namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kFileTimeEpochSeconds = 11644473600LL;

// "dd.mm.yyyy hh:nn:ss" of a FILETIME.
std::string FormatDateTime(win::FileTime time) {
  using namespace std::chrono;
  const sys_seconds instant{seconds{static_cast<std::int64_t>(time / 10000000ULL) - kFileTimeEpochSeconds}};
  const auto day = floor<days>(instant);
  const year_month_day date{day};
  const hh_mm_ss clock{instant - day};
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02u.%02u.%04d %02d:%02d:%02d", static_cast<unsigned>(date.day()),
                static_cast<unsigned>(date.month()), static_cast<int>(date.year()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return buffer;
}

// Decodes a text resource: UTF-8 or UTF-16 after their byte-order mark, otherwise code page 1252.
std::string DecodeText(const std::string& bytes) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::size_t size = bytes.size();
  // Malformed UTF-8 after the mark must not reach names and the report as it is.
  if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
    return text::ToValidUtf8(std::string_view(bytes).substr(3));
  }
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) return text::Utf16LeBytesToUtf8(data + 2, size - 2);
  if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
    std::vector<std::uint8_t> swapped(data + 2, data + size);
    for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
    return text::Utf16LeBytesToUtf8(swapped.data(), swapped.size());
  }
  return text::Cp1252ToUtf8(bytes);
}

// Lines end with CR LF, CR or LF; a last line without end counts, an end at the very end adds none.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

}  // namespace

std::vector<std::string> ResourceTextLines(const std::string& bytes) {
  return SplitLines(DecodeText(bytes));
}

bool TOpenDialog::Execute() {
  FileOpenRequest request{Title, Filter, InitialDir, FileName};
  if (!Ui().OpenFile(request)) return false;
  FileName = request.fileName;
  return true;
}

std::string ReportHeaderText(const std::string& title, win::FileTime localTime) {
  return "Mise à jour : " + title + " " + " " + FormatDateTime(localTime) + "\r\n";
}

std::optional<std::string> OutcomeText(UpdateOutcome outcome) {
  switch (outcome) {
    case UpdateOutcome::Completed:
      return "\r\nLa mise à jour est terminée avec succès.";
    case UpdateOutcome::Failed:
      return "\r\nLa mise à jour a échouée !";
    case UpdateOutcome::NotPerformed:
      return "\r\nLa mise à jour n'a pas été effectuée.";
    case UpdateOutcome::CompletedWithWarnings:
      return "\r\nLa mise à jour a été effectuée mais avec des avertissements !";
    case UpdateOutcome::NoOutcome:
      break;
  }
  return std::nullopt;
}

std::string EscapedErrorText(const std::string& message) {
  return message + "\r\n" + "\r\n" + "La mise à jour a échouée !";
}

// ---------------------------------------------------------------------------------------------

namespace {

TEngineParts& EngineParts() {
  static TEngineParts parts;
  return parts;
}

}  // namespace

void SetEngineParts(TEngineParts parts) {
  EngineParts() = std::move(parts);
}

TdmUpdateCommon::TdmUpdateCommon() {
  // The company list is loaded first: an unreadable registry key stops the program here.
  if (EngineParts().CreateCompanyList) CompanyList = EngineParts().CreateCompanyList();
  Installer = std::make_unique<TWindowsInstaller>("");
  PrintLists = std::make_unique<std::vector<std::string>>();
  FileNames = std::make_unique<std::vector<std::string>>();
  // Loads no database client: only a database operation does.
  DBConnection = std::make_unique<TdmDBConnection>();
  if (EngineParts().CreateStructurePrinting)
    StructurePrinting = EngineParts().CreateStructurePrinting(*DBConnection);
}

TdmUpdateCommon::~TdmUpdateCommon() {
  Installer.reset();
  PrintLists.reset();
  FileNames.reset();
  StructurePrinting.reset();
  // DBConnection, then the company list, go with the engine's members.
  DeleteTempFiles("Update*.tmp");
}

int TdmUpdateCommon::LoadResourceLines(std::string_view name, std::vector<std::string>& lines) {
  lines.clear();
  std::ostringstream stream;
  if (!LoadResourceToStream(name, stream)) return 0;
  lines = ResourceTextLines(stream.str());
  return static_cast<int>(lines.size());
}

int TdmUpdateCommon::LoadResourceRichText(std::string_view name, RichTextControl& control) {
  control.Clear();
  std::stringstream stream;
  if (!LoadResourceToStream(name, stream)) return 0;
  stream.seekg(0);
  LoadRichTextFromStream(control, stream);
  return control.LineCount();
}

void TdmUpdateCommon::Randomize() {
  std::random_device device;
  const auto clock =
      static_cast<std::uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
  std::seed_seq seed{device(), static_cast<std::uint32_t>(clock), static_cast<std::uint32_t>(clock >> 32)};
  generator_.seed(seed);
}

void TdmUpdateCommon::SetRandomSource(RandomSource source) {
  randomSource_ = std::move(source);
}

std::uint32_t TdmUpdateCommon::DrawTempNumber() {
  if (randomSource_) return randomSource_(kTempNumberBound) % kTempNumberBound;
  return std::uniform_int_distribution<std::uint32_t>(0, kTempNumberBound - 1)(generator_);
}

std::string TdmUpdateCommon::TempFolder() const {
  // The engine's destruction frees the toolkit before the temporary files go; the system answers
  // the same folder then.
  return Installer ? Installer->GetTempPath() : win::GetTempPath();
}

void TdmUpdateCommon::RemoveLeftoversOnce(const std::string& folder) {
  if (folder.empty() || !cleanedFolders_.insert(text::ToUpper(PathWithDelimiter(folder))).second) return;
  RemoveAbandonedPartFiles(folder);
}

std::string TdmUpdateCommon::NewTempFileName(const std::string& prefix) {
  const std::string folder = TempFolder();
  RemoveLeftoversOnce(folder);
  // A name handed out earlier may still be in use by its caller: draw again. After many draws
  // that all hit (a generator that keeps repeating itself), walk on from the last one.
  constexpr int kDraws = 64;
  std::uint32_t number = DrawTempNumber();
  std::string name;
  for (std::uint32_t attempt = 0; attempt < kTempNumberBound; ++attempt) {
    name = folder + prefix + std::to_string(number) + ".tmp";
    const std::string key = text::ToUpper(name);
    if (!tempNames_.contains(key) && !IsExistingFolder(name)) {
      if (IsExistingFile(name)) DeleteFileReported(name);  // a stale file of an earlier run
      tempNames_.insert(key);
      return name;
    }
    number = attempt < kDraws ? DrawTempNumber() : (number + 1) % kTempNumberBound;
  }
  throw Error("Aucun nom de fichier temporaire libre : " + folder + prefix + "*.tmp");
}

bool TdmUpdateCommon::DeleteTempFiles(const std::string& mask) noexcept {
  try {
    const std::string folder = TempFolder();
    // Without a folder the mask would name files of the current folder.
    if (folder.empty()) return false;
    ShellFileOperation(win::FO_DELETE, folder + mask, "", 0, win::FOF_SILENT | win::FOF_NOCONFIRMATION, "");
    return true;
  } catch (...) {
    return false;
  }
}

void TdmUpdateCommon::ReportLine(const std::string& text, int size) {
  if (ReportControl == nullptr) return;
  ReportControl->AppendLine(text, size);
  // Keeps the newest line in view while the run goes on.
  if (ReportControl->CanFocus() && !ReportControl->Focused()) ReportControl->SetFocus();
}

void TdmUpdateCommon::DeleteFileReported(const std::string& fileName) {
  ReportLine("Fichier " + fileName + " est supprimé." + "\r\n");
  if (!win::DeleteFile(fileName)) RaiseLastOSError();
}

void TdmUpdateCommon::ReportFileUpToDate(const std::string& fileName) {
  ReportLine("Le fichier " + fileName);
  ReportLine(std::string("est à jour : il n'est pas remplacé.") + "\r\n");
}

void TdmUpdateCommon::ReportFileNotReplaced(const std::string& fileName) {
  ReportLine("Le fichier " + fileName);
  ReportLine(std::string("n'est pas remplacé !!!") + "\r\n");
}

void TdmUpdateCommon::ReportFileNameRefused(const std::string& fileName) {
  ReportLine("Le fichier " + fileName);
  ReportLine(std::string("n'est pas installé : son nom n'est pas autorisé.") + "\r\n");
}

void TdmUpdateCommon::ReportFileBehindLink(const std::string& fileName) {
  ReportLine("Le fichier " + fileName);
  ReportLine(std::string("n'est pas installé : son chemin passe par un lien.") + "\r\n");
}

std::string TdmUpdateCommon::UpdaterModulePath() const {
  return win::GetModuleFileName();
}

unsigned TdmUpdateCommon::GetUpdaterDriveType() const {
  return win::GetDriveType(UpdaterModulePath().substr(0, 3));
}

}  // namespace kv
