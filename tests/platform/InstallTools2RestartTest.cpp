// Targets in use: replaced at the next restart through a numbered copy, recorded where Windows
// records it (or in WININIT.INI on the 9x family), and applied by `kvhost restart`.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/InstallTools2.h"
#include "platform/Win32.h"
#include "platform/host/Prefix.h"
#include "tests/support/ErrorText.h"
#include "tests/support/HolderProcess.h"
#include "tests/support/InstallerTestAccess.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/PeFixtures.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using Access = TWindowsInstallerTestAccess;
using test::FileVersionNumbers;
using test::HolderProcess;
using test::TempPrefix;

constexpr const char* kSessionManager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::vector<std::string> PendingMoves() {
  win::RegKey key;
  if (win::RegKey::Open(win::HKEY_LOCAL_MACHINE, kSessionManager, win::KEY_READ, key) != win::ERROR_SUCCESS)
    return {};
  win::RegValue value;
  if (key.QueryValue("PendingFileRenameOperations", value) != win::ERROR_SUCCESS) return {};
  return value.AsMultiString();
}

bool PendingValueExists() {
  win::RegKey key;
  if (win::RegKey::Open(win::HKEY_LOCAL_MACHINE, kSessionManager, win::KEY_READ, key) != win::ERROR_SUCCESS) {
    return false;
  }
  win::RegValue value;
  return key.QueryValue("PendingFileRenameOperations", value) == win::ERROR_SUCCESS;
}

using test::VersionOf;

struct KvhostRun {
  int exitCode = -1;
  std::string output;
};

// Runs the kvhost built with the tests on the current prefix (KORVANE_PREFIX is inherited); the
// output is all it writes, standard output then standard error.
KvhostRun Kvhost(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{KV_BIN_DIR "/kvhost"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const test::CommandResult result = test::RunProgram(argv);
  return {result.exitCode, result.out + result.err};
}

using test::RaisedText;

class InstallerInUse : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteVersionedPe(prefix_, "C:\\App\\main.dll", {1, 0, 0, 0});
    test::WriteVersionedPe(prefix_, "C:\\Pkg\\main.dll", {2, 0, 0, 0});
    fs::create_directories(prefix_.Host("C:\\Backup"));
  }

  TempPrefix prefix_;
  TWindowsInstaller installer_{""};
};

