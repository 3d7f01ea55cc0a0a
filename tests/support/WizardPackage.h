// A package with the wizard's texts, built in memory, for the tests of the wizard and its windows.
#pragma once

#include <memory>
#include <string>

#include "engine/Package.h"
#include "formats/Text.h"

namespace kv::test {

// A fixed time for packaged files: 2013-06-01 12:00:00 UTC.
inline constexpr win::FileTime kPackageTime = 130144752000000000ULL;

struct PackageTexts {
  std::string title = "Fichiers communs";
  std::string description = "Bibliothèques PDF et dictionnaires partagés.";
  std::string notice =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 Liste des modifications\\par "
      "\\b Nouveaut\\'e9s\\b0\\par Correction de l'impression des listes\\par}";
  std::string keys = "Common";
  std::string steps;  // no "Steps.txt" when empty
};

// The texts in code page 1252 as the packages carry them; an empty text is left out of the package.
inline std::unique_ptr<MemoryPackage> MakeWizardPackage(const PackageTexts& texts) {
  auto package = std::make_unique<MemoryPackage>();
  auto add = [&](const char* name, const std::string& utf8) {
    if (!utf8.empty()) package->Add(name, text::Utf8ToCp1252(utf8), kPackageTime);
  };
  add("UPDATES.TXT", texts.keys);
  add("APPINFO1.TXT", texts.title);
  add("APPINFO2.TXT", texts.description);
  if (!texts.notice.empty()) package->Add("UPDATEINFO.TXT", texts.notice, kPackageTime);
  add("STEPS.TXT", texts.steps);
  return package;
}

}  // namespace kv::test
