#include "tests/support/TempPrefix.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/host/Prefix.h"

namespace kv::test {

namespace fs = std::filesystem;

namespace {

fs::path MakeTempFolder(const char* stem) {
  std::string pattern = (fs::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

// For destructors: never throws. Read-only files and folders of a test must not keep the tree alive.
void RemoveTree(const fs::path& root) {
  std::error_code walk, ec;
  for (auto it = fs::recursive_directory_iterator(root, walk);
       !walk && it != fs::recursive_directory_iterator(); it.increment(walk)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(root, ec);
}

}  // namespace

TempPrefix::TempPrefix() : root_(MakeTempFolder("kv-prefix")) {
  if (const char* old = std::getenv("KORVANE_PREFIX")) previous_ = old;
  setenv("KORVANE_PREFIX", root_.c_str(), 1);
  host::Prefix::Current();  // creates the defaults
}

TempPrefix::~TempPrefix() {
  if (previous_) {
    setenv("KORVANE_PREFIX", previous_->c_str(), 1);
  } else {
    unsetenv("KORVANE_PREFIX");
  }
  RemoveTree(root_);
}

fs::path TempPrefix::Host(const std::string& windowsPath) const {
  const auto host = host::Prefix::Current().ToHost(windowsPath);
  if (!host) throw std::runtime_error("no host path for " + windowsPath);
  return *host;
}

fs::path TempPrefix::WriteFile(const std::string& windowsPath, const std::string& content) const {
  const fs::path path = Host(windowsPath);
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
  return path;
}

std::string TempPrefix::ReadFile(const std::string& windowsPath) const {
  std::ifstream in(Host(windowsPath), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + windowsPath);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void TempPrefix::AddDrive(char letter, const std::string& type) const {
  host::Prefix::Current().MapDrive(letter, type, std::nullopt);
}

void TempPrefix::SetSystem(const std::string& key, const std::string& value) const {
  host::Prefix::Current().SetIni("system", key, value);
}

TempDir::TempDir() : path_(MakeTempFolder("kv-dir")) {}

TempDir::~TempDir() {
  RemoveTree(path_);
}

}  // namespace kv::test
