// How a packaged file replaces an installed one: the version decision, the user's consent, the
// report, and a copy that never leaves a half-written target.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <optional>
#include <set>

#include "engine/UpdateCommon.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/Win32.h"
#include "tests/support/HolderProcess.h"
#include "tests/support/PeFixtures.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::ScriptedUi;
using test::TempPrefix;

constexpr const char* kTarget = "C:\\WKorvane\\TSV\\Programs\\Main.dll";
constexpr const char* kSource = "C:\\Windows\\Temp\\Update1234.tmp";
const std::string kUpToDateQuestion =
    "Le fichier Main.dll présent sur votre système est à jour.\r\n"
    "Voulez-vous tout de même continuer la mise à jour ?";
const std::string kNewerQuestion =
    "Le fichier Main.dll présent sur votre système est plus récent\r\n"
    "que celui qui est contenu dans cette mise à jour.\r\n"
    "Voulez-vous installer un ancien fichier ?";

using test::FileVersionNumbers;

// Times that tell the installed file from the packaged one when both have the same bytes.
constexpr win::FileTime kInstalledTime = 133000000000000000ULL;
constexpr win::FileTime kPackagedTime = 133100000000000000ULL;

// A library of the given version carrying the given last-write time.
void WriteVersioned(const TempPrefix& prefix, const std::string& path, const FileVersionNumbers& version,
                    win::FileTime time) {
  test::WriteVersionedPe(prefix, path, version);
  ASSERT_TRUE(win::SetFileLastWriteTime(path, time));
}

std::vector<std::string> Texts(const MemoryRichText& control) {
  std::vector<std::string> texts;
  for (const auto& line : control.Lines()) texts.push_back(line.text);
  return texts;
}

std::vector<std::string> CopyLines(const std::string& source, const std::string& target) {
  return {"Copie de " + source, "vers " + target, ""};
}

std::set<std::string> FolderEntries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& f : win::FindFiles(folder + "*")) names.insert(f.name);
  return names;
}

win::FileTime LastWrite(const std::string& path) {
  win::FileTime time = 0;
  EXPECT_TRUE(win::GetFileLastWriteTime(path, time)) << path;
  return time;
}

std::string ComposedCopyError(const std::string& source, const std::string& target, win::DWORD code) {
  return "Source: " + source + "\r\nTarget: " + target +
         "\r\n\r\nError: Erreur système.  Code : " + std::to_string(code) + ".\r\n" + SystemErrorText(code);
}

class Policy : public ::testing::Test {
 protected:
  TempPrefix prefix;
  ScriptedUi ui;
  MemoryRichText report;
  TdmUpdateCommon engine;

  void SetUp() override { engine.SetReportControl(&report); }

  void ExpectQuestions(const std::vector<std::string>& questions) {
    std::vector<std::string> texts;
    for (const auto& box : ui.Boxes()) {
      EXPECT_EQ(box.kind, MessageKind::Confirmation);
      EXPECT_EQ(box.caption, "Confirmer");
      EXPECT_EQ(box.buttons, unsigned{mbYes | mbNo});
      texts.push_back(box.text);
    }
    EXPECT_EQ(texts, questions);
    // Each question: the policy's exclamation beep, then the box's own question beep.
    std::vector<std::uint32_t> beeps;
    for (std::size_t i = 0; i < questions.size(); ++i) {
      beeps.push_back(MB_ICONEXCLAMATION);
      beeps.push_back(MB_ICONQUESTION);
    }
    EXPECT_EQ(ui.Beeps(), beeps);
  }
};

// ---------------------------------------------------------------------------------------------
// The decision by version

struct VersionCase {
  const char* label;
  FileVersionNumbers installed;
  FileVersionNumbers packaged;
  std::optional<int> answer;  // nullopt: no question expected
  UpdateOutcome outcome;
};

void PrintTo(const VersionCase& c, std::ostream* os) {
  *os << c.label;
}

class ReplaceByVersion : public Policy, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(ReplaceByVersion, AsksWhenTheInstalledFileIsTheSameOrNewerAndReports) {
  const VersionCase& c = GetParam();
  WriteVersioned(prefix, kTarget, c.installed, kInstalledTime);
  WriteVersioned(prefix, kSource, c.packaged, kPackagedTime);
  const std::string packaged = prefix.ReadFile(kSource);
  if (c.answer) ui.Answer(*c.answer);

