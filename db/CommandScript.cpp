#include "db/CommandScript.h"

namespace kv {

void ReadCommandScript(const std::vector<std::string>& Lines,
                       const std::function<void(const std::vector<std::string>& Statement)>& Execute) {
  std::vector<std::string> buffer;
  for (const std::string& line : Lines) {
    if (line.empty()) continue;
    if (line == kScriptStart) {
      buffer.clear();
    } else if (line == kScriptEnd) {
      // The executed statement stays: a second "ENDSQL" runs it again, and lines outside a
      // block are appended to it.
      Execute(buffer);
    } else {
      buffer.push_back(line);
    }
  }
}

std::vector<std::vector<std::string>> CommandScriptStatements(const std::vector<std::string>& Lines) {
  std::vector<std::vector<std::string>> statements;
  ReadCommandScript(Lines,
                    [&](const std::vector<std::string>& statement) { statements.push_back(statement); });
  return statements;
}

}  // namespace kv
