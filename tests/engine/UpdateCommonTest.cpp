// The update engine's package texts, temporary files, report and frame lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <regex>
#include <set>

#include "engine/Package.h"
#include "engine/UpdateCommon.h"
#include "platform/Errors.h"
#include "platform/Win32.h"
#include "tests/support/LoadedLibraries.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

using test::ScriptedUi;
using test::TempPrefix;

std::vector<std::string> Texts(const MemoryRichText& control) {
  std::vector<std::string> texts;
  for (const auto& line : control.Lines()) texts.push_back(line.text);
  return texts;
}

// A generator answering the given numbers in turn, recording the bounds it was asked for.
struct ScriptedNumbers {
  std::deque<std::uint32_t> numbers;
  std::vector<std::uint32_t> bounds;

  TdmUpdateCommon::RandomSource Source() {
    return [this](std::uint32_t bound) {
      bounds.push_back(bound);
      EXPECT_FALSE(numbers.empty()) << "more draws than scripted";
      if (numbers.empty()) return std::uint32_t{0};
      const std::uint32_t n = numbers.front();
      numbers.pop_front();
      return n;
    };
  }
};

// ---------------------------------------------------------------------------------------------
// Text resources

struct LinesCase {
  const char* label;
  std::string bytes;
  std::vector<std::string> lines;
};

void PrintTo(const LinesCase& c, std::ostream* os) {
  *os << c.label;
}

class LoadResourceLinesTest : public ::testing::TestWithParam<LinesCase> {};