  EXPECT_EQ(engine.ReplaceFileByVersion(kSource, kTarget, true, false), c.outcome);

  const bool sameVersion = c.installed == c.packaged;
  if (!c.answer) {
    ExpectQuestions({});
  } else {
    ExpectQuestions({sameVersion ? kUpToDateQuestion : kNewerQuestion});
  }
  if (c.outcome == UpdateOutcome::Completed) {
    EXPECT_EQ(Texts(report), CopyLines(kSource, kTarget));
    EXPECT_EQ(prefix.ReadFile(kTarget), packaged);
    EXPECT_EQ(LastWrite(kTarget), kPackagedTime);
  } else {
    const std::string second = sameVersion ? "est à jour : il n'est pas remplacé." : "n'est pas remplacé !!!";
    EXPECT_EQ(Texts(report), (std::vector<std::string>{std::string("Le fichier ") + kTarget, second, ""}));
    EXPECT_EQ(LastWrite(kTarget), kInstalledTime) << "untouched";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Questions, ReplaceByVersion,
    ::testing::Values(
        VersionCase{"SameVersionYes", {5, 2, 0, 117}, {5, 2, 0, 117}, mrYes, UpdateOutcome::Completed},
        VersionCase{"SameVersionNo", {5, 2, 0, 117}, {5, 2, 0, 117}, mrNo, UpdateOutcome::NotPerformed},
        VersionCase{
            "SameVersionBoxClosed", {5, 2, 0, 117}, {5, 2, 0, 117}, mrNone, UpdateOutcome::NotPerformed},
        VersionCase{"InstalledNewerYes", {2, 0, 0, 0}, {1, 10, 0, 0}, mrYes, UpdateOutcome::Completed},
        VersionCase{"InstalledNewerNo", {2, 0, 0, 0}, {1, 10, 0, 0}, mrNo, UpdateOutcome::NotPerformed},
        VersionCase{"InstalledNewerByBuild", {1, 2, 3, 5}, {1, 2, 3, 4}, mrNo, UpdateOutcome::NotPerformed},
        VersionCase{
            "PackagedNewerByMinor", {1, 9, 0, 0}, {1, 10, 0, 0}, std::nullopt, UpdateOutcome::Completed},
        VersionCase{
            "PackagedNewerByRelease", {1, 2, 3, 9}, {1, 2, 4, 0}, std::nullopt, UpdateOutcome::Completed}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(Policy, AMissingInstalledFileIsAnErrorWhenItMustExist) {
  WriteVersioned(prefix, kSource, {1, 0, 0, 0}, kPackagedTime);
  try {
    engine.ReplaceFileByVersion(kSource, kTarget, true, false);
    FAIL() << "no error raised";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), std::string("Fichier pas trouvé : ") + kTarget);
  }
  ExpectQuestions({});
  EXPECT_TRUE(report.Lines().empty());
}

TEST_F(Policy, AMissingInstalledFileIsInstalledWhenItNeedNotExist) {
  WriteVersioned(prefix, kSource, {1, 0, 0, 0}, kPackagedTime);
  ASSERT_TRUE(win::CreateDirectory("C:\\WKorvane") && win::CreateDirectory("C:\\WKorvane\\TSV") &&
              win::CreateDirectory("C:\\WKorvane\\TSV\\Programs"));
  EXPECT_EQ(engine.ReplaceFileByVersion(kSource, kTarget, false, false), UpdateOutcome::Completed);
  EXPECT_EQ(prefix.ReadFile(kTarget), prefix.ReadFile(kSource));
  EXPECT_EQ(Texts(report), CopyLines(kSource, kTarget));
  ExpectQuestions({});
}

TEST_F(Policy, AVanishedSourceIsReportedByTheComparison) {
  WriteVersioned(prefix, kTarget, {1, 0, 0, 0}, kInstalledTime);
  try {
    engine.ReplaceFileByVersion(kSource, kTarget, true, false);
    FAIL() << "no error raised";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), std::string("File not found : ") + kSource);
  }
  EXPECT_TRUE(report.Lines().empty());
}

class EngineComparingAs : public TdmUpdateCommon {
 public:
  explicit EngineComparingAs(int answer) : answer_(answer) {}

 protected:
  int CompareFileVersion(const std::string&, const std::string&) override { return answer_; }

 private:
  int answer_;
};

