// A fresh host prefix for one test: KORVANE_PREFIX points at a new temporary folder for the
// guard's life, and both are restored and removed afterwards.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kv::test {

class TempPrefix {
 public:
  TempPrefix();
  ~TempPrefix();
  TempPrefix(const TempPrefix&) = delete;
  TempPrefix& operator=(const TempPrefix&) = delete;

  const std::filesystem::path& Root() const { return root_; }
  // The host path of a Windows path of this prefix.
  std::filesystem::path Host(const std::string& windowsPath) const;
  // Writes a file (creating its folders) at a Windows path; answers the host path.
  std::filesystem::path WriteFile(const std::string& windowsPath, const std::string& content) const;
  std::string ReadFile(const std::string& windowsPath) const;
  // Adds a drive of the given type ("fixed", "cdrom", ...) backed by a folder of the prefix.
  void AddDrive(char letter, const std::string& type) const;
  void SetSystem(const std::string& key, const std::string& value) const;

 private:
  std::filesystem::path root_;
  std::optional<std::string> previous_;
};

// A temporary host folder removed with the guard.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace kv::test
