// Part files: the names a run writes under before a file takes its place, and the removal of
// those that killed runs left behind, never of those a live run still writes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "engine/Package.h"
#include "engine/PartFile.h"
#include "engine/UpdateCommon.h"
#include "platform/FileUtils.h"
#include "platform/Win32.h"
#include "platform/Errors.h"
#include "platform/Win32Shell.h"
#include "platform/host/Prefix.h"
#include "tests/support/HolderProcess.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

using test::TempPrefix;

constexpr const char* kFolder = "C:\\WKorvane\\Common\\Programs\\";

// The id of a process that has ended (and been reaped): no process runs under it now.
win::DWORD DeadProcessId() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  return static_cast<win::DWORD>(child);
}

std::set<std::string> FolderEntries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& f : win::FindFiles(folder + "*")) names.insert(f.name);
  return names;
}

TEST(PartFileName, CarriesTheTargetsNameAndItsWriter) {
  EXPECT_EQ(PartFileName("C:\\A\\french.adm", 4711, 3), "C:\\A\\~french.adm.~4711-3.kvpart");
  EXPECT_EQ(PartFileOwner("C:\\A\\~french.adm.~4711-3.kvpart"), 4711u);
  // A long name keeps 64 bytes of itself, never half a character.
  const std::string longName = std::string(63, 'a') + "é" + std::string(100, 'b');
  const std::string part = ExtractFileName(PartFileName("C:\\" + longName, 7, 0));
  EXPECT_EQ(part, "~" + std::string(63, 'a') + ".~7-0.kvpart");
  EXPECT_EQ(PartFileOwner(part), 7u);
}

TEST(PartFileName, OnlyItsOwnPatternIsAPartFile) {
  struct Case {
    const char* name;
    std::optional<win::DWORD> owner;
  };
  for (const Case& c :
       {Case{"~a.~1-0.kvpart", 1u}, Case{"~Update123.tmp.~98765-12.KVPART", 98765u},
        Case{"~x.~y.~22-1.kvpart", 22u}, Case{"~4294967295.~4294967295-4294967295.kvpart", 4294967295u},
        Case{"a.~1-0.kvpart", std::nullopt}, Case{"~a.~1-0.kvnew", std::nullopt},
        Case{"~Main.dll.kvnew", std::nullopt}, Case{"~a.~-0.kvpart", std::nullopt},
        Case{"~a.~1-.kvpart", std::nullopt}, Case{"~a.~1.kvpart", std::nullopt},
        Case{"~a.~x1-0.kvpart", std::nullopt}, Case{"~a.~4294967296-0.kvpart", std::nullopt},
        Case{"~a.~1-0x.kvpart", std::nullopt}, Case{"~.~1-0.kvpart", std::nullopt},
        Case{"~a.1-0.kvpart", std::nullopt}, Case{".kvpart", std::nullopt}, Case{"~.kvpart", std::nullopt},
        Case{"Lisezmoi.txt", std::nullopt}}) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PartFileOwner(c.name), c.owner);
  }
}

TEST(AbandonedPartFiles, OnlyThoseOfEndedWritersThatNobodyHoldsAreRemoved) {
  TempPrefix prefix;
  const win::DWORD dead = DeadProcessId();
  const win::DWORD self = win::GetCurrentProcessId();
  const win::DWORD parent = static_cast<win::DWORD>(getppid());  // alive: it runs this test
  const std::string d = std::to_string(dead);
  const std::string killed = "~french.adm.~" + d + "-0.kvpart";
  const std::string killedToo = "~Update42.tmp.~" + d + "-7.kvpart";
  const std::string heldElsewhere = "~wPDF200A.dll.~" + d + "-1.kvpart";  // a run on another workstation
  const std::string ours = "~a.dll.~" + std::to_string(self) + "-0.kvpart";
  const std::string living = "~b.dll.~" + std::to_string(parent) + "-0.kvpart";
  const std::set<std::string> others = {"~Main.dll.kvnew", "Lisezmoi.txt", "a.~" + d + "-0.kvpart",
                                        "~c.dll.~" + d + "-x.kvpart"};
  for (const std::string& name : {killed, killedToo, heldElsewhere, ours, living}) {
    prefix.WriteFile(kFolder + name, "part");
  }
  for (const std::string& name : others) prefix.WriteFile(kFolder + name, "not ours");
  test::HolderProcess holder(kFolder + heldElsewhere, win::GENERIC_WRITE, 0);
  ASSERT_TRUE(holder.Holding());

  win::SetLastError(1234);
  EXPECT_EQ(RemoveAbandonedPartFiles(kFolder), 2);
  EXPECT_EQ(win::GetLastError(), 1234u) << "the caller's last error is kept";
  std::set<std::string> expected = others;
  expected.insert({heldElsewhere, ours, living});
  EXPECT_EQ(FolderEntries(kFolder), expected);

  holder.Release();
  EXPECT_EQ(RemoveAbandonedPartFiles("C:\\WKorvane\\Common\\Programs"), 1) << "released: removed";
  EXPECT_EQ(RemoveAbandonedPartFiles("C:\\Nowhere\\"), 0);
  EXPECT_EQ(RemoveAbandonedPartFiles(""), 0);
}

