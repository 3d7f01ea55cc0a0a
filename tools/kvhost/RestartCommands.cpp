// kvhost restart: what a restart of the emulated Windows does to files. The moves recorded for the
// next restart (PendingFileRenameOperations) are applied in order, as Windows does at boot, and the
// restart request of the program is cleared. --show lists both without changing anything.
//
// Like a boot, this works on the registry file itself: the access rules of prefix.ini, which
// emulate the rights of the program under test, do not apply.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "formats/Text.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "platform/Win32.h"
#include "platform/host/Prefix.h"
#include "platform/host/RegistryStore.h"
#include "tools/kvhost/Commands.h"

namespace kvhost {

namespace {

namespace fs = std::filesystem;
using kv::host::RegistryPath;
using kv::host::RegistryRoot;
using kv::host::RegistryStore;
using kv::host::RegistryTree;

constexpr const char* kName = "restart";
constexpr const char* kValueName = "PendingFileRenameOperations";

RegistryPath SessionManager() {
  return RegistryPath{RegistryRoot::kLocalMachine,
                      {"SYSTEM", "CurrentControlSet", "Control", "Session Manager"}};
}

struct PendingMove {
  std::string source;
  std::string target;  // empty: delete the source
  bool replace = false;
};

// "\??\C:\x" is the NT form of C:\x.
std::string FromNtPath(std::string path) {
  if (path.starts_with("\\??\\")) path.erase(0, 4);
  return path;
}

std::vector<PendingMove> ParseMoves(const std::vector<std::string>& strings) {
  std::vector<PendingMove> moves;
  for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
    PendingMove move;
    move.source = FromNtPath(strings[i]);
    std::string target = strings[i + 1];
    if (!target.empty() && target.front() == '!') {
      move.replace = true;
      target.erase(0, 1);
    }
    move.target = FromNtPath(target);
    moves.push_back(std::move(move));
  }
  return moves;
}

std::vector<std::string> PendingStrings(const RegistryTree& tree) {
  const auto* key = tree.Find(SessionManager());
  if (key == nullptr) return {};
  const auto* entry = key->FindValue(kValueName);
  if (entry == nullptr) return {};
  return entry->value.AsMultiString();
}

fs::path RestartMarker() {
  return kv::host::Prefix::Current().Root() / "restart-requested";
}

// The number of restart requests the program recorded (one line each).
std::size_t RestartRequests() {
  std::ifstream in(RestartMarker());
  std::size_t count = 0;
  for (std::string line; std::getline(in, line);) {
    if (!kv::text::Trim(line).empty()) ++count;
  }
  return count;
}

std::string Describe(const PendingMove& move) {
  if (move.target.empty()) return "delete " + move.source;
  return "move " + move.source + " -> " + move.target + (move.replace ? " (replacing)" : "");
}

bool Apply(const PendingMove& move) {
  if (move.target.empty()) {
    return kv::IsExistingFolder(move.source) ? kv::win::RemoveDirectory(move.source)
                                             : kv::win::DeleteFile(move.source);
  }
  return kv::win::MoveFileEx(move.source, move.target, move.replace ? kv::win::MOVEFILE_REPLACE_EXISTING : 0);
}

int Show() {
  const auto moves = ParseMoves(PendingStrings(*RegistryStore::Current().Read()));
  if (moves.empty()) std::cout << "no pending file operations\n";
  for (const PendingMove& move : moves) std::cout << "pending: " << Describe(move) << "\n";
  const std::size_t requests = RestartRequests();
  std::cout << "restart requested: " << (requests > 0 ? "yes" : "no");
  if (requests > 1) std::cout << " (" << requests << " times)";
  std::cout << "\n";
  return 0;
}

int Restart() {
  // Taken and cleared in one update, so a move recorded meanwhile waits for the next restart.
  std::vector<std::string> strings;
  RegistryStore::Current().Update([&](RegistryTree& tree) {
    strings = PendingStrings(tree);
    auto* key = tree.Find(SessionManager());
    if (key == nullptr || !key->EraseValue(kValueName))
      return kv::win::ERROR_FILE_NOT_FOUND;  // nothing to write
    return kv::win::ERROR_SUCCESS;
  });
  const auto moves = ParseMoves(strings);
  bool allApplied = true;
  if (moves.empty()) std::cout << "no pending file operations\n";
  for (const PendingMove& move : moves) {
    if (Apply(move)) {
      std::cout << "done: " << Describe(move) << "\n";
    } else {
      allApplied = false;
      std::cout << "failed: " << Describe(move) << ": " << kv::LastErrorText() << "\n";
    }
  }
  std::error_code ec;
  const bool requested = fs::remove(RestartMarker(), ec);
  std::cout << (requested ? "restart request cleared\n" : "no restart was requested\n");
  return allApplied ? 0 : 1;
}

int Command(const std::vector<std::string>& args) {
  if (args.empty()) return Restart();
  if (args.size() == 1 && args[0] == "--show") return Show();
  return Usage(kName);
}

const KvhostCommand kRestartCommand(
    kName, "restart [--show]           apply the moves recorded for the next restart (--show: list them)",
    Command);

}  // namespace
}  // namespace kvhost
