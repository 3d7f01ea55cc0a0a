#include "tests/support/FirebirdRoot.h"

#include <stdlib.h>

#include <fstream>
#include <mutex>
#include <stdexcept>

namespace kv::test {

namespace fs = std::filesystem;

namespace {

const fs::path kDebianFirebird = "/usr/lib/x86_64-linux-gnu/firebird/3.0";

// The temporary root, removed when the process ends.
struct TemporaryRoot {
  fs::path path;
  ~TemporaryRoot() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

fs::path MakeTemporaryRoot(TemporaryRoot& guard) {
  std::string pattern = (fs::temp_directory_path() / "kv-firebird-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  guard.path = pattern;
  const fs::path root = guard.path;
  fs::create_directories(root / "intl");
  fs::create_directories(root / "UDF");
  // Real copies: a symbolic link to Debian's intl module leaves ISO8859_1 undefined.
  fs::copy_file(kDebianFirebird / "intl" / "libfbintl.so", root / "intl" / "libfbintl.so");
  fs::copy_file(fs::canonical(kDebianFirebird / "intl" / "fbintl.conf"), root / "intl" / "fbintl.conf");
  fs::copy_file(kDebianFirebird / "firebird.msg", root / "firebird.msg");
  std::ofstream(root / "firebird.conf") << "# Test root of the Korvane database tests\n";
  std::ofstream(root / "databases.conf") << "# No aliases\n";
  return root;
}

}  // namespace

fs::path UseTestFirebirdRoot() {
  static std::mutex mutex;
  static TemporaryRoot temporary;
  std::lock_guard lock(mutex);
  if (const char* chosen = std::getenv("FIREBIRD")) return chosen;
  fs::path root = fs::path(KV_BIN_DIR).parent_path() / "firebird";
  if (!fs::exists(root / "intl" / "libfbintl.so")) root = MakeTemporaryRoot(temporary);
  setenv("FIREBIRD", root.c_str(), 1);
  return root;
}

}  // namespace kv::test