TEST_P(LoadResourceLinesTest, DecodesAndSplitsTheText) {
  TempPrefix prefix;
  MemoryPackage package;
  package.Add("UPDATES.TXT", GetParam().bytes, 133000000000000000ULL);
  CurrentPackageScope current(package);
  TdmUpdateCommon engine;
  std::vector<std::string> lines = {"left over"};
  EXPECT_EQ(engine.LoadResourceLines("Updates.txt", lines), static_cast<int>(GetParam().lines.size()));
  EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LoadResourceLinesTest,
    ::testing::Values(
        LinesCase{"Cp1252WithoutMark", "Caf\xE9\r\n\x80 5", {"Café", "€ 5"}},
        LinesCase{"Utf8Mark",
                  "\xEF\xBB\xBF"
                  "Café\r\nB",
                  {"Café", "B"}},
        // Malformed UTF-8 after the mark reads as U+FFFD, never as bytes passed on to names.
        LinesCase{"Utf8MarkWithMalformedBytes",
                  "\xEF\xBB\xBF"
                  "x.\x95\x93l\r\nSoci\xE9t\xE9\r\n\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80\xE2\x82",
                  {"x.\uFFFD\uFFFDl", "Soci\uFFFDt\uFFFD",
                   "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"}},
        LinesCase{"Utf8WithoutMarkIsReadAsCp1252", "Caf\xC3\xA9", {"CafÃ©"}},
        LinesCase{"Utf16LittleEndianMark",
                  std::string("\xFF\xFE"
                              "C\0a\0f\0\xE9\0\r\0\n\0X\0",
                              16),
                  {"Café", "X"}},
        LinesCase{"Utf16BigEndianMark", std::string("\xFE\xFF\0C\0a\0f\0\xE9\0\n\0X", 14), {"Café", "X"}},
        LinesCase{"MixedLineEnds", "a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        LinesCase{"EmptyLinesKept", "a\n\n\r\rb\r\n\r\n", {"a", "", "", "", "b", ""}},
        LinesCase{"FinalEndAddsNoLine", "Common\r\n", {"Common"}}, LinesCase{"OnlyALineEnd", "\r\n", {""}},
        LinesCase{"Empty", "", {}}, LinesCase{"MarkOnly", "\xEF\xBB\xBF", {}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(LoadResourceLines, AMissingResourceGivesZeroAndAnEmptyList) {
  TempPrefix prefix;
  MemoryPackage package;
  package.Add("AppInfo1.txt", "Fichiers communs", 0);
  CurrentPackageScope current(package);
  TdmUpdateCommon engine;
  std::vector<std::string> lines = {"left over"};
  EXPECT_EQ(engine.LoadResourceLines("Steps.txt", lines), 0);
  EXPECT_TRUE(lines.empty());
}

TEST(LoadResourceRichText, LoadsTheNoticeAndAnswersItsLineCount) {
  TempPrefix prefix;
  MemoryPackage package;
  package.Add("UPDATEINFO.TXT",
              "{\\rtf1\\ansi\\ansicpg1252 Premi\\'e8re ligne\\par Deuxi\\'e8me ligne\\par Fin}", 0);
  CurrentPackageScope current(package);
  TdmUpdateCommon engine;
  MemoryRichText control;
  control.AppendLine("old", 0);
  EXPECT_EQ(engine.LoadResourceRichText("UpdateInfo.txt", control), 3);
  EXPECT_EQ(Texts(control), (std::vector<std::string>{"Première ligne", "Deuxième ligne", "Fin"}));

  EXPECT_EQ(engine.LoadResourceRichText("Missing.txt", control), 0);
  EXPECT_EQ(control.LineCount(), 0);
}

// ---------------------------------------------------------------------------------------------
// Temporary files

class TempFiles : public ::testing::Test {
 protected:
  TempPrefix prefix;
  MemoryRichText report;
  TdmUpdateCommon engine;
  ScriptedNumbers numbers;

  void SetUp() override {
    engine.SetReportControl(&report);
    engine.SetRandomSource(numbers.Source());
  }
  std::string Temp(const std::string& name) const { return win::GetTempPath() + name; }
};

TEST_F(TempFiles, NameIsFolderPrefixAndNumberBelowTenMillion) {
  numbers.numbers = {0, 9999999, 1234};
  EXPECT_EQ(engine.NewTempFileName("Update"), Temp("Update0.tmp"));
  EXPECT_EQ(engine.NewTempFileName("Update"), Temp("Update9999999.tmp"));
  EXPECT_EQ(engine.NewTempFileName("Pre"), Temp("Pre1234.tmp"));
  EXPECT_EQ(numbers.bounds, (std::vector<std::uint32_t>(3, 10000000)));
  EXPECT_EQ(win::GetTempPath().back(), '\\');
  EXPECT_EQ(win::GetFileAttributes(Temp("Update0.tmp")), win::INVALID_FILE_ATTRIBUTES)
      << "no file is created";
  EXPECT_TRUE(report.Lines().empty());
}

TEST_F(TempFiles, ANameIsNeverHandedOutTwice) {
  numbers.numbers = {42, 42, 7, 7, 42, 8};
  EXPECT_EQ(engine.NewTempFileName("Update"), Temp("Update42.tmp"));
  EXPECT_EQ(engine.NewTempFileName("Update"), Temp("Update7.tmp"));
  // Windows names ignore case: UPDATE42.tmp is the same file as Update42.tmp.
  EXPECT_EQ(engine.NewTempFileName("UPDATE"), Temp("UPDATE8.tmp"));
  EXPECT_TRUE(numbers.numbers.empty());
  EXPECT_TRUE(report.Lines().empty());
}

TEST_F(TempFiles, AStaleFileUnderADrawnNameIsDeletedAndReported) {
  prefix.WriteFile(Temp("Update5.tmp"), "left by an earlier run");
  numbers.numbers = {5};
  const std::string name = engine.NewTempFileName("Update");
  EXPECT_EQ(name, Temp("Update5.tmp"));
  EXPECT_EQ(win::GetFileAttributes(name), win::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Texts(report), (std::vector<std::string>{"Fichier " + name + " est supprimé.", ""}));
}

TEST_F(TempFiles, AStaleFileThatCannotBeDeletedRaisesTheSystemError) {
  prefix.WriteFile(Temp("Update5.tmp"), "x");
  ASSERT_TRUE(win::SetFileAttributes(Temp("Update5.tmp"), win::FILE_ATTRIBUTE_READONLY));
  numbers.numbers = {5};
  try {
    engine.NewTempFileName("Update");
    FAIL() << "no error raised";
  } catch (const SystemError& e) {
    EXPECT_EQ(e.code(), win::ERROR_ACCESS_DENIED);
    EXPECT_STREQ(e.what(), SystemError::FromCode(win::ERROR_ACCESS_DENIED).what());
  }
  // The line comes before the attempt.
  EXPECT_EQ(Texts(report),
            (std::vector<std::string>{"Fichier " + Temp("Update5.tmp") + " est supprimé.", ""}));
}

TEST_F(TempFiles, AFolderUnderADrawnNameIsPassedOver) {
  ASSERT_TRUE(win::CreateDirectory(Temp("Update3.tmp")));
  numbers.numbers = {3, 4};
  EXPECT_EQ(engine.NewTempFileName("Update"), Temp("Update4.tmp"));
}

TEST(TempFileNames, TheBuiltInGeneratorDrawsDistinctDecimalNumbers) {
  TempPrefix prefix;
  TdmUpdateCommon engine;
  engine.Randomize();
  const std::regex form(R"(Update(0|[1-9][0-9]{0,6})\.tmp)");
  std::set<std::string> names;
  for (int i = 0; i < 500; ++i) {
    const std::string name = engine.NewTempFileName("Update");
    ASSERT_EQ(name.rfind(win::GetTempPath(), 0), 0u) << name;
    EXPECT_TRUE(std::regex_match(name.substr(win::GetTempPath().size()), form)) << name;
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 500u);
}

TEST(DeleteTempFiles, NothingToDeleteIsASuccess) {
  TempPrefix prefix;
  TdmUpdateCommon engine;
  EXPECT_TRUE(engine.DeleteTempFiles("Update*.tmp"));
}

TEST(DeleteTempFiles, DeletesWhatTheMaskMatchesInTheTemporaryFolderOnly) {
  TempPrefix prefix;
  const std::string temp = win::GetTempPath();
  for (const char* name : {"Update1.tmp", "UPDATE22.TMP", "Other.tmp", "Update3.txt"}) {
    prefix.WriteFile(temp + name, "x");
  }
  ASSERT_TRUE(win::SetFileAttributes(temp + "UPDATE22.TMP", win::FILE_ATTRIBUTE_READONLY));
  prefix.WriteFile("C:\\App\\Update9.tmp", "not temporary");
  TdmUpdateCommon engine;
  EXPECT_TRUE(engine.DeleteTempFiles("Update*.tmp"));
  std::set<std::string> left;
  for (const auto& f : win::FindFiles(temp + "*")) left.insert(f.name);
  EXPECT_EQ(left, (std::set<std::string>{"Other.tmp", "Update3.txt"}));
  EXPECT_EQ(prefix.ReadFile("C:\\App\\Update9.tmp"), "not temporary");
}

TEST(DeleteTempFiles, TheEngineRemovesTheFilesOfItsRunWhenDestroyed) {
  TempPrefix prefix;
  std::string extracted;
  {
    TdmUpdateCommon engine;
    engine.Randomize();
    extracted = engine.NewTempFileName("Update");
    prefix.WriteFile(extracted, "packaged");
    prefix.WriteFile(win::GetTempPath() + "Keep.tmp", "x");
  }
  EXPECT_EQ(win::GetFileAttributes(extracted), win::INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(win::GetFileAttributes(win::GetTempPath() + "Keep.tmp"), win::INVALID_FILE_ATTRIBUTES);
}

// ---------------------------------------------------------------------------------------------
// Report

// Counts the focus requests, which a plain memory control cannot show for a control that
// cannot take the focus.
class FocusSpy : public MemoryRichText {
 public:
  void SetFocus() override {
    ++focusCalls;
    MemoryRichText::SetFocus();
  }
  int focusCalls = 0;
};

TEST(ReportLine, WithoutAControlNothingHappensAndDeletionsStillTakePlace) {
  TempPrefix prefix;
  TdmUpdateCommon engine;
  engine.ReportLine("nowhere", 10);
  prefix.WriteFile("C:\\A\\old.dll", "x");
  engine.DeleteFileReported("C:\\A\\old.dll");
  EXPECT_EQ(win::GetFileAttributes("C:\\A\\old.dll"), win::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(engine.ReportControl, nullptr);
}

TEST(ReportLine, ASizeStaysInEffectForLinesWithoutSize) {
  TempPrefix prefix;
  TdmUpdateCommon engine;
  MemoryRichText report;
  engine.SetReportControl(&report);
  engine.ReportLine("before");
  engine.ReportLine("Mise à jour : X\r\n", 10);
  engine.ReportLine("Copie de a");
  engine.ReportLine("small", 8);
  engine.ReportLine("still small");
  std::vector<std::pair<std::string, int>> lines;
  for (const auto& line : report.Lines()) lines.emplace_back(line.text, line.sizePoints);
  EXPECT_EQ(lines, (std::vector<std::pair<std::string, int>>{{"before", 0},
                                                             {"Mise à jour : X", 10},
                                                             {"", 10},
                                                             {"Copie de a", 10},
                                                             {"small", 8},
                                                             {"still small", 8}}));
}

TEST(ReportLine, FocusesTheControlOnlyWhenItCanTakeTheFocusAndLacksIt) {
  TempPrefix prefix;
  TdmUpdateCommon engine;
  FocusSpy report;
  engine.SetReportControl(&report);
  engine.ReportLine("first");
  EXPECT_EQ(report.focusCalls, 1);
  EXPECT_TRUE(report.Focused());
  engine.ReportLine("second");
  EXPECT_EQ(report.focusCalls, 1) << "already focused";

  FocusSpy hidden;
  hidden.SetCanFocus(false);
  engine.SetReportControl(&hidden);
  engine.ReportLine("third");
  EXPECT_EQ(hidden.focusCalls, 0);
  EXPECT_EQ(Texts(hidden), (std::vector<std::string>{"third"}));
}

class ReportTexts : public ::testing::Test {
 protected:
  TempPrefix prefix;
  MemoryRichText report;
  TdmUpdateCommon engine;
  void SetUp() override { engine.SetReportControl(&report); }
};

TEST_F(ReportTexts, FileUpToDate) {
  engine.ReportFileUpToDate("C:\\A\\B.dll");
  EXPECT_EQ(Texts(report),
            (std::vector<std::string>{"Le fichier C:\\A\\B.dll", "est à jour : il n'est pas remplacé.", ""}));
  for (const auto& line : report.Lines()) EXPECT_EQ(line.sizePoints, 0);
}

TEST_F(ReportTexts, FileNotReplaced) {
  engine.ReportFileNotReplaced("C:\\A\\B.dll");
  EXPECT_EQ(Texts(report),
            (std::vector<std::string>{"Le fichier C:\\A\\B.dll", "n'est pas remplacé !!!", ""}));
}

TEST_F(ReportTexts, DeleteFileReportedWritesTheLineThenDeletes) {
  prefix.WriteFile("C:\\A\\B.dll", "x");
  engine.DeleteFileReported("C:\\A\\B.dll");
  EXPECT_EQ(Texts(report), (std::vector<std::string>{"Fichier C:\\A\\B.dll est supprimé.", ""}));
  EXPECT_EQ(win::GetFileAttributes("C:\\A\\B.dll"), win::INVALID_FILE_ATTRIBUTES);

  try {
    engine.DeleteFileReported("C:\\A\\B.dll");
    FAIL() << "deleting a missing file raised nothing";
  } catch (const SystemError& e) {
    EXPECT_EQ(e.code(), win::ERROR_FILE_NOT_FOUND);
    EXPECT_STREQ(e.what(), SystemError::FromCode(win::ERROR_FILE_NOT_FOUND).what());
  }
  EXPECT_EQ(report.LineCount(), 4) << "the line is written before the attempt";
}

// ---------------------------------------------------------------------------------------------
// Frame lines of a run

TEST(RunLines, HeaderHasTitleTwoBlanksAndTheLocalTime) {
  // 2024-03-05 07:08:09.9999999 and 1999-12-31 23:59:59.
  EXPECT_EQ(ReportHeaderText("Fichiers communs", 133540960890000000ULL + 9999999),
            "Mise \xC3\xA0 jour : Fichiers communs  05.03.2024 07:08:09\r\n");
  EXPECT_EQ(ReportHeaderText("", 125911583990000000ULL), "Mise à jour :   31.12.1999 23:59:59\r\n");
}

TEST(RunLines, OutcomeLinesFollowAnEmptyLine) {
  const std::vector<std::pair<UpdateOutcome, std::optional<std::string>>> table = {
      {UpdateOutcome::NoOutcome, std::nullopt},
      {UpdateOutcome::Completed,
       "\r\nLa mise \xC3\xA0 jour est termin\xC3\xA9"
       "e avec succ\xC3\xA8s."},
      {UpdateOutcome::Failed, "\r\nLa mise à jour a échouée !"},
      {UpdateOutcome::NotPerformed, "\r\nLa mise à jour n'a pas été effectuée."},
      {UpdateOutcome::CompletedWithWarnings,
       "\r\nLa mise à jour a été effectuée mais avec des avertissements !"},
      {static_cast<UpdateOutcome>(5), std::nullopt},
      {static_cast<UpdateOutcome>(255), std::nullopt},
  };
  for (const auto& [outcome, text] : table) {
    EXPECT_EQ(OutcomeText(outcome), text) << static_cast<int>(outcome);
  }
  EXPECT_EQ(kReportHeadingSize, 10);
}

TEST(RunLines, AnEscapedErrorIsFollowedByAnEmptyLineAndTheFailure) {
  EXPECT_EQ(EscapedErrorText("Cannot find Main.exe"),
            "Cannot find Main.exe\r\n\r\nLa mise à jour a échouée !");
}

// ---------------------------------------------------------------------------------------------
// The updater's drive

class EngineRunningFrom : public TdmUpdateCommon {
 public:
  explicit EngineRunningFrom(std::string path) : path_(std::move(path)) {}

 protected:
  std::string UpdaterModulePath() const override { return path_; }

 private:
  std::string path_;
};

TEST(GetUpdaterDriveType, AnswersTheTypeOfTheFirstThreeCharacters) {
  TempPrefix prefix;
  prefix.AddDrive('D', "cdrom");
  prefix.AddDrive('N', "remote");
  const std::vector<std::pair<std::string, unsigned>> table = {
      {"C:\\WKorvane\\Update.exe", win::DRIVE_FIXED},
      {"D:\\Update.exe", win::DRIVE_CDROM},
      {"d:\\Setup\\Update.exe", win::DRIVE_CDROM},
      {"N:\\Deploy\\Update.exe", win::DRIVE_REMOTE},
      {"E:\\Update.exe", win::DRIVE_NO_ROOT_DIR},
      {"\\\\server\\share\\Update.exe", win::DRIVE_NO_ROOT_DIR},
  };
  for (const auto& [path, type] : table) {
    EngineRunningFrom engine(path);
    EXPECT_EQ(engine.GetUpdaterDriveType(), type) << path;
  }
}

// ---------------------------------------------------------------------------------------------
// The file-open dialog

TEST(OpenDialogProg, ShowsTheRequestAndKeepsTheChosenFile) {
  TempPrefix prefix;
  ScriptedUi ui;
  TdmUpdateCommon engine;
  engine.OpenDialogProg.FileName = "C:\\WKorvane\\TSV\\Programs\\Main.exe";
  ui.AnswerFile(false);
  EXPECT_FALSE(engine.OpenDialogProg.Execute());
  EXPECT_EQ(engine.OpenDialogProg.FileName, "C:\\WKorvane\\TSV\\Programs\\Main.exe");
  ui.AnswerFile(true, "D:\\Autre\\Main.exe");
  EXPECT_TRUE(engine.OpenDialogProg.Execute());
  EXPECT_EQ(engine.OpenDialogProg.FileName, "D:\\Autre\\Main.exe");
}

// A machine without a database client runs every package that needs no database: the engine
// creates its connection module without loading the client library. Run in a process of its own,
// where nothing has loaded the client before.
TEST(EngineDatabaseConnection, IsCreatedWithTheEngineWithoutLoadingTheClientLibrary) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        TempPrefix prefix;
        int code = 0;
        {
          TdmUpdateCommon engine;
          if (engine.DBConnection == nullptr) code = 2;
          if (!engine.DBConnection->Connected() && test::IsLibraryMapped("libfbclient")) code = 3;
        }
        if (test::IsLibraryMapped("libfbclient")) code = 4;
        std::exit(code);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kv
