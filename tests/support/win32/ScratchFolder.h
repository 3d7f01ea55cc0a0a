// A fresh folder of the Windows temporary folder for one test, removed with everything in it
// afterwards (read-only files too). Paths are Windows paths in UTF-8, as the port takes them.
#pragma once

#include <string>

namespace kv::test {

class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder with its trailing backslash.
  const std::string& Path() const { return path_; }
  // A Windows path below the folder.
  std::string operator/(const std::string& name) const { return path_ + name; }
  // Writes a file below the folder (its folders must exist).
  std::string Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace kv::test