TEST_F(Policy, AComparisonOutsideItsThreeAnswersIsAnError) {
  prefix.WriteFile(kTarget, "installed");
  prefix.WriteFile(kSource, "packaged");
  for (int answer : {2, -2}) {
    EngineComparingAs odd(answer);
    try {
      odd.ReplaceFileByVersion(kSource, kTarget, true, false);
      FAIL() << "no error raised for " << answer;
    } catch (const Error& e) {
      EXPECT_EQ(
          std::string(e.what()),
          std::string("Une erreur de comparaison des fichiers s'est produite lors de la mise à jour du ") +
              kTarget);
    }
  }
  EXPECT_EQ(prefix.ReadFile(kTarget), "installed");
}

TEST_F(Policy, DeferredCopyOnlyDecides) {
  WriteVersioned(prefix, kTarget, {1, 0, 0, 0}, kInstalledTime);
  WriteVersioned(prefix, kSource, {1, 1, 0, 0}, kPackagedTime);
  const std::string installed = prefix.ReadFile(kTarget);
  EXPECT_EQ(engine.ReplaceFileByVersion(kSource, kTarget, true, true), UpdateOutcome::Completed);
  EXPECT_EQ(prefix.ReadFile(kTarget), installed);
  EXPECT_TRUE(report.Lines().empty());

  // Consent to an up-to-date file is given, but the copy still waits for the caller.
  WriteVersioned(prefix, kSource, {1, 0, 0, 0}, kPackagedTime);
  ui.Answer(mrYes);
  EXPECT_EQ(engine.ReplaceFileByVersion(kSource, kTarget, true, true), UpdateOutcome::Completed);
  EXPECT_EQ(LastWrite(kTarget), kInstalledTime);
  EXPECT_TRUE(report.Lines().empty());
  ExpectQuestions({kUpToDateQuestion});
}

// ---------------------------------------------------------------------------------------------
// Files without version: decided by their times

struct TimeCase {
  const char* label;
  std::int64_t packagedMinusInstalled;  // 100-ns units
  std::optional<std::string> question;
  UpdateOutcome outcome;  // with the answer No
};

void PrintTo(const TimeCase& c, std::ostream* os) {
  *os << c.label;
}

class ReplaceByTime : public Policy, public ::testing::WithParamInterface<TimeCase> {};

TEST_P(ReplaceByTime, TheLaterFileWins) {
  const TimeCase& c = GetParam();
  const win::FileTime installedTime = 133000000000000000ULL;
  prefix.WriteFile(kTarget, "installed dictionary");
  prefix.WriteFile(kSource, "packaged dictionary");
  ASSERT_TRUE(win::SetFileLastWriteTime(kTarget, installedTime));
  ASSERT_TRUE(win::SetFileLastWriteTime(kSource, installedTime + c.packagedMinusInstalled));
  if (c.question) ui.Answer(mrNo);
  EXPECT_EQ(engine.ReplaceFileByVersion(kSource, kTarget, true, false), c.outcome);
  ExpectQuestions(c.question ? std::vector<std::string>{*c.question} : std::vector<std::string>{});
  EXPECT_EQ(prefix.ReadFile(kTarget),
            c.outcome == UpdateOutcome::Completed ? "packaged dictionary" : "installed dictionary");
}

