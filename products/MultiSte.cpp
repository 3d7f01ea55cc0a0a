#include "products/MultiSte.h"

#include <algorithm>

#include "formats/Text.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "platform/Win32.h"
#include "products/ProductLocation.h"

namespace kv {

namespace {

constexpr const char* kListFile = "multiste.txt";
constexpr const char* kUserKey = "Software\\KORVANE S.A.\\Multiste";
constexpr const char* kObsoleteKey = "Software\\KORVANE S.A.\\MultiSte";

// Deletes a key with its sub-keys; failures are left to the caller to ignore.
void DeleteKeyTree(win::HKEY root, const std::string& path) {
  win::RegKey key;
  if (win::RegKey::Open(root, path, win::KEY_ALL_ACCESS, key) != win::ERROR_SUCCESS) return;
  for (const std::string& sub : key.SubKeyNames()) DeleteKeyTree(root, path + "\\" + sub);
  key.Close();
  win::RegKey::DeleteKey(root, path);
}

// The lines of a text file in code page 1252: CR LF, CR or LF end a line; a last line end adds
// no empty line, empty lines in between are kept. Raises the system's error when the file cannot
// be read.
std::vector<std::string> ReadLines(const std::string& fileName) {
  std::vector<std::string> lines;
  auto file = win::File::Create(fileName, win::GENERIC_READ, win::FILE_SHARE_READ, win::OPEN_EXISTING);
  if (!file) throw SystemError::FromLastError();
  std::string bytes;
  char buffer[4096];
  long long n;
  while ((n = file->Read(buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(n));
  if (n < 0) throw SystemError::FromLastError();
  const std::string text = text::Cp1252ToUtf8(bytes);
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

std::string FindOnDrive(char drive) {
  const std::string letter(1, drive);
  for (const std::string& candidate :
       {letter + ":\\korvane\\" + kListFile, letter + ":\\korvane\\" + kListFile + ".txt",
        letter + ":\\wkorvane\\" + kListFile, letter + ":\\wkorvane\\" + kListFile + ".txt"}) {
    if (IsExistingFile(candidate)) return candidate;
  }
  const std::string common = GetProductProgramPath("Common", true);
  if (!common.empty() && IsExistingFile(common + kListFile)) return common + kListFile;
  return {};
}

}  // namespace

TFMultiSte::TFMultiSte() {
  ChargeFichier();
}

void TFMultiSte::ChargeFichier() {
  ComboBoxCompanies.Items.clear();
  ComboBoxCompanies.ItemIndex = -1;
  FFilename = GetMultisteFilename();
  FReadError.clear();
  if (!FFilename.empty() && IsExistingFile(FFilename)) {
    try {
      ComboBoxCompanies.Items = ReadLines(FFilename);
    } catch (const std::exception& error) {
      // Read as empty, the list would pass over every company but the default one without a word.
      FReadError = error.what();
      ComboBoxCompanies.Text.clear();
    }
  } else {
    ComboBoxCompanies.Text.clear();
  }
  const std::string last = ReadRegistryString(win::HKEY_CURRENT_USER, kUserKey, "LastCompany");
  const auto& items = ComboBoxCompanies.Items;
  const auto found = std::find(items.begin(), items.end(), last);
  if (found != items.end()) {
    ComboBoxCompanies.ItemIndex = static_cast<int>(found - items.begin());
  } else if (!items.empty()) {
    ComboBoxCompanies.ItemIndex = 0;
  }
  ComboBoxCompanies.Text = ComboBoxCompanies.ItemIndex >= 0 ? items[ComboBoxCompanies.ItemIndex] : "";
}

std::string TFMultiSte::GetMultisteFilename() {
  try {
    DeleteKeyTree(win::HKEY_LOCAL_MACHINE, kObsoleteKey);
  } catch (...) {
    // The obsolete settings are only cleaned up when possible.
  }
  std::string found = FindOnDrive('C');
  if (found.empty()) {
    const std::string windows = GetWindowsFolder();
    if (!windows.empty()) found = FindOnDrive(windows.front());
  }
  return found;
}

}  // namespace kv
