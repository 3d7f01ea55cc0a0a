// A fresh company database for one test: a new .fdb made through the embedded engine in a host
// prefix, as the suite makes them (SQL dialect 3, ISO8859_1, pages of 4096 bytes), dropped and
// deleted with the guard.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/TempPrefix.h"

namespace kv::test {

class CompanyDatabase {
 public:
  // In a temporary prefix of its own.
  explicit CompanyDatabase(const std::string& windowsPath = "C:\\Data\\SOC.FDB");
  // In the caller's prefix (which must outlive the guard).
  CompanyDatabase(const TempPrefix& prefix, const std::string& windowsPath);
  ~CompanyDatabase();  // never throws
  CompanyDatabase(const CompanyDatabase&) = delete;
  CompanyDatabase& operator=(const CompanyDatabase&) = delete;

  // The local connection string, e.g. C:\Data\SOC.FDB.
  const std::string& WindowsPath() const { return windowsPath_; }
  const std::filesystem::path& HostPath() const { return hostPath_; }
  const TempPrefix& Prefix() const { return *prefix_; }

  // The suite's creation parameters ("USER 'KORVANE'", ...).
  static std::vector<std::string> CreateParams();
  // Attachment parameters of the maker's user with the databases' character set.
  static std::vector<std::string> AttachParams();

 private:
  void Create();

  std::unique_ptr<TempPrefix> ownPrefix_;
  const TempPrefix* prefix_;
  std::string windowsPath_;
  std::filesystem::path hostPath_;
};

}  // namespace kv::test
