// Crash consistency of the file side: the built updater, run unattended on a shared-files package
// of several files of a few MB, is killed with SIGKILL at moments spread over its run, each time on
// a fresh copy of the installation. After every kill each installed file is byte for byte its old
// content or its new one, never a mixture; the next run of the same package completes and leaves
// the installation exactly as an uninterrupted run does: no temporary or part file anywhere.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/PackageFixtures.h"
#include "tests/support/TempPrefix.h"

extern char** environ;

namespace kv {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::CommandResult;
using test::ReadHostFile;
using test::TempDir;
using test::WriteHostFile;

const fs::path kBin = KV_BIN_DIR;
const fs::path kSource = KV_SOURCE_DIR;

// Enough files, and large enough, that a kill lands in the middle of an extraction or a copy.
constexpr int kFiles = 8;
constexpr std::size_t kFileSize = std::size_t{3} << 20;
constexpr int kWantedKills = 36;
constexpr int kMaxAttempts = 72;

// A process of the updater, killed or ended; never left running.
class UpdaterProcess {
 public:
  UpdaterProcess(const fs::path& program, const fs::path& prefix, const fs::path& log) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      if (!std::string(*e).starts_with("KORVANE_PREFIX=")) env.emplace_back(*e);
    }
    env.push_back("KORVANE_PREFIX=" + prefix.string());
    const std::vector<std::string> args = {program.string(), "--unattended", "--log", log.string()};
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~UpdaterProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  UpdaterProcess(const UpdaterProcess&) = delete;
  UpdaterProcess& operator=(const UpdaterProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  // Kills the process; true when it was still running, false when it had ended by itself.
  bool Kill() {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    ::kill(pid_, SIGKILL);
    status = Wait();
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }
  // The exit status as waitpid gives it.
  int Wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
};

// Every file and folder below a root, as relative paths, with the file contents' sizes.
std::map<std::string, std::uintmax_t> Tree(const fs::path& root) {
  std::map<std::string, std::uintmax_t> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = entry.path().lexically_relative(root).string();
    tree[relative] = entry.is_regular_file() ? entry.file_size() : 0;
  }
  return tree;
}

std::string Describe(const std::map<std::string, std::uintmax_t>& expected,
                     const std::map<std::string, std::uintmax_t>& actual) {
  std::string text;
  for (const auto& [name, size] : actual) {
    if (!expected.contains(name))
      text += "  left behind: " + name + " (" + std::to_string(size) + " bytes)\n";
  }
  for (const auto& [name, size] : expected) {
    if (!actual.contains(name)) text += "  missing: " + name + "\n";
  }
  return text;
}

class KillPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const fs::path& needed : {kBin / "kvhost", kBin / "kvpack", kBin / "korvane-update"}) {
      ASSERT_TRUE(fs::exists(needed)) << needed << " is missing: build kvhost, kvpack and korvane-update";
    }
    // The package: the key Common and the files it lists, new content of its own for each.
    const fs::path package = scratch_.Path() / "package";
    WriteHostFile(package / "Updates.txt", "Common\r\n");
    WriteHostFile(package / "AppInfo1.txt", "Fichiers communs\r\n");
    std::string list;
    for (int i = 0; i < kFiles; ++i) {
      const std::string name = "Partage" + std::to_string(i) + ".dll";
      names_.push_back(name);
      list += name + "\r\n";
      newContent_[name] = test::RandomBytes(kFileSize + static_cast<std::size_t>(i), 100 + i);
      WriteHostFile(package / name, newContent_[name]);
    }
    WriteHostFile(package / "FileNames.txt", list);
    const CommandResult packed =
        test::RunProgram({(kBin / "kvpack").string(), "build", package.string(), "-o", updater_.string(),
                          "--stub", (kBin / "korvane-update").string()});
    ASSERT_EQ(packed.exitCode, 0) << packed.err;

    // The installation: the demo suite, with an older version of every listed file but the last,
    // which the update adds; one of them read-only.
    const CommandResult made =
        test::RunProgram({"env", "KVHOST=" + (kBin / "kvhost").string(), "bash",
                          (kSource / "demo" / "make-prefix").string(), template_.string()});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    for (int i = 0; i + 1 < kFiles; ++i) {
      const std::string& name = names_[static_cast<std::size_t>(i)];
      oldContent_[name] = test::RandomBytes(kFileSize / 2 + static_cast<std::size_t>(i) * 4096, 200 + i);
      WriteHostFile(Common(template_) / name, oldContent_[name]);
    }
    fs::permissions(Common(template_) / names_[0],
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);

    // What an uninterrupted run leaves, and how long it takes.
    const fs::path reference = scratch_.Path() / "reference";
    for (int i = 0; i < 2; ++i) {
      Fresh(reference);
      const auto start = Clock::now();
      UpdaterProcess run(updater_, reference, scratch_.Path() / "reference.log");
      ASSERT_TRUE(run.Started());
      const int status = run.Wait();
      const auto took = Clock::now() - start;
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
          << "the uninterrupted run failed:\n"
          << ReadHostFile(scratch_.Path() / "reference.log");
      duration_ = i == 0 ? took : std::min(duration_, took);
    }
    ExpectNewFiles(reference);
    expectedTree_ = Tree(reference);
    fs::remove_all(reference);
  }

  static fs::path Common(const fs::path& prefix) {
    return prefix / "drives" / "c" / "WKorvane" / "Common" / "Programs";
  }

  // A fresh copy of the installation at `prefix`, with the update executable on its CD-ROM drive.
  void Fresh(const fs::path& prefix) const {
    fs::remove_all(prefix);
    fs::copy(template_, prefix, fs::copy_options::recursive);
  }

  void ExpectNewFiles(const fs::path& prefix) const {
    for (const std::string& name : names_) {
      EXPECT_TRUE(ReadHostFile(Common(prefix) / name) == newContent_.at(name))
          << name << " is not the new file";
    }
  }

  TempDir scratch_;
  const fs::path template_ = scratch_.Path() / "template";
  const fs::path updater_ = scratch_.Path() / "KorvaneFichiersCommuns.exe";
  std::vector<std::string> names_;
  std::map<std::string, std::string> newContent_;
  std::map<std::string, std::string> oldContent_;
  Clock::duration duration_{};
  std::map<std::string, std::uintmax_t> expectedTree_;
};

