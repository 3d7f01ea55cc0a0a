// A command script ("STARTSQL" / "ENDSQL" blocks of SQL lines) on any bytes, split into lines at
// LF as a text file is read. Never throws; one statement per "ENDSQL" line, none holding an empty
// line or a marker; an Execute that raises ends the walk at once.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/CommandScript.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));

  std::size_t ends = 0;
  for (const std::string& line : lines) ends += line == kv::kScriptEnd;
  const auto statements = kv::CommandScriptStatements(lines);
  if (statements.size() != ends) __builtin_trap();
  for (const auto& statement : statements) {
    for (const std::string& line : statement) {
      if (line.empty() || line == kv::kScriptStart || line == kv::kScriptEnd) __builtin_trap();
    }
  }
  // A failing statement stops the script: nothing after it runs.
  if (ends > 0) {
    const std::size_t failing = size % ends;
    std::size_t calls = 0;
    try {
      kv::ReadCommandScript(lines, [&](const std::vector<std::string>& statement) {
        if (statement != statements[calls]) __builtin_trap();
        if (calls++ == failing) throw std::runtime_error("refused");
      });
      __builtin_trap();
    } catch (const std::runtime_error&) {
    }
    if (calls != failing + 1) __builtin_trap();
  }
  return 0;
}
