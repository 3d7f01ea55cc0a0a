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

// Whether the packaged name, placed below targetFolder (may be empty), names a file inside that
// folder: a relative name without drive, "..", device name, trailing dot or blank, and a whole
// path that Windows can open (at most kMaxPathLength UTF-16 units).
bool IsSafeTargetName(const std::string& targetFolder, std::string_view name);
// Throws kv::Error("Nom de fichier refusé dans le paquet : <name>") when the name is not safe.
void ValidateTargetName(const std::string& targetFolder, std::string_view name);

}  // namespace kv