TEST_F(InstallerInUse, ATargetInUseIsReplacedAtRestartThroughANumberedCopy) {
  // Held as a loaded library is: readable (so the backup works) but not deletable.
  HolderProcess holder("C:\\App\\main.dll", win::GENERIC_READ, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE);
  ASSERT_TRUE(holder.Holding());
  bool mustReboot = false;
  EXPECT_TRUE(installer_.CopyOrReplaceFileIfNewer("C:\\Pkg\\main.dll", "C:\\App", "C:\\Backup", mustReboot));
  EXPECT_TRUE(mustReboot);
  EXPECT_EQ(VersionOf("C:\\Backup\\main.dll"), (FileVersionNumbers{1, 0, 0, 0}));
  EXPECT_EQ(VersionOf("C:\\App\\main.dll"), (FileVersionNumbers{1, 0, 0, 0}));
  EXPECT_EQ(VersionOf("C:\\App\\main000.dll"), (FileVersionNumbers{2, 0, 0, 0}));
  EXPECT_EQ(win::GetFileAttributes("C:\\App\\main000.dll"), win::FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(PendingMoves(),
            (std::vector<std::string>{"\\??\\C:\\App\\main000.dll", "!\\??\\C:\\App\\main.dll"}));

  const KvhostRun shown = Kvhost({"restart", "--show"});
  EXPECT_EQ(shown.exitCode, 0) << shown.output;
  EXPECT_EQ(shown.output,
            "pending: move C:\\App\\main000.dll -> C:\\App\\main.dll (replacing)\nrestart requested: no\n");
  EXPECT_EQ(PendingMoves().size(), 2u);  // --show changes nothing

  holder.Release();
  const KvhostRun restart = Kvhost({"restart"});
  EXPECT_EQ(restart.exitCode, 0) << restart.output;
  EXPECT_EQ(restart.output,
            "done: move C:\\App\\main000.dll -> C:\\App\\main.dll (replacing)\nno restart was requested\n");
  EXPECT_EQ(VersionOf("C:\\App\\main.dll"), (FileVersionNumbers{2, 0, 0, 0}));
  EXPECT_FALSE(TWindowsInstaller::FileExists("C:\\App\\main000.dll"));
  EXPECT_FALSE(PendingValueExists());
}

TEST_F(InstallerInUse, TheNextFreeNumberIsTaken) {
  prefix_.WriteFile("C:\\App\\main000.dll", "an earlier pending copy");
  HolderProcess holder("C:\\App\\main.dll", win::GENERIC_READ, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE);
  ASSERT_TRUE(holder.Holding());
  bool mustReboot = false;
  EXPECT_TRUE(installer_.CopyOrReplaceFileIfNewer("C:\\Pkg\\main.dll", "C:\\App", "", mustReboot));
  EXPECT_TRUE(mustReboot);
  EXPECT_EQ(prefix_.ReadFile("C:\\App\\main000.dll"), "an earlier pending copy");
  EXPECT_EQ(VersionOf("C:\\App\\main001.dll"), (FileVersionNumbers{2, 0, 0, 0}));
  EXPECT_EQ(VersionOf("C:\\App\\main.dll_0"), (FileVersionNumbers{1, 0, 0, 0}));
  EXPECT_EQ(PendingMoves(),
            (std::vector<std::string>{"\\??\\C:\\App\\main001.dll", "!\\??\\C:\\App\\main.dll"}));
}

TEST_F(InstallerInUse, AnExclusivelyHeldTargetIsReplacedAtRestart) {
  HolderProcess holder("C:\\App\\main.dll");
  ASSERT_TRUE(holder.Holding());
  ASSERT_FALSE(win::DeleteFile("C:\\App\\main.dll"));
  ASSERT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
  bool mustReboot = false;
  Access::ReplaceTargetFile("C:\\Pkg\\main.dll", "C:\\App\\main.dll", mustReboot);
  EXPECT_TRUE(mustReboot);
  EXPECT_EQ(VersionOf("C:\\App\\main000.dll"), (FileVersionNumbers{2, 0, 0, 0}));
  EXPECT_EQ(PendingMoves(),
            (std::vector<std::string>{"\\??\\C:\\App\\main000.dll", "!\\??\\C:\\App\\main.dll"}));
  holder.Release();
  EXPECT_EQ(Kvhost({"restart"}).exitCode, 0);
  EXPECT_EQ(VersionOf("C:\\App\\main.dll"), (FileVersionNumbers{2, 0, 0, 0}));
}

TEST_F(InstallerInUse, AnExclusivelyHeldTargetCannotBeBackedUp) {
  HolderProcess holder("C:\\App\\main.dll");
  ASSERT_TRUE(holder.Holding());
  bool mustReboot = false;
  EXPECT_EQ(
      RaisedText([&] {
        installer_.CopyOrReplaceFileIfNewer("C:\\Pkg\\main.dll", "C:\\App", "C:\\Backup", mustReboot);
      }),
      "Ne peut pas copier le fichier :\r\nC:\\App\\main.dll\r\nDestination :\r\nC:\\Backup\\main.dll\r\n"
      "Le processus ne peut pas accéder au fichier car ce fichier est utilisé par un autre processus.");
  EXPECT_FALSE(mustReboot);
  EXPECT_TRUE(PendingMoves().empty());
}

TEST_F(InstallerInUse, ARefusedMoveAtRestartShowsTheErrorAndAbortsSilently) {
  test::ScriptedUi ui;
  host::Prefix::Current().SetIni("registry", "deny", std::string("HKLM\\") + kSessionManager);
  HolderProcess holder("C:\\App\\main.dll");
  ASSERT_TRUE(holder.Holding());
  bool mustReboot = false;
  EXPECT_EQ(
      RaisedText([&] { Access::ReplaceTargetFile("C:\\Pkg\\main.dll", "C:\\App\\main.dll", mustReboot); }),
      "<silent abort>");
  ASSERT_EQ(ui.Boxes().size(), 1u);
  EXPECT_EQ(ui.Boxes()[0].kind, MessageKind::Error);
  EXPECT_EQ(ui.Boxes()[0].text,
            "Cannot move : \r\nC:\\App\\main000.dll to\r\nC:\\App\\main.dll\r\nAccès refusé.");
  // Nothing is rolled back: the waiting copy stays.
  EXPECT_TRUE(mustReboot);
  EXPECT_TRUE(TWindowsInstaller::FileExists("C:\\App\\main000.dll"));
}

// ---------------------------------------------------------------------------------------------

TEST(KvhostRestart, AppliesEveryMoveInOrderAndClearsTheRequest) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\A\\one.new", "one");
  prefix.WriteFile("C:\\A\\one.dll", "old one");
  prefix.WriteFile("C:\\A\\gone.tmp", "x");
  prefix.WriteFile("C:\\A\\two.new", "two");
  prefix.WriteFile("C:\\A\\two.dll", "kept");
  prefix.WriteFile("C:\\A\\three.new", "three");
  const win::DWORD later = win::MOVEFILE_DELAY_UNTIL_REBOOT;
  ASSERT_TRUE(win::MoveFileEx("C:\\A\\one.new", "C:\\A\\one.dll", later | win::MOVEFILE_REPLACE_EXISTING));
  ASSERT_TRUE(win::MoveFileEx("C:\\A\\gone.tmp", "", later));
  ASSERT_TRUE(win::MoveFileEx("C:\\A\\two.new", "C:\\A\\two.dll", later));  // may not replace
  ASSERT_TRUE(win::MoveFileEx("C:\\A\\three.new", "C:\\A\\three.dll", later));
  // A move chain: the second one sees the result of the first.
  ASSERT_TRUE(win::MoveFileEx("C:\\A\\three.dll", "C:\\A\\final.dll", later));
  TWindowsInstaller::RestartComputer();

  const KvhostRun shown = Kvhost({"restart", "--show"});
  EXPECT_EQ(shown.output,
            "pending: move C:\\A\\one.new -> C:\\A\\one.dll (replacing)\n"
            "pending: delete C:\\A\\gone.tmp\n"
            "pending: move C:\\A\\two.new -> C:\\A\\two.dll\n"
            "pending: move C:\\A\\three.new -> C:\\A\\three.dll\n"
            "pending: move C:\\A\\three.dll -> C:\\A\\final.dll\n"
            "restart requested: yes\n");

  const KvhostRun run = Kvhost({"restart"});
  EXPECT_EQ(run.exitCode, 1);  // one move could not be made
  EXPECT_EQ(run.output,
            "done: move C:\\A\\one.new -> C:\\A\\one.dll (replacing)\n"
            "done: delete C:\\A\\gone.tmp\n"
            "failed: move C:\\A\\two.new -> C:\\A\\two.dll: Impossible de créer un fichier déjà existant.\n"
            "done: move C:\\A\\three.new -> C:\\A\\three.dll\n"
            "done: move C:\\A\\three.dll -> C:\\A\\final.dll\n"
            "restart request cleared\n");
  EXPECT_EQ(prefix.ReadFile("C:\\A\\one.dll"), "one");
  EXPECT_FALSE(TWindowsInstaller::FileOrDirExists("C:\\A\\gone.tmp"));
  EXPECT_EQ(prefix.ReadFile("C:\\A\\two.dll"), "kept");
  EXPECT_EQ(prefix.ReadFile("C:\\A\\final.dll"), "three");
  EXPECT_FALSE(PendingValueExists());
  EXPECT_FALSE(fs::exists(prefix.Root() / "restart-requested"));

  const KvhostRun again = Kvhost({"restart"});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(again.output, "no pending file operations\nno restart was requested\n");
  EXPECT_EQ(Kvhost({"restart", "now"}).exitCode, 2);
}

