// The update run on the scripted view, without any toolkit: the report's header and outcome lines
// and their size, the wizard locked while an updater works, the key walk, no key, an error that
// escapes the updater, and the updater's questions.
#include <gtest/gtest.h>

#include <regex>

#include "engine/UpdateCommon.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "tests/support/ScriptedUi.h"
#include "tests/wizard/WizardTestSupport.h"

namespace kv::test {
namespace {

constexpr win::FileTime kOneSecond = 10'000'000;

// Presses Next from the welcome page until the run has ended; true when it ended on the report
// page.
bool RunToTheEnd(ScriptedWizard& wizard) {
  wizard.Start();
  for (int press = 0; press < 4 && !wizard.Controller().UpdateStarted; ++press) wizard.Controller().Next();
  return wizard.Controller().UpdateStarted && wizard.Current() == kReportStepName;
}

std::vector<std::string> Texts(const MemoryRichText& report) {
  std::vector<std::string> texts;
  for (const MemoryRichText::Line& line : report.Lines()) texts.push_back(line.text);
  return texts;
}

// The "dd.MM.yyyy HH:mm:ss" of a header, as "yyyyMMddHHmmss" so that stamps compare in
// time order; empty when the header does not end so.
std::string StampKey(const std::string& header) {
  std::smatch match;
  static const std::regex stamp(R"((\d\d)\.(\d\d)\.(\d{4}) (\d\d):(\d\d):(\d\d))");
  if (!std::regex_search(header, match, stamp)) return {};
  return match.str(3) + match.str(2) + match.str(1) + match.str(4) + match.str(5) + match.str(6);
}

std::string LocalStampKey(win::FileTime offset) {
  const win::FileTime now = win::FileTimeToLocalFileTime(win::GetSystemTimeAsFileTime());
  return StampKey(ReportHeaderText("", now + offset));
}

// After the run only Next ("Quitter") is left, on the report page.
void ExpectFinished(ScriptedWizard& wizard) {
  EXPECT_EQ(wizard.view.buttons,
            (WizardButtons{{false, "< Précédant"}, {true, "Quitter"}, {false, "Annuler"}}));
  EXPECT_EQ(wizard.Current(), kReportStepName);
  EXPECT_TRUE(wizard.Controller().CanClose());
}

// While the updater works the user can neither navigate nor cancel and the window may not close;
// the report page and its header are already shown and window messages are processed.
TEST(UpdateRun, LocksTheWizardWhileTheUpdaterWorks) {
  ScriptedUi ui;
  struct Seen {
    ProductCode code = 0;
    ProductCode engineCode = 0;
    WizardButtons buttons;
    bool couldClose = true;
    std::size_t pagesShown = 0;
    std::string current;
    int eventsProcessed = 0;
    std::vector<std::string> report;
  } seen;
  ScriptedWizard* running = nullptr;
  UpdaterTable updaters;
  updaters.Set(pcCommon, [&](TdmUpdateCommon& engine, ProductCode code) {
    WizardController& controller = running->Controller();
    seen.code = code;
    seen.engineCode = engine.ProductCode;
    seen.eventsProcessed = ui.ProcessEventsCalls();
    // The user's requests while the updater works change nothing.
    controller.Next();
    controller.Back();
    controller.Cancel();
    seen.buttons = running->view.buttons;
    seen.couldClose = controller.CanClose();
    seen.pagesShown = running->view.shown.size();
    seen.current = running->Current();
    seen.report = Texts(running->Report());
    return UpdateOutcome::Completed;
  });
  ScriptedWizard wizard({}, std::move(updaters));
  running = &wizard;
  ASSERT_TRUE(RunToTheEnd(wizard));
  EXPECT_EQ(seen.code, pcCommon);
  EXPECT_EQ(seen.engineCode, pcCommon);
  EXPECT_EQ(wizard.Controller().CurrentProductCode, pcCommon);
  EXPECT_EQ(seen.buttons, (WizardButtons{{false, "< Précédant"}, {false, "Démarrer"}, {false, "Annuler"}}));
  EXPECT_FALSE(seen.couldClose);
  EXPECT_EQ(seen.current, kReportStepName);
  EXPECT_EQ(seen.pagesShown, 3u);
  EXPECT_FALSE(wizard.view.closed);
  // The 100 ms wait before the updater kept the window alive.
  EXPECT_GT(seen.eventsProcessed, 0);
  ASSERT_EQ(seen.report.size(), 2u);
  EXPECT_TRUE(seen.report.front().starts_with("Mise à jour : Fichiers communs  ")) << seen.report.front();
  EXPECT_TRUE(ui.Boxes().empty());
  ExpectFinished(wizard);

  wizard.Controller().Next();
  EXPECT_TRUE(wizard.view.closed);
  EXPECT_TRUE(ui.Boxes().empty());
}

struct OutcomeCase {
  const char* name;
  int outcome;
  std::string line;  // none when empty
};

class ReportOutcomeTest : public testing::TestWithParam<OutcomeCase> {};

// The header with the title and the local time, the updater's lines, then an empty line and the
// outcome's; header and outcome at 10 points, a line written without size keeps the size in effect.
TEST_P(ReportOutcomeTest, HeaderAndOutcomeLine) {
  const OutcomeCase& c = GetParam();
  ScriptedUi ui;
  UpdaterTable updaters;
  updaters.Set(pcCommon, [&](TdmUpdateCommon& engine, ProductCode) {
    engine.ReportLine("travail");
    return static_cast<UpdateOutcome>(c.outcome);
  });
  ScriptedWizard wizard({}, std::move(updaters));
  const std::string before = LocalStampKey(-kOneSecond);
  ASSERT_TRUE(RunToTheEnd(wizard));
  const std::string after = LocalStampKey(kOneSecond);

  std::vector<std::string> lines = Texts(wizard.Report());
  ASSERT_FALSE(lines.empty());
  const std::string header = lines.front();
  lines.front().clear();
  std::vector<std::string> expected{"", "", "travail"};
  if (!c.line.empty()) expected.insert(expected.end(), {"", c.line});
  EXPECT_EQ(lines, expected);

  EXPECT_TRUE(std::regex_match(header, std::regex(R"(^Mise à jour : Fichiers communs  \d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d$)")))
      << header;
  const std::string stamp = StampKey(header);
  ASSERT_FALSE(before.empty());
  ASSERT_FALSE(after.empty());
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);

