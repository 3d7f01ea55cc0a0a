// The shell's file operations on the host: deleting, copying and moving lists of files and masks.
#include "platform/FileUtils.h"
#include "platform/Win32.h"

namespace kv::win {

namespace {

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start < list.size()) {
    const std::size_t end = list.find('\0', start);
    const std::string item = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (item.empty()) break;
    items.push_back(item);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return items;
}

bool DeleteTree(const std::string& path) {
  for (const FindData& entry : FindFiles(path + "\\*")) {
    const std::string child = path + "\\" + entry.name;
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!DeleteTree(child)) return false;
    } else {
      SetFileAttributes(child, FILE_ATTRIBUTE_NORMAL);
      if (!DeleteFile(child)) return false;
    }
  }
  return RemoveDirectory(path);
}

// Each existing entry matching the sources, as a full path with its attributes.
std::vector<std::pair<std::string, DWORD>> Expand(const std::string& from) {
  std::vector<std::pair<std::string, DWORD>> entries;
  for (const std::string& source : SplitList(from)) {
    const std::string folder = ExtractFilePath(source);
    for (const FindData& f : FindFiles(source)) entries.emplace_back(folder + f.name, f.attributes);
  }
  return entries;
}

}  // namespace

int SHFileOperation(ShFileOperation& operation) {
  operation.anyOperationsAborted = false;
  const auto entries = Expand(operation.from);
  if (entries.empty()) return static_cast<int>(ERROR_FILE_NOT_FOUND);
  const auto targets = SplitList(operation.to);
  for (const auto& [path, attributes] : entries) {
    bool ok = true;
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    switch (operation.func) {
      case FO_DELETE:
        ok = folder ? DeleteTree(path) : (SetFileAttributes(path, FILE_ATTRIBUTE_NORMAL) && DeleteFile(path));
        break;
      case FO_COPY:
      case FO_MOVE:
      case FO_RENAME: {
        if (targets.empty()) return static_cast<int>(ERROR_INVALID_PARAMETER);
        std::string target = targets.front();
        if (operation.func != FO_RENAME && IsExistingFolder(target)) {
          target = PathWithDelimiter(target) + ExtractFileName(path);
        }
        if (operation.func == FO_COPY) {
          ok = !folder && CopyFile(path, target, false);
        } else {
          ok = MoveFileEx(path, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
        }
        break;
      }
      default:
        return static_cast<int>(ERROR_INVALID_PARAMETER);
    }
    if (!ok) return static_cast<int>(GetLastError());
  }
  return 0;
}

}  // namespace kv::win
