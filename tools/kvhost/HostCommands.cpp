// kvhost init and drive: the prefix itself and its drive map.
#include <iostream>

#include "platform/Win32.h"
#include "platform/host/Prefix.h"
#include "tools/kvhost/Commands.h"

namespace kvhost {
namespace {

int Init(const std::vector<std::string>& args) {
  if (!args.empty()) return Usage("init");
  const auto& prefix = kv::host::Prefix::Current();
  std::cout << prefix.Root().string() << "\n";
  return 0;
}

int Drive(const std::vector<std::string>& args) {
  if (args.size() < 2 || args.size() > 3 || args[0].size() != 1 ||
      !std::isalpha(static_cast<unsigned char>(args[0][0]))) {
    return Usage("drive");
  }
  if (!kv::host::DriveTypeFromName(args[1])) {
    return Fail("unknown drive type " + args[1] + " (fixed, remote, cdrom, removable, ramdisk)");
  }
  std::optional<std::filesystem::path> hostDir;
  if (args.size() == 3) hostDir = args[2];
  kv::host::Prefix::Current().MapDrive(args[0][0], args[1], hostDir);
  const std::string root = std::string(1, static_cast<char>(std::toupper(args[0][0]))) + ":\\";
  std::cout << root << " " << kv::host::DriveTypeName(kv::win::GetDriveType(root)) << " "
            << kv::host::Prefix::Current().DriveFolder(args[0][0])->string() << "\n";
  return 0;
}

const KvhostCommand init("init", "init                       create the prefix with its defaults", Init);
const KvhostCommand drive(
    "drive", "drive LETTER TYPE [HOSTDIR] map a drive (fixed, remote, cdrom, removable, ramdisk)", Drive);

}  // namespace
}  // namespace kvhost
