// File helpers of the product updaters: folders made with their parents, and the check that a
// name taken from the package (a listed file, a printing list) stays inside its target folder.
#pragma once

#include <string>
#include <string_view>

namespace kv {

// Creates the folder and every missing parent; throws SystemError when one cannot be made.
void ForceDirectories(const std::string& folder);

// Longest path Windows accepts without its terminating null (MAX_PATH - 1), in UTF-16 units.
inline constexpr std::size_t kMaxPathLength = 259;

// The one check of a name taken from the package (a line of FileNames.txt or PrintLists.txt)
// before anything is written under it below targetFolder (may be empty: no file is written, the
// name only names a printing list of the databases):
// - NameRefused: not IsSafeResourceFileName (it would leave the folder, name a device, end with a
//   dot or a blank, ...), or the whole path is longer than Windows opens (kMaxPathLength UTF-16
//   units);
// - BehindLink: the name goes through a link or junction below the folder, or names one
//   (LeadsThroughLink), so a write could land elsewhere.
enum class TargetNameCheck { Safe, NameRefused, BehindLink };
TargetNameCheck CheckTargetName(const std::string& targetFolder, std::string_view name);
// CheckTargetName(...) == Safe.
bool IsSafeTargetName(const std::string& targetFolder, std::string_view name);
// Throws kv::Error("Nom de fichier refusé dans le paquet : <name>") when the name is not safe.
void ValidateTargetName(const std::string& targetFolder, std::string_view name);

}  // namespace kv