  const std::vector<MemoryRichText::Line>& report = wizard.Report().Lines();
  EXPECT_EQ(report[0].sizePoints, 10);
  EXPECT_EQ(report[2].sizePoints, 10);
  if (!c.line.empty()) {
    EXPECT_EQ(report[4].sizePoints, 10);
  }
  EXPECT_EQ(int(wizard.Controller().LastRun().outcome), c.outcome);
  EXPECT_FALSE(wizard.Controller().LastRun().errorEscaped);
  ExpectFinished(wizard);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ReportOutcomeTest,
    testing::Values(OutcomeCase{"completed", 1, "La mise à jour est terminée avec succès."},
                    OutcomeCase{"failed", 2, "La mise à jour a échouée !"},
                    OutcomeCase{"not_performed", 3, "La mise à jour n'a pas été effectuée."},
                    OutcomeCase{"completed_with_warnings", 4,
                                "La mise à jour a été effectuée mais avec des avertissements !"},
                    OutcomeCase{"no_outcome", 0, ""}, OutcomeCase{"another_value_behaves_like_none", 9, ""}),
    [](const testing::TestParamInfo<OutcomeCase>& info) { return std::string(info.param.name); });

struct KeysCase {
  const char* name;
  std::string keys;
  std::vector<ProductCode> called;
  ProductCode runCode;
  bool outcomeLine;
};

class KeyWalkTest : public testing::TestWithParam<KeysCase> {};

TEST_P(KeyWalkTest, OnlyTheFirstRecognisedKeyRuns) {
  const KeysCase& c = GetParam();
  ScriptedUi ui;
  PackageTexts texts;
  texts.keys = c.keys;
  std::vector<ProductCode> calls;
  UpdaterTable updaters;
  for (ProductCode code : {pcCommon, pcZrq}) {
    updaters.Set(code, [&calls](TdmUpdateCommon&, ProductCode called) {
      calls.push_back(called);
      return UpdateOutcome::Completed;
    });
  }
  ScriptedWizard wizard(texts, std::move(updaters));
  ASSERT_TRUE(RunToTheEnd(wizard));
  EXPECT_EQ(calls, c.called);
  EXPECT_EQ(wizard.Controller().CurrentProductCode, c.runCode);
  EXPECT_EQ(wizard.Parts().Engine->ProductCode, c.runCode);
  const std::vector<std::string> lines = Texts(wizard.Report());
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.front().starts_with("Mise à jour : ")) << lines.front();
  EXPECT_EQ(lines.size(), c.outcomeLine ? 4u : 2u);
  ExpectFinished(wizard);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyWalkTest,
    testing::Values(KeysCase{"two_known_keys", "Common\r\nZRQ", {12}, 12, true},
                    KeysCase{"a_fragment_of_a_name_is_passed_over", "Tessivo\r\nZRQ\r\nCommon", {10}, 10, true},
                    KeysCase{"a_code_without_updater_ends_the_walk", "PDFDLL\r\nCommon", {}, 5, false}),
    [](const testing::TestParamInfo<KeysCase>& info) { return std::string(info.param.name); });