TEST_F(KillPoints, EveryFileIsOldOrNewAfterAKillAndTheNextRunCompletesAndLeavesNothingBehind) {
  const fs::path prefix = scratch_.Path() / "prefix";
  int kills = 0, filesChecked = 0, killsLeavingFiles = 0;
  // The moments spread over the run; a run that ends before its moment tells the run is shorter
  // than measured (a lighter load), and the later moments shrink with it.
  auto span = duration_;
  std::vector<double> landed;
  for (int attempt = 0; attempt < kMaxAttempts && kills < kWantedKills; ++attempt) {
    const double fraction = (kills + 0.5) / kWantedKills;
    const auto moment = std::chrono::duration_cast<Clock::duration>(span * fraction);
    Fresh(prefix);
    const auto start = Clock::now();
    UpdaterProcess run(updater_, prefix, scratch_.Path() / "killed.log");
    ASSERT_TRUE(run.Started());
    std::this_thread::sleep_until(start + moment);
    if (!run.Kill()) {
      span = std::chrono::duration_cast<Clock::duration>((Clock::now() - start) * 0.9);
      continue;
    }
    ++kills;
    landed.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    SCOPED_TRACE("killed after " + std::to_string(landed.back()) + " ms");

    for (const std::string& name : names_) {
      const fs::path file = Common(prefix) / name;
      ++filesChecked;
      if (!fs::exists(file)) {
        EXPECT_FALSE(oldContent_.contains(name)) << name << " vanished";
        continue;
      }
      const std::string content = ReadHostFile(file);
      const bool isOld = oldContent_.contains(name) && content == oldContent_.at(name);
      EXPECT_TRUE(isOld || content == newContent_.at(name))
          << name << " is neither its old nor its new content (" << content.size() << " bytes)";
    }
    const auto killedTree = Tree(prefix);
    if (std::any_of(killedTree.begin(), killedTree.end(),
                    [&](const auto& entry) { return !expectedTree_.contains(entry.first); })) {
      ++killsLeavingFiles;
    }

    UpdaterProcess again(updater_, prefix, scratch_.Path() / "again.log");
    ASSERT_TRUE(again.Started());
    const int status = again.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the run after the kill did not complete:\n"
                                                               << ReadHostFile(scratch_.Path() / "again.log");
    ExpectNewFiles(prefix);
    const auto tree = Tree(prefix);
    EXPECT_TRUE(tree == expectedTree_) << "the run after the kill left:\n" << Describe(expectedTree_, tree);
    if (HasFailure()) break;  // one bad case tells enough
  }
  std::string moments;
  for (const double ms : landed) moments += " " + std::to_string(static_cast<int>(ms));
  std::printf(
      "kill points: %d (ms after start:%s); uninterrupted run %.0f ms; target files checked: %d; "
      "kills that left files behind: %d\n",
      kills, moments.c_str(), std::chrono::duration<double, std::milli>(duration_).count(), filesChecked,
      killsLeavingFiles);
  EXPECT_GE(kills, 30) << "too few kills landed inside a run";
  EXPECT_GT(killsLeavingFiles, 0) << "no kill interrupted the writing of a file: the moments miss the run";
}

}  // namespace
}  // namespace kv
