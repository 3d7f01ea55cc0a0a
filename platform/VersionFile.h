// The version resource of a file of this machine, read by the portable PE reader, and the one the
// running program was built with: what both backends' GetFileVersionInfo answer from.
#pragma once

#include <filesystem>
#include <optional>

#include "platform/Win32.h"

namespace kv::host {

// nullopt with the thread's last error set: ERROR_FILE_NOT_FOUND (or the error of the failed
// open), ERROR_RESOURCE_DATA_NOT_FOUND for a file that is not a sound PE image,
// ERROR_RESOURCE_TYPE_NOT_FOUND for an image without version resource.
std::optional<win::VersionResource> ReadFileVersionResource(const std::filesystem::path& hostPath);
win::VersionResource BuiltVersionResource();

}  // namespace kv::host
