#include "engine/PartFile.h"

#include <atomic>
#include <charconv>

#include "formats/Text.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "platform/Win32Shell.h"

namespace kv {

namespace {

constexpr std::string_view kSuffix = ".kvpart";
constexpr std::string_view kOwnerMark = ".~";
// Keeps the name within what every file system takes, whatever the target's name.
constexpr std::size_t kMaxStem = 64;

// At most `size` bytes of a UTF-8 text, never cutting a character in two.
std::string Utf8Prefix(const std::string& text, std::size_t size) {
  if (text.size() <= size) return text;
  while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) --size;
  return text.substr(0, size);
}

template <typename Number>
std::optional<Number> ParseDecimal(std::string_view digits) {
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  Number value{};
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

// Restores the thread's last error when the scope ends.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : saved_(win::GetLastError()) {}
  ~LastErrorKeeper() { win::SetLastError(saved_); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  win::DWORD saved_;
};

}  // namespace

std::string PartFileName(const std::string& target, win::DWORD processId, std::uint32_t number) {
  return ExtractFilePath(target) + "~" + Utf8Prefix(ExtractFileName(target), kMaxStem) +
         std::string(kOwnerMark) + std::to_string(processId) + "-" + std::to_string(number) +
         std::string(kSuffix);
}

std::optional<win::DWORD> PartFileOwner(const std::string& fileName) {
  const std::string name = ExtractFileName(fileName);
  if (name.size() <= kSuffix.size() + 1 || name.front() != '~') return std::nullopt;
  if (!text::IEquals(name.substr(name.size() - kSuffix.size()), std::string(kSuffix))) return std::nullopt;
  const std::string_view middle = std::string_view(name).substr(0, name.size() - kSuffix.size());
  const std::size_t mark = middle.rfind(kOwnerMark);
  if (mark == std::string_view::npos || mark < 2) return std::nullopt;  // "~" and a name first
  const std::string_view owner = middle.substr(mark + kOwnerMark.size());
  const std::size_t dash = owner.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  if (!ParseDecimal<std::uint32_t>(owner.substr(dash + 1))) return std::nullopt;
  return ParseDecimal<win::DWORD>(owner.substr(0, dash));
}

int RemoveAbandonedPartFiles(const std::string& folder) noexcept {
  const LastErrorKeeper keeper;
  int removed = 0;
  try {
    if (folder.empty()) return 0;  // the mask would name the working folder
    const std::string path = PathWithDelimiter(folder);
    const win::DWORD self = win::GetCurrentProcessId();
    for (const win::FindData& found : win::FindFiles(path + "~*" + std::string(kSuffix))) {
      if (found.attributes & win::FILE_ATTRIBUTE_DIRECTORY) continue;
      const auto owner = PartFileOwner(found.name);
      if (!owner || *owner == self || win::IsProcessRunning(*owner)) continue;
      // Refused with a sharing violation while a writer elsewhere still holds it open.
      if (win::DeleteFile(path + found.name)) ++removed;
    }
  } catch (...) {  // a leftover that stays does no harm; the run goes on
  }
  return removed;
}

PartFile::PartFile(const std::string& target) : target_(target) {
  static std::atomic<std::uint32_t> counter{0};
  const win::DWORD self = win::GetCurrentProcessId();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = PartFileName(target, self, counter.fetch_add(1));
    // Without sharing: nobody reads the content while it is incomplete, and nobody deletes it.
    auto file = win::File::Create(candidate, win::GENERIC_WRITE, 0, win::CREATE_NEW);
    if (file) {
      path_ = candidate;
      file_ = std::move(*file);
      return;
    }
    // A name of an earlier run of a process that had the same id: take the next number.
    if (win::GetLastError() != win::ERROR_FILE_EXISTS) break;
  }
  const win::DWORD code = win::GetLastError();
  throw SystemError(code, "Impossible de créer le fichier " + target + ".\r\n" + SystemErrorText(code));
}

PartFile::~PartFile() {
  file_.Close();
  if (placed_ || path_.empty()) return;
  const LastErrorKeeper keeper;  // the error being raised, if any
  try {
    win::DeleteFile(path_);
  } catch (...) {  // a destructor never throws; the next run removes the file at worst
  }
}

bool PartFile::ReplaceTarget(bool durable) {
  if (durable && !file_.Flush()) return false;
  const win::DWORD flags = win::MOVEFILE_REPLACE_EXISTING | (durable ? win::MOVEFILE_WRITE_THROUGH : 0);
  if (!file_.Rename(target_, flags)) return false;
  placed_ = true;
  file_.Close();
  return true;
}

}  // namespace kv