INSTANTIATE_TEST_SUITE_P(
    Times, ReplaceByTime,
    ::testing::Values(TimeCase{"SameTime", 0, kUpToDateQuestion, UpdateOutcome::NotPerformed},
                      TimeCase{"PackagedLater", 1, std::nullopt, UpdateOutcome::Completed},
                      TimeCase{"InstalledLater", -10000000, kNewerQuestion, UpdateOutcome::NotPerformed}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(Policy, RunningTheSamePackageTwiceAsksTheUpToDateQuestion) {
  const win::FileTime packagedTime = 133100000000000001ULL;
  prefix.WriteFile(kTarget, "old dictionary");
  prefix.WriteFile(kSource, "new dictionary");
  ASSERT_TRUE(win::SetFileLastWriteTime(kTarget, packagedTime - 50000000));
  ASSERT_TRUE(win::SetFileLastWriteTime(kSource, packagedTime));
  EXPECT_EQ(engine.ReplaceFileByVersion(kSource, kTarget, true, false), UpdateOutcome::Completed);
  EXPECT_EQ(LastWrite(kTarget), packagedTime) << "the installed copy carries the package's time";

  ui.Answer(mrNo);
  EXPECT_EQ(engine.ReplaceFileByVersion(kSource, kTarget, true, false), UpdateOutcome::NotPerformed);
  ExpectQuestions({kUpToDateQuestion});
}

// ---------------------------------------------------------------------------------------------
// The copy

TEST_F(Policy, CopyReportsThenCopiesKeepingTheSourceTime) {
  prefix.WriteFile(kTarget, "old");
  prefix.WriteFile(kSource, "new content");
  const win::FileTime stamp = 133000000001234567ULL;
  ASSERT_TRUE(win::SetFileLastWriteTime(kSource, stamp));
  engine.CopyPackagedFile(kSource, kTarget, true);
  EXPECT_EQ(prefix.ReadFile(kTarget), "new content");
  EXPECT_EQ(LastWrite(kTarget), stamp);
  EXPECT_EQ(Texts(report), CopyLines(kSource, kTarget));
  EXPECT_GT(ui.ProcessEventsCalls(), 0) << "the pause keeps the window painting";
  EXPECT_EQ(FolderEntries("C:\\WKorvane\\TSV\\Programs\\"), (std::set<std::string>{"Main.dll"}));

  prefix.WriteFile(kSource, "quiet");
  engine.CopyPackagedFile(kSource, kTarget, false);
  EXPECT_EQ(prefix.ReadFile(kTarget), "quiet");
  EXPECT_EQ(report.LineCount(), 3) << "no lines without Report";
}

TEST_F(Policy, ReadOnlyFilesAreReplacedAndEndWithNormalAttributes) {
  for (const bool sourceReadOnly : {false, true}) {
    SCOPED_TRACE(sourceReadOnly ? "read-only source" : "writable source");
    prefix.WriteFile(kTarget, "old");
    prefix.WriteFile(kSource, "new");
    ASSERT_TRUE(win::SetFileAttributes(kTarget, win::FILE_ATTRIBUTE_READONLY));
    if (sourceReadOnly) {
      ASSERT_TRUE(win::SetFileAttributes(kSource, win::FILE_ATTRIBUTE_READONLY));
    }
    engine.CopyPackagedFile(kSource, kTarget, true);
    EXPECT_EQ(prefix.ReadFile(kTarget), "new");
    EXPECT_EQ(win::GetFileAttributes(kTarget), win::FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(FolderEntries("C:\\WKorvane\\TSV\\Programs\\"), (std::set<std::string>{"Main.dll"}));
    ASSERT_TRUE(win::SetFileAttributes(kSource, win::FILE_ATTRIBUTE_NORMAL));
  }
}

TEST_F(Policy, ALeftoverOfAnEarlierAttemptIsLeftAlone) {
  prefix.WriteFile(kTarget, "old");
  prefix.WriteFile(kSource, "new");
  prefix.WriteFile("C:\\WKorvane\\TSV\\Programs\\~Main.dll.kvnew", "someone's leftover");
  engine.CopyPackagedFile(kSource, kTarget, false);
  EXPECT_EQ(prefix.ReadFile(kTarget), "new");
  EXPECT_EQ(prefix.ReadFile("C:\\WKorvane\\TSV\\Programs\\~Main.dll.kvnew"), "someone's leftover");
  EXPECT_EQ(FolderEntries("C:\\WKorvane\\TSV\\Programs\\"),
            (std::set<std::string>{"Main.dll", "~Main.dll.kvnew"}));
}

TEST_F(Policy, ACopyFailureRaisesTheComposedSystemError) {
  struct Case {
    const char* label;
    std::string source;
    std::string target;
    win::DWORD code;
  };
  prefix.WriteFile(kSource, "new");
  prefix.WriteFile(kTarget, "old");
  const std::vector<Case> table = {
      {"missing source", "C:\\Windows\\Temp\\Update9.tmp", kTarget, win::ERROR_FILE_NOT_FOUND},
      {"missing target folder", kSource, "C:\\Nowhere\\Main.dll", win::ERROR_PATH_NOT_FOUND},
      {"target is a folder", kSource, "C:\\WKorvane\\TSV\\Programs", win::ERROR_ACCESS_DENIED},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.label);
    try {
      engine.CopyPackagedFile(c.source, c.target, false);
      ADD_FAILURE() << "no error raised";
    } catch (const SystemError& e) {
      EXPECT_EQ(e.code(), c.code);
      EXPECT_EQ(std::string(e.what()), ComposedCopyError(c.source, c.target, c.code));
    }
  }
  EXPECT_EQ(prefix.ReadFile(kTarget), "old");
  EXPECT_EQ(FolderEntries("C:\\WKorvane\\TSV\\Programs\\"), (std::set<std::string>{"Main.dll"}));
  EXPECT_EQ(FolderEntries("C:\\WKorvane\\TSV\\"), (std::set<std::string>{"Programs"}));
}

TEST_F(Policy, ATargetInUseFailsWithTheSharingViolation) {
  WriteVersioned(prefix, kTarget, {1, 0, 0, 0}, kInstalledTime);
  WriteVersioned(prefix, kSource, {1, 1, 0, 0}, kPackagedTime);
  const std::string installed = prefix.ReadFile(kTarget);
  test::HolderProcess holder(kTarget);
  ASSERT_TRUE(holder.Holding()) << "the child could not hold " << kTarget;

  EXPECT_EQ(engine.ReplaceFileByVersion(kSource, kTarget, true, false), UpdateOutcome::Failed);
  EXPECT_EQ(Texts(report), CopyLines(kSource, kTarget)) << "no error line";

  try {
    engine.CopyPackagedFile(kSource, kTarget, true);
    FAIL() << "no error raised";
  } catch (const SystemError& e) {
    const std::string message = e.what();
    EXPECT_EQ(e.code(), win::ERROR_SHARING_VIOLATION);
    EXPECT_EQ(message, ComposedCopyError(kSource, kTarget, win::ERROR_SHARING_VIOLATION));
    const std::string systemText = SystemErrorText(win::ERROR_SHARING_VIOLATION);
    ASSERT_FALSE(systemText.empty());
    EXPECT_EQ(message.substr(message.size() - systemText.size()), systemText);
  }
  EXPECT_EQ(report.LineCount(), 6) << "the copy lines come first";
  EXPECT_EQ(prefix.ReadFile(kTarget), installed);
  EXPECT_EQ(FolderEntries("C:\\WKorvane\\TSV\\Programs\\"), (std::set<std::string>{"Main.dll"}));
}

// Files written by this process stop growing at `bytes`, as on a full disk; the signal that
// would end the process is ignored, so the write fails instead.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, previous_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  sighandler_t previous_ = SIG_DFL;
};

TEST_F(Policy, AnInterruptedCopyLeavesTheOldTargetWhole) {
  const std::string big(256 * 1024, 'n');
  prefix.WriteFile(kTarget, "old content");
  prefix.WriteFile(kSource, big);
  ASSERT_TRUE(win::SetFileLastWriteTime(kSource, LastWrite(kTarget) + 10000000));
  {
    SCOPED_TRACE("disk full in the middle of the copy");
    FileSizeLimit full(64 * 1024);
    EXPECT_THROW(engine.CopyPackagedFile(kSource, kTarget, false), SystemError);
    EXPECT_EQ(engine.ReplaceFileByVersion(kSource, kTarget, false, false), UpdateOutcome::Failed);
  }
  EXPECT_EQ(prefix.ReadFile(kTarget), "old content");
  EXPECT_EQ(FolderEntries("C:\\WKorvane\\TSV\\Programs\\"), (std::set<std::string>{"Main.dll"}));

  {
    SCOPED_TRACE("a source that cannot be read");
    const std::string unreadable = "C:\\Windows\\Temp\\Update77.tmp";
    fs::create_symlink("/proc/self/mem", prefix.Host("C:\\Windows\\Temp\\") / "Update77.tmp");
    ASSERT_NE(win::GetFileAttributes(unreadable), win::INVALID_FILE_ATTRIBUTES);
    EXPECT_THROW(engine.CopyPackagedFile(unreadable, kTarget, false), SystemError);
  }
  EXPECT_EQ(prefix.ReadFile(kTarget), "old content");
  EXPECT_EQ(FolderEntries("C:\\WKorvane\\TSV\\Programs\\"), (std::set<std::string>{"Main.dll"}));

  engine.CopyPackagedFile(kSource, kTarget, false);
  EXPECT_TRUE(prefix.ReadFile(kTarget) == big) << "the copy succeeds once space is back";
}

}  // namespace
}  // namespace kv