// ---------------------------------------------------------------------------------------------

class InstallerWininit : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix_.SetSystem("platform", "9x");
    prefix_.SetSystem("version", "4.10");
    prefix_.WriteFile("C:\\App\\main.dll", "old");
    prefix_.WriteFile("C:\\App\\main000.dll", "new");
  }
  std::string Wininit() const { return prefix_.ReadFile("C:\\Windows\\WININIT.INI"); }
  std::vector<std::string> WindowsFolder() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(prefix_.Host("C:\\Windows"))) {
      if (e.is_regular_file()) names.push_back(e.path().filename());
    }
    return names;
  }

  TempPrefix prefix_;
};

TEST_F(InstallerWininit, ANewFileGetsTheRenameSection) {
  Access::ScheduleReplaceAtRestart("C:\\App\\main000.dll", "C:\\App\\main.dll");
  EXPECT_EQ(Wininit(), "[rename]\r\nC:\\App\\main.dll=C:\\App\\main000.dll\r\n");
  EXPECT_TRUE(PendingMoves().empty());
}

TEST_F(InstallerWininit, TheEntryEndsTheExistingRenameSection) {
  prefix_.WriteFile(
      "C:\\Windows\\WININIT.INI",
      "; set up by another installer\r\n[Boot]\r\nshell=x\r\n  [Rename]  \r\nC:\\old.dll=C:\\old000.dll\r\n"
      "\r\n[Other]\r\nkey=value\r\n[rename]\r\nsecond=section\r\n");
  Access::ScheduleReplaceAtRestart("C:\\App\\main000.dll", "C:\\App\\main.dll");
  EXPECT_EQ(
      Wininit(),
      "; set up by another installer\r\n[Boot]\r\nshell=x\r\n  [Rename]  "
      "\r\nC:\\old.dll=C:\\old000.dll\r\n\r\n"
      "C:\\App\\main.dll=C:\\App\\main000.dll\r\n[Other]\r\nkey=value\r\n[rename]\r\nsecond=section\r\n");
  EXPECT_EQ(WindowsFolder(), std::vector<std::string>{"WININIT.INI"});  // the temporary file is gone
}

