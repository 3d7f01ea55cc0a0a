// kvhost mkpe and kvhost version: PE fixtures carrying a version resource, and what the program
// reads of a file's version.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/PeWriter.h"
#include "formats/Text.h"
#include "formats/VersionResource.h"
#include "platform/FileUtils.h"
#include "platform/MappedFile.h"
#include "platform/Win32.h"
#include "platform/host/Prefix.h"
#include "tools/kvhost/Commands.h"

namespace kvhost {

namespace {

constexpr const char* kMkpeUsage =
    "mkpe OUT --file-version A.B.C.D [--product-version A.B.C.D] [--string Name=Value ...] "
    "[--translation 040C04E4] [--rcdata NAME=HOSTFILE ...]";

// Splits "Name=Value" at its first '='; nullopt without '=' or without name.
std::optional<std::pair<std::string, std::string>> SplitAssignment(const std::string& text) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return std::nullopt;
  return std::make_pair(text.substr(0, eq), text.substr(eq + 1));
}

int Mkpe(const std::vector<std::string>& args) {
  std::optional<std::string> out, fileVersion, productVersion;
  std::string translationText = "040C04E4";
  std::vector<std::pair<std::string, std::string>> strings;
  std::vector<std::pair<std::string, std::string>> rcdata;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--file-version" && hasValue) {
      fileVersion = args[++i];
    } else if (a == "--product-version" && hasValue) {
      productVersion = args[++i];
    } else if (a == "--translation" && hasValue) {
      translationText = args[++i];
    } else if ((a == "--string" || a == "--rcdata") && hasValue) {
      const auto pair = SplitAssignment(args[++i]);
      if (!pair) return Fail(a + " attend NOM=VALEUR : " + args[i]);
      (a == "--string" ? strings : rcdata).push_back(*pair);
    } else if (a.starts_with("--") || out) {
      return Usage("mkpe");
    } else {
      out = a;
    }
  }
  if (!out || !fileVersion) return Usage("mkpe");

  const auto fixedFile = kv::win::ParseVersionNumbers(*fileVersion);
  if (!fixedFile) return Fail("version invalide : " + *fileVersion);
  const auto fixedProduct = kv::win::ParseVersionNumbers(productVersion.value_or(*fileVersion));
  if (!fixedProduct) return Fail("version invalide : " + *productVersion);
  const auto translation = kv::win::ParseTranslationKey(translationText);
  if (!translation) return Fail("traduction invalide (huit chiffres hexadécimaux) : " + translationText);

  kv::win::VersionResource version;
  version.hasFixedInfo = true;
  version.fileVersionMS = fixedFile->first;
  version.fileVersionLS = fixedFile->second;
  version.productVersionMS = fixedProduct->first;
  version.productVersionLS = fixedProduct->second;
  version.translations = {*translation};
  kv::win::VersionStrings table{kv::win::TranslationKey(*translation), {}};
  bool hasFileVersion = false;
  for (const auto& [name, value] : strings) hasFileVersion |= kv::text::IEquals(name, "FileVersion");
  if (!hasFileVersion) table.values.emplace_back("FileVersion", *fileVersion);
  table.values.insert(table.values.end(), strings.begin(), strings.end());
  version.stringTables = {std::move(table)};

  kv::PeWriter writer;
  writer.Add(kv::win::RT_VERSION, kv::win::VS_VERSION_INFO, static_cast<std::uint16_t>(*translation & 0xFFFF),
             kv::win::BuildVersionResource(version));
  // The packaged files are mapped, not read: the writer streams them into the image.
  std::vector<std::unique_ptr<kv::MappedFile>> files;
  for (const auto& [name, hostFile] : rcdata) {
    files.push_back(std::make_unique<kv::MappedFile>(hostFile));
    writer.AddView(kv::win::RT_RCDATA, name, 0, files.back()->Bytes());
  }
  std::ofstream file(*out, std::ios::binary | std::ios::trunc);
  if (!file) return Fail("Impossible de créer le fichier " + *out + " : " + std::strerror(errno));
  writer.Write(file);
  return 0;
}

int Version(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("version");
  std::string file = args[0];
  std::error_code ec;
  // A host path is read through the drive map like any other Windows path.
  if (std::filesystem::exists(file, ec)) file = kv::host::Prefix::Current().ToWindows(file);
  const auto version = kv::win::GetFileVersionInfo(file);
  if (!version && kv::win::GetLastError() == kv::win::ERROR_FILE_NOT_FOUND) {
    return Fail("fichier introuvable : " + args[0]);
  }
  const kv::TFileVersionInfo info = kv::ReadFileVersionInfo(file);
  const std::pair<const char*, const std::string*> fields[] = {
      {"LangId", &info.LangId},
      {"LangName", &info.LangName},
      {"CharSet", &info.CharSet},
      {"CompanyName", &info.CompanyName},
      {"FileDescription", &info.FileDescription},
      {"FileVersion", &info.FileVersion},
      {"InternalName", &info.InternalName},
      {"LegalCopyRight", &info.LegalCopyRight},
      {"LegalTradeMark", &info.LegalTradeMark},
      {"OriginalFileName", &info.OriginalFileName},
      {"ProductName", &info.ProductName},
      {"ProductVersion", &info.ProductVersion},
      {"Comments", &info.Comments},
  };
  for (const auto& [name, value] : fields) std::cout << name << ": " << *value << "\n";
  std::cout << "Fixed file version: "
            << (version && version->hasFixedInfo
                    ? kv::win::FormatVersionNumbers(version->fileVersionMS, version->fileVersionLS)
                    : std::string("?"))
            << "\n";
  return 0;
}

const KvhostCommand mkpeCommand("mkpe", kMkpeUsage, Mkpe);
const KvhostCommand versionCommand("version", "version FILE", Version);

}  // namespace

}  // namespace kvhost
