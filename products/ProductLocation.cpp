#include "products/ProductLocation.h"

#include <array>
#include <variant>

#include "formats/Text.h"
#include "platform/FileUtils.h"
#include "platform/InstallTools2.h"
#include "platform/Messages.h"
#include "platform/Win32.h"
#include "products/ProductTable.h"

namespace kv {

namespace {

// The folder-selection flags of the product search: file-system folders only, a status line,
// and validation of a typed name.
constexpr unsigned kBifValidate = 0x20;
constexpr unsigned kLocateBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT | kBifValidate;

// Integers read as their decimal text; a missing key or value reads as empty.
std::string ReadString(win::HKEY root, const std::string& key, const std::string& name) {
  const RegistryValue value = ReadRegistryValue(root, key, name, win::KEY_READ, "", false);
  if (const auto* number = std::get_if<std::int32_t>(&value)) return std::to_string(*number);
  return std::get<std::string>(value);
}

std::string WithoutTrailingBackslash(const std::string& path) {
  return !path.empty() && path.back() == '\\' ? path.substr(0, path.size() - 1) : path;
}

// Products whose executable is registered under <name>\Program.
bool HasProgramKey(ProductCode code) {
  switch (code) {
    case pcWinTessivo:
    case pcWinTessivoIngenieur:
    case pcAdresses:
    case pcBrisklane:
    case pcPelmora:
    case pcKorvaneFinance:
    case pcZrq:
    case pcCalderix:
    case pcVlx:
      return true;
    default:
      return false;
  }
}

std::string ProductKey(const std::string& productName) {
  return kMakerRegistryRoot + productName;
}
std::string ProgramKey(const std::string& productName) {
  return ProductKey(productName) + "\\Program";
}

constexpr const char* kProgramValue = "Filename";
constexpr const char* kBaseFolderValue = "BaseFolder";

}  // namespace

std::string GetProductProgramPath(const std::string& productName, bool wholeValue) {
  const ProductCode code = ProductKeyToCode(productName);
  std::string path;
  if (HasProgramKey(code)) {
    path = ReadString(win::HKEY_CURRENT_USER, ProgramKey(productName), kProgramValue);
  } else if (code == pcZorbalt) {
    path = ReadString(win::HKEY_CURRENT_USER, ProductKey(productName), kBaseFolderValue);
  } else if (code == pcCommon || code == pcOptaris) {
    const std::string root = GetSuiteRootFolder();
    if (root.empty()) return {};
    return PathWithDelimiter(PathWithDelimiter(root) + "Common") + "Programs\\";
  } else {
    return {};
  }
  return wholeValue ? path : ExtractFilePath(path);
}

bool SetProductProgramPath(const std::string& productName, const std::string& path) {
  const ProductCode code = ProductKeyToCode(productName);
  if (HasProgramKey(code)) {
    return WriteRegistryValue(win::HKEY_CURRENT_USER, ProgramKey(productName), kProgramValue, true, path);
  }
  if (code == pcZorbalt) {
    return WriteRegistryValue(win::HKEY_CURRENT_USER, ProductKey(productName), kBaseFolderValue, true, path);
  }
  return false;
}

std::string GetSuiteRootFolder() {
  static constexpr std::array<ProductCode, 6> kSuiteMembers = {
      pcWinTessivo, pcWinTessivoIngenieur, pcBrisklane, pcAdresses, pcZrq, pcCalderix};
  std::string folder;
  for (const ProductCode code : kSuiteMembers) {
    folder = GetProductProgramPath(ProductKeyName(code), false);
    if (!folder.empty()) break;
  }
  if (!folder.empty() && IsExistingFolder(WithoutTrailingBackslash(folder))) {
    // <root>\<product>\Programs\ -> <root>\ .
    return ParentFolder(ParentFolder(folder));
  }
  return folder;
}

std::string GetProductDatabaseName(const std::string& productName, const std::string& companyName,
                                   bool wholeValue) {
  const ProductCode code = ProductKeyToCode(productName);
  const std::string product = ProductKey(productName) + "\\";
  const bool defaultCompany = text::IEquals(companyName, "Default");
  std::string name;
  switch (code) {
    case pcWinTessivo:
    case pcWinTessivoIngenieur:
      name = ReadString(win::HKEY_LOCAL_MACHINE, product + companyName + "\\TSV_DatabaseName", "Path");
      if (name.empty() && defaultCompany) {
        name = ReadString(win::HKEY_LOCAL_MACHINE, product + "Paths" + "\\TSV_DatabaseName", "Path");
      }
      break;
    case pcAdresses:
      name = ReadString(win::HKEY_LOCAL_MACHINE, product + companyName, "DatabaseName");
      if (name.empty() && defaultCompany) {
        name = ReadString(win::HKEY_LOCAL_MACHINE, product + "Paths", "DatabaseName");
      }
      break;
    case pcBrisklane:
    case pcPelmora:
    case pcZrq:
    case pcCalderix:
    case pcVlx:
      name = ReadString(win::HKEY_LOCAL_MACHINE, product + companyName, "ConnectionString");
      break;
    default:
      return {};
  }
  name = LocalDatabaseAddress(name);
  if (!wholeValue && !name.empty()) name = ExtractFilePath(name);
  return name;
}

std::string LocalDatabaseAddress(const std::string& databaseName) {
  if (!TWindowsInstaller::IsWindowsVista() && !TWindowsInstaller::IsWindowsSeven()) return databaseName;
  const bool localPath = databaseName.size() >= 2 && databaseName[1] == ':' &&
                         ((databaseName[0] >= 'A' && databaseName[0] <= 'Z') ||
                          (databaseName[0] >= 'a' && databaseName[0] <= 'z'));
  return localPath ? "127.0.0.1:" + databaseName : databaseName;
}

std::string LocateProductFolder(TdmUpdateCommon& /*engine*/, const std::string& FolderName) {
  std::string result;
  try {
    int found = 0;
    for (const char letter : GetDriveLetters()) {
      const std::string root = std::string(1, letter) + ":\\";
      const unsigned type = win::GetDriveType(root);
      if (type != win::DRIVE_FIXED && type != win::DRIVE_REMOTE) continue;
      if (!IsExistingFolder(root + FolderName)) continue;
      if (found++ == 0) result = root + FolderName;
    }
    if (found == 1) return result;
    for (;;) {
      if (found >= 2) {
        ShowError(std::to_string(found) + " répertoires " + FolderName +
                  " ont été trouvés, veuillez choisir l'emplacement correct.");
      } else {
        ShowError("Répertoire " + FolderName + " pas trouvé." + " " + "Veuillez indiquer son emplacement.");
      }
      std::string chosen = result;
      if (!BrowseForFolder("Séléctionner le répertoire \"" + FolderName + "\"", 0, chosen, "",
                           kLocateBrowseFlags)) {
        return result;
      }
      found = 0;
      // Choosing the wanted folder itself or any folder beside it leads to the wanted folder.
      result = ParentFolder(chosen) + FolderName;
      if (IsExistingFolder(result)) return result;
    }
  } catch (...) {
    // The caller checks the folder it gets; a failing dialog must not end the update here.
    return result;
  }
}

}  // namespace kv
