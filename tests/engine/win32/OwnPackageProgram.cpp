// A Windows program that reads the package it carries in its own resources, as the updater does:
// kvpack makes it an update program (--stub), and the test runs it under Wine. It prints each
// packaged file's name and content, then whether the image's checksum is the one Windows computes
// for the file, and ends with 7 when it carries no package, as the updater does.
#include <cstdio>
#include <string>

#include "engine/Package.h"

// After the project's headers, which use names <windows.h> defines as macros.
// clang-format off
#include <windows.h>
#include <imagehlp.h>
// clang-format on

int main() {
  const auto package = kv::OpenRunningExecutablePackage();
  if (!package) {
    std::puts("no package");
    return 7;
  }
  for (const std::string& name : package->Names()) {
    std::string content;
    kv::InflateRecord(*package->FindRecord(name), [&](const std::uint8_t* p, std::size_t n) {
      content.append(reinterpret_cast<const char*>(p), n);
    });
    std::printf("%s=%s\n", name.c_str(), content.c_str());
  }
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  DWORD inHeader = 0, computed = 0;
  const bool read = ::MapFileAndCheckSumW(self, &inHeader, &computed) == CHECKSUM_SUCCESS;
  std::printf("checksum %s\n", read && inHeader == computed && computed != 0 ? "ok" : "wrong");
  return 0;
}