TEST(UpdateRun, NoRecognisedKeyWritesNothing) {
  ScriptedUi ui;
  PackageTexts texts;
  texts.keys = "Nothing";
  ScriptedWizard wizard(texts);
  ASSERT_TRUE(RunToTheEnd(wizard));
  EXPECT_EQ(wizard.Report().LineCount(), 0);
  EXPECT_EQ(wizard.Report().PlainText(), "");
  EXPECT_TRUE(wizard.Controller().LastRun().started);
  EXPECT_EQ(wizard.Controller().LastRun().outcome, UpdateOutcome::NoOutcome);
  ExpectFinished(wizard);
}

class EscapedErrorTest : public testing::TestWithParam<bool> {};

// An error box (none for the silent abort), then the message, an empty line and the failure line.
TEST_P(EscapedErrorTest, ClosesTheReport) {
  const bool silent = GetParam();
  ScriptedUi ui;
  UpdaterTable updaters;
  updaters.Set(pcCommon, [&](TdmUpdateCommon& engine, ProductCode) -> UpdateOutcome {
    engine.ReportLine("Copie de C:\\Temp\\Update1.tmp");
    if (silent) Abort();
    throw Error("Le fichier wPDF300A.dll est introuvable.");
  });
  ScriptedWizard wizard({}, std::move(updaters));
  ASSERT_TRUE(RunToTheEnd(wizard));
  const std::string message = silent ? "Opération abandonnée" : "Le fichier wPDF300A.dll est introuvable.";
  if (silent) {
    EXPECT_TRUE(ui.Boxes().empty());
  } else {
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes().front().kind, MessageKind::Error);
    EXPECT_EQ(ui.Boxes().front().caption, "Erreur");
    EXPECT_EQ(ui.Boxes().front().text, message);
    EXPECT_EQ(ui.Beeps(), std::vector<std::uint32_t>{MB_ICONEXCLAMATION});
  }
  std::vector<std::string> lines = Texts(wizard.Report());
  ASSERT_FALSE(lines.empty());
  lines.erase(lines.begin());
  EXPECT_EQ(lines, (std::vector<std::string>{"", "Copie de C:\\Temp\\Update1.tmp", message, "",
                                             "La mise à jour a échouée !"}));
  EXPECT_TRUE(wizard.Controller().LastRun().errorEscaped);
  ExpectFinished(wizard);
}

INSTANTIATE_TEST_SUITE_P(Errors, EscapedErrorTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "silent_abort" : "error");
                         });

// A question the updater asks is a modal box of the user interface; its answer decides.
TEST(UpdateRun, UpdaterQuestionsReachTheUser) {
  ScriptedUi ui;
  UpdaterTable updaters;
  updaters.Set(pcCommon, [](TdmUpdateCommon&, ProductCode) {
    return AskConfirmation("Remplacer le fichier ?") ? UpdateOutcome::Completed : UpdateOutcome::NotPerformed;
  });
  ScriptedWizard wizard({}, std::move(updaters));
  ui.Answer(mrNo);
  ASSERT_TRUE(RunToTheEnd(wizard));
  ASSERT_EQ(ui.Boxes().size(), 1u);
  EXPECT_EQ(ui.Boxes().front().caption, "Confirmer");
  EXPECT_EQ(ui.Boxes().front().text, "Remplacer le fichier ?");
  EXPECT_EQ(wizard.Report().Lines().back().text, "La mise à jour n'a pas été effectuée.");
  EXPECT_TRUE(ui.AllAnswersUsed());
}

}  // namespace
}  // namespace kv::test
