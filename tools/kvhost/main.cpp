// kvhost: administration of the host prefix (drives, registry, restart-time moves, PE fixtures).
#include <algorithm>
#include <cstring>
#include <exception>
#include <iostream>
#include <map>

#include "tools/kvhost/Commands.h"

namespace kvhost {

namespace {

struct Entry {
  const char* usage;
  CommandFunction function;
};

std::map<std::string, Entry>& Registry() {
  static std::map<std::string, Entry> commands;
  return commands;
}

void PrintHelp() {
  std::cout << "kvhost: administration of the host prefix (KORVANE_PREFIX, default ~/.korvane)\n\n";
  for (const auto& [name, entry] : Registry()) std::cout << "  kvhost " << entry.usage << "\n";
}

}  // namespace

KvhostCommand::KvhostCommand(const char* name, const char* usage, CommandFunction function) {
  Registry()[name] = Entry{usage, function};
}

int Fail(const std::string& message) {
  std::cerr << "kvhost: " << message << "\n";
  return 1;
}

int Usage(const char* name) {
  const auto it = Registry().find(name);
  std::cerr << "usage: kvhost " << (it == Registry().end() ? name : it->second.usage) << "\n";
  return 2;
}

}  // namespace kvhost

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
    kvhost::PrintHelp();
    return argc < 2 ? 2 : 0;
  }
  const auto it = kvhost::Registry().find(argv[1]);
  if (it == kvhost::Registry().end()) {
    std::cerr << "kvhost: unknown command " << argv[1] << "\n";
    kvhost::PrintHelp();
    return 2;
  }
  try {
    return it->second.function(std::vector<std::string>(argv + 2, argv + argc));
  } catch (const std::exception& e) {
    return kvhost::Fail(e.what());
  }
}
