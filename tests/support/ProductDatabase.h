// A product database for one test, made as the suite makes one: the schema manager's base objects
// (ConnectionControl with its identifier and version, Users, GET_SERVER_TIME, the roles), the
// server functions and the log procedure. Made through the embedded engine in the caller's
// prefix; dropped and deleted with the guard.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "tests/support/TempPrefix.h"

namespace kv::test {

class ProductDatabase {
 public:
  ProductDatabase(const TempPrefix& prefix, const std::string& windowsPath, const std::string& identifier,
                  std::int32_t version);
  ~ProductDatabase();  // never throws
  ProductDatabase(const ProductDatabase&) = delete;
  ProductDatabase& operator=(const ProductDatabase&) = delete;

  const std::string& WindowsPath() const { return windowsPath_; }
  const std::filesystem::path& HostPath() const { return hostPath_; }

 private:
  std::string windowsPath_;
  std::filesystem::path hostPath_;
};

}  // namespace kv::test
