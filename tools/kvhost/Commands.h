// kvhost's sub-commands. Each source file registers its own with a static KvhostCommand.
#pragma once

#include <string>
#include <vector>

namespace kvhost {

// Runs a sub-command with the words after its name; answers the process exit code.
using CommandFunction = int (*)(const std::vector<std::string>& args);

struct KvhostCommand {
  KvhostCommand(const char* name, const char* usage, CommandFunction function);
};

// Prints "kvhost: <message>" to standard error and answers exit code 1 (2 for usage errors).
int Fail(const std::string& message);
int Usage(const char* name);

}  // namespace kvhost
