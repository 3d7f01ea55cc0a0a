// Command scripts: SQL statements written as text lines between "STARTSQL" and "ENDSQL" markers,
// as programs ship database changes. The reader turns the lines into the statements to run; it
// talks to no database, so any text can be given to it (fuzzing included).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kv {

// The markers: whole lines, compared exactly and with case ("STARTSQL " is SQL text).
inline constexpr const char* kScriptStart = "STARTSQL";
inline constexpr const char* kScriptEnd = "ENDSQL";

// Walks the script's lines with one statement buffer: an empty line is ignored, "STARTSQL"
// empties the buffer, "ENDSQL" hands the buffer to Execute as one statement (one entry per line)
// and keeps it, any other line is appended to it. A last block without "ENDSQL" is never handed
// over. Execute is called in script order; an exception it raises ends the walk.
void ReadCommandScript(const std::vector<std::string>& Lines,
                       const std::function<void(const std::vector<std::string>& Statement)>& Execute);

// The statements of the script, in the order they run.
std::vector<std::vector<std::string>> CommandScriptStatements(const std::vector<std::string>& Lines);

}  // namespace kv