TEST(PartFile, IsHeldWithoutSharingUntilItTakesTheTargetsPlace) {
  TempPrefix prefix;
  const std::string target = std::string(kFolder) + "french.adm";
  prefix.WriteFile(target, "old");
  {
    PartFile part(target);
    EXPECT_EQ(PartFileOwner(part.Path()), win::GetCurrentProcessId());
    ASSERT_TRUE(part.File().Write("new", 3));
    // Another process can neither read it nor delete it, nor can the removal of leftovers.
    test::HolderProcess reader(part.Path(), win::GENERIC_READ, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE);
    EXPECT_FALSE(reader.Holding());
    EXPECT_FALSE(win::DeleteFile(part.Path()));
    EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
    ASSERT_TRUE(part.ReplaceTarget(true));
  }
  EXPECT_EQ(prefix.ReadFile(target), "new");
  EXPECT_EQ(FolderEntries(kFolder), (std::set<std::string>{"french.adm"}));

  {
    PartFile abandoned(target);
    ASSERT_TRUE(abandoned.File().Write("half", 4));
  }
  EXPECT_EQ(FolderEntries(kFolder), (std::set<std::string>{"french.adm"})) << "deleted when not placed";
  EXPECT_EQ(prefix.ReadFile(target), "new");
}

TEST(PartFile, ATargetInUseIsNotReplacedAndThePartFileGoes) {
  TempPrefix prefix;
  const std::string target = std::string(kFolder) + "wPDF300A.dll";
  prefix.WriteFile(target, "loaded");
  test::HolderProcess library(target, win::GENERIC_READ, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE);
  ASSERT_TRUE(library.Holding());
  {
    PartFile part(target);
    ASSERT_TRUE(part.File().Write("new", 3));
    EXPECT_FALSE(part.ReplaceTarget(true));
    EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
  }
  EXPECT_EQ(prefix.ReadFile(target), "loaded");
  EXPECT_EQ(FolderEntries(kFolder), (std::set<std::string>{"wPDF300A.dll"}));
}

// The new content could not be written through to the disk: the rename that would make it the
// target does not happen, the target keeps its old content, and the copy reports the failure.
TEST(PartFile, AFlushThatFailsLeavesTheTargetAsItWasAndIsReported) {
  TempPrefix prefix;
  const std::string target = std::string(kFolder) + "french.adm";
  prefix.WriteFile(target, "old");
  host::Prefix::Current().SetIni("files", "flush_error", "1117");
  {
    PartFile part(target);
    ASSERT_TRUE(part.File().Write("new", 3));
    EXPECT_FALSE(part.ReplaceTarget(true));
    EXPECT_EQ(win::GetLastError(), 1117u);
  }
  EXPECT_EQ(prefix.ReadFile(target), "old");
  EXPECT_EQ(FolderEntries(kFolder), (std::set<std::string>{"french.adm"}));

  const std::string source = win::GetTempPath() + "Update1.tmp";
  prefix.WriteFile(source, "new");
  TdmUpdateCommon engine;
  try {
    engine.CopyPackagedFile(source, target, false);
    ADD_FAILURE() << "the copy succeeded";
  } catch (const SystemError& error) {
    EXPECT_EQ(error.code(), 1117u);
  }
  EXPECT_EQ(prefix.ReadFile(target), "old");
  EXPECT_EQ(FolderEntries(kFolder), (std::set<std::string>{"french.adm"}));

  host::Prefix::Current().SetIni("files", "flush_error", "");
  engine.CopyPackagedFile(source, target, false);
  EXPECT_EQ(prefix.ReadFile(target), "new");
}

// A run cleans the folders it writes into, the temporary folder and each target folder, once.
TEST(PartFile, TheEngineRemovesWhatKilledRunsLeftInTheFoldersItWritesInto) {
  TempPrefix prefix;
  const std::string d = std::to_string(DeadProcessId());
  const std::string temp = win::GetTempPath();
  prefix.WriteFile(temp + "~Update17.tmp.~" + d + "-0.kvpart", "killed extraction");
  prefix.WriteFile(std::string(kFolder) + "~french.adm.~" + d + "-1.kvpart", "killed copy");
  prefix.WriteFile("C:\\Elsewhere\\~x.dll.~" + d + "-2.kvpart", "a folder this run never writes to");
  prefix.WriteFile(temp + "Update9.tmp", "new");

  TdmUpdateCommon engine;
  engine.SetRandomSource([](std::uint32_t) { return 5u; });
  const std::string name = engine.NewTempFileName("Update");
  EXPECT_EQ(FolderEntries(temp), (std::set<std::string>{"Update9.tmp"}));
  engine.CopyPackagedFile(temp + "Update9.tmp", std::string(kFolder) + "french.adm", false);
  EXPECT_EQ(FolderEntries(kFolder), (std::set<std::string>{"french.adm"}));
  EXPECT_EQ(FolderEntries("C:\\Elsewhere\\").size(), 1u);

  // Once per folder: a leftover appearing later in the same run is the next run's to remove.
  prefix.WriteFile(temp + "~Update18.tmp.~" + d + "-3.kvpart", "later");
  engine.NewTempFileName("Update");
  EXPECT_TRUE(FolderEntries(temp).contains("~Update18.tmp.~" + d + "-3.kvpart"));
  EXPECT_EQ(name, temp + "Update5.tmp");
}

}  // namespace
}  // namespace kv
