// kvpack: builds update packages from a folder, lists them and writes their files back.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "engine/Package.h"
#include "tools/kvpack/PackageBuilder.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage:\n"
    "  kvpack build DIR -o OUT [--stub UPDATER] [--jobs N]\n"
    "                                            package every file below DIR (an update executable\n"
    "                                            when a stub updater is given), compressing N files\n"
    "                                            at once (default: one per core; same bytes)\n"
    "  kvpack list FILE | --self                 one line per resource: name, length, local time,\n"
    "                                            FILETIME, compressed size\n"
    "  kvpack extract FILE DIR                   write the packaged files below DIR, with their times\n";

int Usage(const std::string& problem) {
  std::cerr << "kvpack: " << problem << "\n" << kUsage;
  return 2;
}

int Fail(const std::string& message) {
  std::cerr << "kvpack: " << message << "\n";
  return 1;
}

int Build(const std::vector<std::string>& args) {
  std::optional<std::string> folder, output, stub;
  unsigned jobs = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-o" || a == "--stub") {
      if (i + 1 == args.size()) return Usage(a + " needs a value");
      (a == "-o" ? output : stub) = args[++i];
    } else if (a == "--jobs") {
      if (i + 1 == args.size()) return Usage(a + " needs a value");
      const std::string& value = args[++i];
      char* end = nullptr;
      const unsigned long n = std::strtoul(value.c_str(), &end, 10);
      if (value.empty() || !std::isdigit(static_cast<unsigned char>(value[0])) || *end != '\0' || n < 1 ||
          n > 1024) {
        return Usage("--jobs needs a number from 1 to 1024");
      }
      jobs = static_cast<unsigned>(n);
    } else if (!a.empty() && a[0] == '-') {
      return Usage("unknown option " + a);
    } else if (!folder) {
      folder = a;
    } else {
      return Usage("unexpected argument " + a);
    }
  }
  if (!folder || !output) return Usage("build needs DIR and -o OUT");
  const auto inputs = kvpack::CollectInputs(*folder);
  kvpack::BuildPackage(inputs, *output, stub ? std::optional<fs::path>(*stub) : std::nullopt, jobs);
  return 0;
}

int List(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("list needs FILE or --self");
  std::unique_ptr<kv::PackageSource> package;
  if (args[0] == "--self") {
    package = kv::OpenRunningExecutablePackage();
    if (!package) return Fail("no package is appended to this program");
  } else {
    package = kv::OpenPackageFile(args[0]);
  }
  std::cout << "name\tlength\tlocal time\tFILETIME\tcompressed\n";
  for (const std::string& name : package->Names()) {
    const auto record = package->FindRecord(name);
    if (!record) continue;
    const std::size_t compressed = record->size();
    try {
      const kv::RecordHeader header = kv::ReadRecordHeader(*record);
      std::cout << name << '\t' << header.length << '\t' << kvpack::FormatLocalTime(header.time) << '\t'
                << header.time << '\t' << compressed << '\n';
    } catch (const kv::DamagedRecordError& e) {
      // Windows toolchains add RCDATA resources of their own that are not records.
      std::cout << name << "\t-\t-\t-\t" << compressed << "\t(" << e.what() << ")\n";
    }
  }
  return std::cout.flush() ? 0 : Fail("cannot write the listing");
}

int Extract(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage("extract needs FILE and DIR");
  const auto package = kv::OpenPackageFile(args[0]);
  const fs::path folder = args[1];
  for (const std::string& name : package->Names()) {
    const auto record = package->FindRecord(name);
    if (!record) continue;
    try {
      kv::ReadRecordHeader(*record);
    } catch (const kv::DamagedRecordError& e) {
      std::cerr << "kvpack: " << name << " skipped, not a packaged file (" << e.what() << ")\n";
      continue;
    }
    const fs::path target = kvpack::HostPathFor(folder, name);
    try {
      kvpack::ExtractRecordToHostFile(*record, target);
    } catch (const kv::DamagedRecordError& e) {
      throw kv::Error("Ressource " + name + " illisible : " + e.what());
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command");
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  try {
    if (command == "build") return Build(args);
    if (command == "list") return List(args);
    if (command == "extract") return Extract(args);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  return Usage("unknown command " + command);
}
