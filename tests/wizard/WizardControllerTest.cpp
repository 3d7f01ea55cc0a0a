// The controller of the wizard's dialogue on a scripted view, without any toolkit: the buttons
// before and on each page, the pages' order from the package, Back, the question before
// cancelling, the run's start on the report page, the buttons locked while the updater works, and
// the program's exit code for every way the wizard ends.
#include <gtest/gtest.h>

#include "engine/UpdateCommon.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "tests/support/ScriptedUi.h"
#include "tests/wizard/WizardTestSupport.h"
#include "wizard/InstanceGuard.h"

namespace kv::test {
namespace {

WizardButtons Expected(bool back, bool next, const std::string& nextCaption, bool cancel) {
  return {{back, "< Précédant"}, {next, nextCaption}, {cancel, "Annuler"}};
}

// Before the first page: Next without caption, Back and Next disabled, Cancel enabled.
TEST(WizardController, CreatedWithoutPage) {
  ScriptedUi ui;
  ScriptedWizard wizard;
  EXPECT_EQ(wizard.Controller().GetCurrentStep(), nullptr);
  EXPECT_EQ(wizard.view.buttons, Expected(false, false, "", true));
  EXPECT_TRUE(wizard.view.shown.empty());
}

TEST(WizardController, ShowReadsThePackageAndTheTimerShowsTheWelcomePage) {
  ScriptedUi ui;
  ScriptedWizard wizard;
  wizard.Start();
  EXPECT_EQ(wizard.view.caption, "Mise à jour Korvane");
  EXPECT_EQ(wizard.view.title, "Fichiers communs");
  EXPECT_EQ(wizard.view.version, "Version : " + ReadFileVersionInfo("").FileVersion);
  EXPECT_EQ(wizard.view.broughtToFront, 1);
  EXPECT_TRUE(wizard.view.timerStopped);
  EXPECT_EQ(wizard.view.welcomeTexts,
            (std::vector<std::string>{"Fichiers communs", "Bibliothèques PDF et dictionnaires partagés.\r\n"}));
  EXPECT_EQ(wizard.view.shown, std::vector<std::string>{"frmWelcome"});
  EXPECT_EQ(wizard.view.buttons, Expected(false, true, "Suivant >", true));
  // A second tick shows nothing more.
  wizard.Controller().FirstStepTimer();
  EXPECT_EQ(wizard.view.shown.size(), 1u);
  EXPECT_TRUE(ui.Boxes().empty());
}

struct StepsCase {
  const char* name;
  std::string stepsFile;
  std::vector<std::string> steps;     // the page list built from the package
  std::vector<std::string> shown;     // pages shown pressing Next until the run has started
  std::vector<std::string> captions;  // Next's caption on each
};

class StepsTest : public testing::TestWithParam<StepsCase> {};

TEST_P(StepsTest, FollowThePackage) {
  const StepsCase& c = GetParam();
  ScriptedUi ui;
  PackageTexts texts;
  texts.steps = c.stepsFile;
  NamedStep extra("frmExtra", "Continuer");
  ScriptedWizard wizard(texts);
  wizard.Start();
  std::vector<std::string> steps;
  for (const WizardStep* step : wizard.Controller().Steps) steps.push_back(step->StepName());
  EXPECT_EQ(steps, c.steps);
  std::vector<std::string> captions;
  for (int press = 0; press < 6 && !wizard.Controller().UpdateStarted; ++press) {
    captions.push_back(wizard.view.buttons.next.caption);
    EXPECT_EQ(wizard.view.buttons.back.enabled, press > 0);
    wizard.Controller().Next();
  }
  EXPECT_EQ(wizard.view.shown, c.shown);
  EXPECT_EQ(captions, std::vector<std::string>(c.captions.begin(), c.captions.end() - 1));
  EXPECT_EQ(wizard.view.buttons, Expected(false, true, c.captions.back(), false));
  EXPECT_TRUE(ui.Boxes().empty());
}

const std::vector<std::string> kStandardSteps{"frmWelcome", "frmDisplayFile", "frmEndInstall"};
const std::vector<std::string> kStandard{"frmWelcome", "frmDisplayFile", "frmEndInstall", "frmEndInstall"};
const std::vector<std::string> kStandardCaptions{"Suivant >", "Démarrer", "Quitter"};

// The report page is shown when reached and again at the end of the run.
INSTANTIATE_TEST_SUITE_P(
    Packages, StepsTest,
    testing::Values(
        StepsCase{"no_steps_file", "", kStandardSteps, kStandard, kStandardCaptions},
        StepsCase{"unknown_names_pages_already_listed_other_case",
                  "frmNothing\r\nFRMWELCOME\r\nfrmdisplayfile\r\nfrmMain", kStandardSteps, kStandard, kStandardCaptions},
        StepsCase{"an_extra_page_before_the_report",
                  "FRMEXTRA",
                  {"frmWelcome", "frmDisplayFile", "frmExtra", "frmEndInstall"},
                  {"frmWelcome", "frmDisplayFile", "frmExtra", "frmEndInstall", "frmEndInstall"},
                  {"Suivant >", "Démarrer", "Continuer", "Quitter"}},
        StepsCase{"the_report_before_the_extra_page", "frmEndInstall\r\nfrmExtra",
                  {"frmWelcome", "frmDisplayFile", "frmEndInstall", "frmExtra"}, kStandard, kStandardCaptions}),
    [](const testing::TestParamInfo<StepsCase>& info) { return std::string(info.param.name); });

TEST(WizardController, BackReturnsToThePreviousPageUnderTheBusyCursor) {
  ScriptedUi ui;
  ScriptedWizard wizard;
  wizard.Start();
  wizard.Controller().Next();
  EXPECT_EQ(wizard.Current(), "frmDisplayFile");
  EXPECT_EQ(wizard.view.buttons, Expected(true, true, "Démarrer", true));
  wizard.Controller().Back();
  EXPECT_EQ(wizard.Current(), "frmWelcome");
  EXPECT_EQ(wizard.view.buttons, Expected(false, true, "Suivant >", true));
  EXPECT_EQ(ui.CursorChanges(), (std::vector<bool>{true, false, true, false, true, false}));
  EXPECT_EQ(BusyCursorDepth(), 0);
}

class CancelTest : public testing::TestWithParam<int> {};

TEST_P(CancelTest, AsksFirst) {
  const int answer = GetParam();
  ScriptedUi ui;
  ScriptedWizard wizard;
  wizard.Start();
  wizard.Controller().Next();
  ui.Answer(answer);
  wizard.Controller().Cancel();
  ASSERT_EQ(ui.Boxes().size(), 1u);
  EXPECT_EQ(ui.Boxes().front().kind, MessageKind::Warning);
  EXPECT_EQ(ui.Boxes().front().caption, "Avertissement");
  EXPECT_EQ(ui.Boxes().front().text, "Voulez-vous annuler cette mise à jour");
  EXPECT_EQ(ui.Boxes().front().buttons, unsigned(mbYes | mbNo));
  EXPECT_EQ(ui.Beeps(), std::vector<std::uint32_t>{MB_ICONEXCLAMATION});
  EXPECT_EQ(wizard.view.closed, answer == mrYes);
  EXPECT_EQ(wizard.Current(), "frmDisplayFile");
  // Ended before the run: not performed.
  EXPECT_EQ(wizard.Controller().ExitCode(), 2);
}

INSTANTIATE_TEST_SUITE_P(Answers, CancelTest, testing::Values(int(mrYes), int(mrNo)));

// While the updater works every button is disabled and the window may not close; afterwards only
// Next ("Quitter"), which closes it.
TEST(WizardController, RunLocksTheButtonsAndEndsOnQuitter) {
  ScriptedUi ui;
  UpdaterTable updaters;
  ScriptedWizard* running = nullptr;
  WizardButtons during;
  bool couldClose = true;
  updaters.Set(pcCommon, [&](TdmUpdateCommon&, ProductCode) {
    during = running->view.buttons;
    couldClose = running->Controller().CanClose();
    return UpdateOutcome::Completed;
  });
  ScriptedWizard wizard({}, std::move(updaters));
  running = &wizard;
  wizard.Start();
  wizard.Controller().Next();
  wizard.Controller().Next();
  EXPECT_EQ(during, Expected(false, false, "Démarrer", false));
  EXPECT_FALSE(couldClose);
  EXPECT_TRUE(wizard.Controller().CanClose());
  EXPECT_EQ(wizard.view.buttons, Expected(false, true, "Quitter", false));
  EXPECT_EQ(wizard.view.reportScrolled, 1);
  EXPECT_FALSE(wizard.view.closed);
  EXPECT_EQ(wizard.Report().Lines().back().text, "La mise à jour est terminée avec succès.");
  wizard.Controller().Next();
  EXPECT_TRUE(wizard.view.closed);
  EXPECT_EQ(wizard.Controller().ExitCode(), 0);
}

struct WindowExitCase {
  const char* name;
  enum { kCancel, kClose, kRun, kThrow } end;
  int outcome;
  int exitCode;
};

class WindowExitCodeTest : public testing::TestWithParam<WindowExitCase> {};

// The program's exit code once the window has closed: the run's outcome, or "not performed" when
// the user ended the wizard before the run (Cancel on the welcome page, or the close box, which
// tells the controller nothing).
TEST_P(WindowExitCodeTest, IsTheRunsOrNotPerformed) {
  const WindowExitCase& c = GetParam();
  ScriptedUi ui;
  UpdaterTable updaters;
  updaters.Set(pcCommon, [&](TdmUpdateCommon&, ProductCode) -> UpdateOutcome {
    if (c.end == WindowExitCase::kThrow) throw Error("Disque plein.");
    return static_cast<UpdateOutcome>(c.outcome);
  });
  ScriptedWizard wizard({}, std::move(updaters));
  wizard.Start();
  if (c.end == WindowExitCase::kCancel) {
    ui.Answer(mrYes);
    wizard.Controller().Cancel();
    EXPECT_TRUE(wizard.view.closed);
  } else if (c.end != WindowExitCase::kClose) {
    for (int press = 0; press < 3; ++press) wizard.Controller().Next();  // the last is "Quitter"
    EXPECT_TRUE(wizard.view.closed);
  }
  EXPECT_EQ(wizard.Controller().ExitCode(), c.exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, WindowExitCodeTest,
    testing::Values(WindowExitCase{"cancelled_on_the_welcome_page", WindowExitCase::kCancel, 0, 2},
                    WindowExitCase{"closed_before_the_run", WindowExitCase::kClose, 0, 2},
                    WindowExitCase{"completed", WindowExitCase::kRun, 1, 0},
                    WindowExitCase{"failed", WindowExitCase::kRun, 2, 1},
                    WindowExitCase{"not_performed", WindowExitCase::kRun, 3, 2},
                    WindowExitCase{"completed_with_warnings", WindowExitCase::kRun, 4, 3},
                    WindowExitCase{"no_outcome", WindowExitCase::kRun, 0, 4},
                    WindowExitCase{"an_error_escapes_the_updater", WindowExitCase::kThrow, 1, 1}),
    [](const testing::TestParamInfo<WindowExitCase>& info) { return std::string(info.param.name); });

TEST(WizardController, ChecksStoppingTheProgramShowNoPageAndGiveCode5) {
  ScriptedUi ui;
  PackageTexts texts;
  texts.keys = "WinTessivo";
  ScriptedWizard wizard(texts);
  wizard.Start();
  EXPECT_TRUE(ui.TerminationRequested());
  ASSERT_EQ(ui.Boxes().size(), 1u);
  EXPECT_EQ(ui.Boxes().front().caption, "Avertissement");
  EXPECT_TRUE(ui.Boxes().front().text.starts_with("ATTENTION !!!\r\n\r\n")) << ui.Boxes().front().text;
  EXPECT_TRUE(wizard.view.shown.empty());
  EXPECT_FALSE(wizard.Controller().FirstStepShown);
  EXPECT_TRUE(wizard.Controller().History.empty());
  EXPECT_TRUE(wizard.Controller().UpdateKeys.empty());
  EXPECT_EQ(wizard.Controller().ExitCode(), 5);
}

TEST(WizardController, MissingNoticeSaysSoAndShowsInternalCorrections) {
  ScriptedUi ui;
  PackageTexts texts;
  texts.notice.clear();
  ScriptedWizard wizard(texts);
  wizard.Start();
  ASSERT_EQ(ui.Boxes().size(), 1u);
  EXPECT_EQ(ui.Boxes().front().text, "Cannot load resource file UpdateInfo.txt");
  EXPECT_EQ(ui.Boxes().front().caption, ApplicationTitle());
  EXPECT_EQ(wizard.Parts().NoticeText.PlainText(), "\nCette mise à jour comporte uniquement des corrections internes.");
  EXPECT_EQ(wizard.Controller().Steps.size(), 3u);
}

}  // namespace
}  // namespace kv::test
