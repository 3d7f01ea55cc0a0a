#include "products/ProductFiles.h"

#include "engine/Package.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Win32.h"

namespace kv {

namespace {

// UTF-16 units of a UTF-8 text: one per code point, two beyond the basic plane.
std::size_t Utf16Length(std::string_view utf8) {
  std::size_t units = 0;
  for (const char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if ((u & 0xC0) != 0x80) ++units;  // a lead byte or an ASCII character
    if (u >= 0xF0) ++units;           // a four-byte sequence is a surrogate pair
  }
  return units;
}

}  // namespace

void ForceDirectories(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 3 && path.back() == '\\') path.pop_back();  // a drive root keeps its own
  if (path.empty() || IsExistingFolder(path)) return;
  const std::string parent = ParentFolder(path);
  // A drive root ("C:\") or a name without folder has no parent left to make.
  if (parent.size() < path.size()) ForceDirectories(parent);
  if (!win::CreateDirectory(path) && !IsExistingFolder(path)) RaiseLastOSError();
}

TargetNameCheck CheckTargetName(const std::string& targetFolder, std::string_view name) {
  if (!IsSafeResourceFileName(name)) return TargetNameCheck::NameRefused;
  const std::string folder = targetFolder.empty() ? std::string() : PathWithDelimiter(targetFolder);
  if (Utf16Length(folder) + Utf16Length(name) > kMaxPathLength) return TargetNameCheck::NameRefused;
  if (!folder.empty() && LeadsThroughLink(folder, name)) return TargetNameCheck::BehindLink;
  return TargetNameCheck::Safe;
}

bool IsSafeTargetName(const std::string& targetFolder, std::string_view name) {
  return CheckTargetName(targetFolder, name) == TargetNameCheck::Safe;
}

void ValidateTargetName(const std::string& targetFolder, std::string_view name) {
  if (!IsSafeTargetName(targetFolder, name))
    throw Error("Nom de fichier refusé dans le paquet : " + std::string(name));
}

}  // namespace kv
