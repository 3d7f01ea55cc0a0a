#include "tests/support/LoadedLibraries.h"

#include <fstream>

namespace kv::test {

bool IsLibraryMapped(const std::string& fragment) {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    if (line.find(fragment) != std::string::npos) return true;
  }
  return false;
}

}  // namespace kv::test
