// The rows of the table PRT_Params of a company database, read back through a connection module of
// their own as the maker's user, and a scope that points KORVANE_PREFIX at another prefix.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kv::test {

struct PrintRow {
  std::string pname, d_text, f_text, i_text, compat, print_params;
  bool operator==(const PrintRow&) const = default;
};
void PrintTo(const PrintRow& row, std::ostream* out);

// Every row, ordered by list name, of a database of the main product (TSV_PRO, version 2).
std::vector<PrintRow> ReadPrintRows(const std::string& connectionString);

// KORVANE_PREFIX names another prefix for the guard's life.
class PrefixScope {
 public:
  explicit PrefixScope(const std::filesystem::path& prefix);
  ~PrefixScope();
  PrefixScope(const PrefixScope&) = delete;
  PrefixScope& operator=(const PrefixScope&) = delete;

 private:
  std::optional<std::string> saved_;
};

}  // namespace kv::test
