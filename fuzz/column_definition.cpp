// A table's column definition lines ("pname VARCHAR(60) NOT NULL *", "#" for a column left out of
// INSERT and UPDATE) on any bytes, one line per LF: each line's parse, and the INSERT, UPDATE and
// DELETE statements the table manager builds from them. Never throws; the marks are taken out
// once each, the name is the definition's first word, and the statements name every column they
// should.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "db/IBManagers.h"
#include "formats/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));

  std::size_t written = 0;
  for (const std::string& line : lines) {
    const kv::TColumnDefinition column = kv::TTableManager::ParseColumnDefinition(line);
    const std::string trimmed = kv::text::Trim(line);
    if (column.Key != (trimmed.find('*') != std::string::npos)) __builtin_trap();
    if (column.Definition.size() != trimmed.size() - column.Key - column.NotWritten) __builtin_trap();
    if (!column.Definition.starts_with(column.Name) || column.Name.find(' ') != std::string::npos)
      __builtin_trap();
    written += !column.NotWritten;
  }
  kv::TTableManager manager;
  manager.SetTableName("T");
  manager.SetFieldDefs(lines);
  std::vector<std::string> sql;
  manager.BuildSQL4Insert(sql);
  // "INSERT INTO T(", one line per written column, "VALUES (...)".
  if (sql.size() != written + 2 || !sql.back().starts_with("VALUES (")) __builtin_trap();
  manager.BuildSQL4Update(sql, nullptr);
  if (sql.empty() || sql.front() != "UPDATE T SET") __builtin_trap();
  manager.BuildDeleteSQL(sql);
  if (sql.empty() || sql.front() != "DELETE FROM T WHERE") __builtin_trap();
  return 0;
}