TEST_F(InstallerWininit, WithoutRenameSectionOneIsAppended) {
  prefix_.WriteFile("C:\\Windows\\WININIT.INI", "[Boot]\nshell=x");
  Access::ScheduleReplaceAtRestart("C:\\App\\main000.dll", "C:\\App\\main.dll");
  EXPECT_EQ(Wininit(), "[Boot]\r\nshell=x\r\n[rename]\r\nC:\\App\\main.dll=C:\\App\\main000.dll\r\n");
  Access::ScheduleReplaceAtRestart("C:\\App\\old.dll", "");
  EXPECT_EQ(
      Wininit(),
      "[Boot]\r\nshell=x\r\n[rename]\r\nC:\\App\\main.dll=C:\\App\\main000.dll\r\nNUL=C:\\App\\old.dll\r\n");
}

TEST_F(InstallerWininit, ATemporaryNameThatCannotBeFoundFailsBeforeAnyChange) {
  prefix_.WriteFile("C:\\Windows\\WININIT.INI", "[rename]\r\n");
  TWindowsInstallerTestAccess::Seams seams;
  seams.RandomStart([] { return 0u; });
  seams.NameTaken([](const std::string&) { return true; });
  EXPECT_EQ(RaisedText([] { Access::ScheduleReplaceAtRestart("C:\\App\\main000.dll", "C:\\App\\main.dll"); }),
            "Error Too many files in dir");
  EXPECT_EQ(Wininit(), "[rename]\r\n");
}

TEST_F(InstallerWininit, ATargetInUseOnTheOlderPlatformGoesToWininit) {
  test::WriteVersionedPe(prefix_, "C:\\App\\lib.dll", {1, 0, 0, 0});
  test::WriteVersionedPe(prefix_, "C:\\Pkg\\lib.dll", {1, 1, 0, 0});
  HolderProcess holder("C:\\App\\lib.dll", win::GENERIC_READ, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE);
  ASSERT_TRUE(holder.Holding());
  TWindowsInstaller installer("");
  bool mustReboot = false;
  EXPECT_TRUE(installer.CopyOrReplaceFileIfNewer("C:\\Pkg\\lib.dll", "C:\\App", "", mustReboot));
  EXPECT_TRUE(mustReboot);
  EXPECT_EQ(Wininit(), "[rename]\r\nC:\\App\\lib.dll=C:\\App\\lib000.dll\r\n");
  EXPECT_TRUE(PendingMoves().empty());
}

}  // namespace
}  // namespace kv
