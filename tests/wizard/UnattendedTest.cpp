// Unattended mode inside the test process, without any toolkit: the wizard driven through the
// console interface, the exit code of every way a run can end, the answer
// policy, the boxes on standard error and the report's log.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "engine/UpdateCommon.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/UserInterface.h"
#include "tests/wizard/WizardTestSupport.h"
#include "wizard/CommandLine.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

// Standard error for the guard's life.
class CapturedStderr {
 public:
  CapturedStderr() : previous_(std::cerr.rdbuf(captured_.rdbuf())) {}
  ~CapturedStderr() { std::cerr.rdbuf(previous_); }
  CapturedStderr(const CapturedStderr&) = delete;
  CapturedStderr& operator=(const CapturedStderr&) = delete;
  std::string Text() const { return captured_.str(); }

 private:
  std::ostringstream captured_;
  std::streambuf* previous_;
};

// The wizard as unattended mode runs it: the console interface answering by policy, the hidden
// view.
struct UnattendedRun {
  UnattendedRun(const PackageTexts& texts, bool answerYes) : console(answerYes), ui(console), wizard(texts) {}

  ConsoleUserInterface console;
  ScopedUi ui;
  ScriptedWizard wizard;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct ExitCase {
  const char* name;
  int outcome;
  bool throws;
  int exitCode;
};

class UnattendedExitCodeTest : public testing::TestWithParam<ExitCase> {};

// The wizard, never shown, runs the updater; its outcome is the exit code, the report is in the
// log as it was written, the error box on standard error.
TEST_P(UnattendedExitCodeTest, IsTheOutcome) {
  const ExitCase& c = GetParam();
  UnattendedRun run({}, false);
  const fs::path logPath = fs::temp_directory_path() / ("kv-report-" + std::to_string(::getpid()) + ".log");
  std::vector<std::string> seenInLog;
  {
    ReportLog log(logPath.string());
    run.wizard.Parts().ReportText.OnLine([&](const std::string& line) {
      log.Append(line);
      seenInLog.push_back(ReadFile(logPath));
    });
    run.wizard.Updaters().Set(pcCommon, [&](TdmUpdateCommon& engine, ProductCode) -> UpdateOutcome {
      engine.ReportLine("Copie de C:\\Temp\\Update7.tmp");
      if (c.throws) throw Error("Disque plein.");
      return static_cast<UpdateOutcome>(c.outcome);
    });
    CapturedStderr err;
    EXPECT_EQ(RunUnattended(run.wizard.Controller()), c.exitCode);
    EXPECT_EQ(err.Text(), c.throws ? "[Erreur] Disque plein.\n" : "");
  }
  // Written through line by line; at the end the log is the report's text.
  EXPECT_EQ(ReadFile(logPath), run.wizard.Report().PlainText());
  ASSERT_GE(seenInLog.size(), 3u);
  EXPECT_TRUE(seenInLog.front().starts_with("Mise à jour : Fichiers communs  ")) << seenInLog.front();
  EXPECT_EQ(seenInLog.front().find('\n'), std::string::npos);
  // "Quitter" closed the wizard.
  EXPECT_TRUE(run.wizard.view.closed);
  fs::remove(logPath);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, UnattendedExitCodeTest,
                         testing::Values(ExitCase{"completed", 1, false, 0}, ExitCase{"failed", 2, false, 1},
                                         ExitCase{"not_performed", 3, false, 2},
                                         ExitCase{"completed_with_warnings", 4, false, 3},
                                         ExitCase{"no_outcome", 0, false, 4},
                                         ExitCase{"an_error_escapes_the_updater", 1, true, 1}),
                         [](const testing::TestParamInfo<ExitCase>& info) { return std::string(info.param.name); });

class AnswerPolicyTest : public testing::TestWithParam<std::pair<bool, int>> {};

TEST_P(AnswerPolicyTest, AnswersEveryQuestion) {
  const auto [answerYes, exitCode] = GetParam();
  UnattendedRun run({}, answerYes);
  run.wizard.Updaters().Set(pcCommon, [](TdmUpdateCommon&, ProductCode) {
    return AskConfirmation("Le fichier installé est plus récent.\r\nVoulez-vous le remplacer ?")
               ? UpdateOutcome::Completed
               : UpdateOutcome::NotPerformed;
  });
  CapturedStderr err;
  EXPECT_EQ(RunUnattended(run.wizard.Controller()), exitCode);
  EXPECT_EQ(err.Text(), "[Confirmer] Le fichier installé est plus récent.\nVoulez-vous le remplacer ?\n");
}

// By default no: the installed file is kept.
INSTANTIATE_TEST_SUITE_P(Answers, AnswerPolicyTest, testing::Values(std::pair{false, 2}, std::pair{true, 0}));

class NothingToRunTest : public testing::TestWithParam<std::pair<std::string, int>> {};

TEST_P(NothingToRunTest, EndsWithCode4) {
  const auto& [keys, lines] = GetParam();
  PackageTexts texts;
  texts.keys = keys;
  UnattendedRun run(texts, false);
  CapturedStderr err;
  EXPECT_EQ(RunUnattended(run.wizard.Controller()), 4);
  EXPECT_EQ(run.wizard.Report().LineCount(), lines);
  EXPECT_EQ(err.Text(), "");
}

// No "Updates.txt", no recognised key, a product without updater.
INSTANTIATE_TEST_SUITE_P(Keys, NothingToRunTest,
                         testing::Values(std::pair{std::string(), 0}, std::pair{std::string("Inconnu"), 0},
                                         std::pair{std::string("PDFDLL"), 2}));

// The main product's key without a compatible database client: the warning, and nothing run.
TEST(Unattended, PreflightStopsTheRun) {
  PackageTexts texts;
  texts.keys = "WinTessivo";
  UnattendedRun run(texts, true);
  bool ran = false;
  run.wizard.Updaters().Set(pcWinTessivo, [&](TdmUpdateCommon&, ProductCode) {
    ran = true;
    return UpdateOutcome::Completed;
  });
  CapturedStderr err;
  EXPECT_EQ(RunUnattended(run.wizard.Controller()), 5);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(err.Text().starts_with("[Avertissement] ATTENTION !!!\n\nCette mise à jour a détecté une version "
                                     "incompatible de Firebird et du module d'adresses."))
      << err.Text();
  EXPECT_TRUE(run.wizard.Controller().History.empty());
}

TEST(Unattended, ReportLogCannotBeCreated) {
  const fs::path missing = fs::temp_directory_path() / "kv-no-such-folder" / "report.log";
  EXPECT_THROW(ReportLog(missing.string()), Error);
}

}  // namespace
}  // namespace kv::test
