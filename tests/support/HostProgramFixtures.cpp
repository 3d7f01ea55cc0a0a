// The package fixtures that work on host files and run host programs (kvpack, the updater).
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/host/FileTimes.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/TempPrefix.h"

extern char** environ;

namespace kv::test {

namespace fs = std::filesystem;

std::string ReadHostFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteHostFile(const fs::path& path, std::string_view content) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

std::uint64_t HostLastWriteTime(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot stat " + path.string());
  return host::FileTimeFromTimespec(st.st_mtim);
}

void SetHostLastWriteTime(const fs::path& path, std::uint64_t fileTime) {
  const timespec times[2] = {{0, UTIME_OMIT}, host::TimespecFromFileTime(fileTime)};
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
    throw std::runtime_error("cannot date " + path.string());
}

std::vector<std::string> FilesBelow(const fs::path& folder) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files.push_back(entry.path().lexically_relative(folder).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

CommandResult RunProgram(const std::vector<std::string>& argv,
                         const std::optional<fs::path>& workingDirectory) {
  const TempDir capture;
  const fs::path outPath = capture.Path() / "out";
  const fs::path errPath = capture.Path() / "err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (workingDirectory) posix_spawn_file_actions_addchdir_np(&actions, workingDirectory->c_str());
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot run " + argv[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("cannot wait for " + argv[0]);
  }
  CommandResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadHostFile(outPath);
  result.err = ReadHostFile(errPath);
  return result;
}

std::optional<fs::path> FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return std::nullopt;
  std::istringstream folders(path);
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    if (folder.empty()) continue;
    const fs::path candidate = fs::path(folder) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

fs::path KvpackPath() {
  return fs::path(KV_BIN_DIR) / "kvpack";
}

}  // namespace kv::test
