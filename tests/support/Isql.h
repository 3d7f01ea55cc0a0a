// Runs Firebird's isql-fb on a script, for tests of what the Firebird engine itself does with our
// root, our server function library and our loopback server (no client layer involved).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kv::test {

struct IsqlResult {
  int exitCode = -1;
  std::string out;  // UTF-8
  std::string err;  // UTF-8

  // With "set list on": each value printed for a column, in order.
  std::vector<std::string> Values(const std::string& column) const;
  // The single value of a column; throws when there is none or more than one.
  std::string Value(const std::string& column) const;
};

// The script is UTF-8 and reaches the engine as ISO8859_1 (isql-fb -ch ISO8859_1), with
// FIREBIRD=root. The environment of the test process (KORVANE_PREFIX) is inherited.
IsqlResult RunIsql(const std::string& script, const std::filesystem::path& root = KV_FIREBIRD_ROOT);

// "'text'" with each quote doubled.
std::string SqlString(const std::string& text);

// The declarations of the suite's server functions, one statement each, as every database gets
// them (kv_udf.dll and ib_udf.dll).
const std::vector<std::string>& ServerFunctionDeclarations();

}  // namespace kv::test
