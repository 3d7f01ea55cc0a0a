#include "tests/support/Isql.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "formats/Text.h"
#include "tests/support/TempPrefix.h"

namespace kv::test {

namespace fs = std::filesystem;

namespace {

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

std::vector<std::string> IsqlResult::Values(const std::string& column) const {
  // List mode prints the column name padded to 32 characters, then the value.
  constexpr std::size_t kNameWidth = 32;
  std::vector<std::string> values;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.size() < column.size() || line.compare(0, column.size(), column) != 0) continue;
    const std::size_t after = column.size();
    if (line.size() == after) {
      values.emplace_back();
    } else if (line[after] == ' ') {
      const std::size_t start = std::max(kNameWidth, after + 1);
      values.push_back(line.size() > start ? line.substr(start) : std::string());
    }
  }
  return values;
}

std::string IsqlResult::Value(const std::string& column) const {
  const auto values = Values(column);
  if (values.size() != 1) {
    throw std::runtime_error("isql-fb: " + std::to_string(values.size()) + " values of " + column + "\n" +
                             out + err);
  }
  return values.front();
}

IsqlResult RunIsql(const std::string& script, const fs::path& root) {
  TempDir dir;
  const fs::path input = dir.Path() / "script.sql";
  const fs::path output = dir.Path() / "out.txt";
  const fs::path errors = dir.Path() / "err.txt";
  {
    std::ofstream file(input, std::ios::binary);
    file << text::Utf8ToLatin1(script);
    if (!file.flush()) throw std::runtime_error("cannot write " + input.string());
  }
  const std::string command = "FIREBIRD=" + ShellQuote(root.string()) + " isql-fb -q -ch ISO8859_1 -i " +
                              ShellQuote(input.string()) + " </dev/null >" + ShellQuote(output.string()) +
                              " 2>" + ShellQuote(errors.string());
  const int status = std::system(command.c_str());
  IsqlResult result;
  result.exitCode = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = text::Latin1ToUtf8(ReadAll(output));
  result.err = text::Latin1ToUtf8(ReadAll(errors));
  return result;
}

std::string SqlString(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

const std::vector<std::string>& ServerFunctionDeclarations() {
  static const std::vector<std::string> declarations = {
      "DECLARE EXTERNAL FUNCTION FindStringsInBlob BLOB, CSTRING(32767)\nRETURNS Integer BY VALUE\n"
      "ENTRY_POINT 'FindStringsInBlob'\nMODULE_NAME 'kv_udf.dll'",
      "DECLARE EXTERNAL FUNCTION FindStringsInString CSTRING(32767), CSTRING(32767)\nRETURNS Integer BY "
      "VALUE\n"
      "ENTRY_POINT 'FindStringsInString'\nMODULE_NAME 'kv_udf.dll'",
      "DECLARE EXTERNAL FUNCTION FindStringsIn5Strings CSTRING(32767), CSTRING(32767), CSTRING(32767), "
      "CSTRING(32767), CSTRING(32767), CSTRING(32767)\nRETURNS Integer BY VALUE\n"
      "ENTRY_POINT 'FindStringsIn5Strings'\nMODULE_NAME 'kv_udf.dll'",
      "DECLARE EXTERNAL FUNCTION CapitalizeFirst\nCSTRING(32767) CHARACTER SET ISO8859_1\n"
      "RETURNS CSTRING(32767) CHARACTER SET ISO8859_1 FREE_IT\nENTRY_POINT 'CapitalizeFirst'\n"
      "MODULE_NAME 'kv_udf.dll'",
      "DECLARE EXTERNAL FUNCTION Capitalize\nCSTRING(32767) CHARACTER SET ISO8859_1\n"
      "RETURNS CSTRING(32767) CHARACTER SET ISO8859_1 FREE_IT\nENTRY_POINT 'Capitalize'\n"
      "MODULE_NAME 'kv_udf.dll'",
      "DECLARE EXTERNAL FUNCTION GetFreeDiskSpace\nCSTRING(1)\nRETURNS NUMERIC(18, 0) BY VALUE\n"
      "ENTRY_POINT 'GetFreeDiskSpace'\nMODULE_NAME 'kv_udf.dll'",
      "DECLARE EXTERNAL FUNCTION GetDLLVersion\nRETURNS Integer BY VALUE\nENTRY_POINT 'GetDLLVersion'\n"
      "MODULE_NAME 'kv_udf.dll'",
      "DECLARE EXTERNAL FUNCTION bin_or Integer, Integer\nRETURNS Integer BY VALUE\n"
      "ENTRY_POINT 'IB_UDF_bin_or'\nMODULE_NAME 'ib_udf.dll'",
      "DECLARE EXTERNAL FUNCTION bin_xor Integer, Integer\nRETURNS Integer BY VALUE\n"
      "ENTRY_POINT 'IB_UDF_bin_xor'\nMODULE_NAME 'ib_udf.dll'",
      "DECLARE EXTERNAL FUNCTION bin_and Integer, Integer\nRETURNS Integer BY VALUE\n"
      "ENTRY_POINT 'IB_UDF_bin_and'\nMODULE_NAME 'ib_udf.dll'",
      "DECLARE EXTERNAL FUNCTION IsANumber CSTRING(32767)\nRETURNS Integer BY VALUE\n"
      "ENTRY_POINT 'IsANumber'\nMODULE_NAME 'kv_udf.dll'",
      "DECLARE EXTERNAL FUNCTION GetLogData\nBLOB\nRETURNS PARAMETER 1\nENTRY_POINT 'GetLogData'\n"
      "MODULE_NAME 'kv_udf.dll'",
      "DECLARE EXTERNAL FUNCTION GetStrWordIndex\nCSTRING(32767) CHARACTER SET ISO8859_1, Integer, Integer\n"
      "RETURNS Integer BY VALUE\nENTRY_POINT 'GetStrWordIndex'\nMODULE_NAME 'kv_udf.dll'",
      "DECLARE EXTERNAL FUNCTION GetStrWordAt\nCSTRING(32767) CHARACTER SET ISO8859_1, Integer, Integer\n"
      "RETURNS CSTRING(32767) CHARACTER SET ISO8859_1 FREE_IT\nENTRY_POINT 'GetStrWordAt'\n"
      "MODULE_NAME 'kv_udf.dll'",
      "DECLARE EXTERNAL FUNCTION GetStrLen\nCSTRING(32767)\nRETURNS Integer BY VALUE\n"
      "ENTRY_POINT 'GetStrLen'\nMODULE_NAME 'kv_udf.dll'",
      "DECLARE EXTERNAL FUNCTION GetBlobString BLOB\nRETURNS CSTRING(32767) CHARACTER SET ISO8859_1 FREE_IT\n"
      "ENTRY_POINT 'GetBlobString'\nMODULE_NAME 'kv_udf.dll'",
  };
  return declarations;
}

}  // namespace kv::test
