// The update run inside the real window: while an updater works the window's buttons and actions
// stay disabled, its close box is refused and its messages are processed; afterwards "Quitter"
// closes it. The run's rules (header, outcome, keys, errors, questions) are checked on the
// controller, without a window, in tests/wizard/UpdateRunTest.cpp.
#include "platform/FileUtils.h"
#include "tests/app/AppTestSupport.h"

namespace kv::test {

namespace {

// Presses Next from the welcome page until the run has ended.
bool RunToTheEnd(Wizard& wizard) {
  for (int press = 0; press < 4 && !wizard.Controller().UpdateStarted; ++press) wizard.Click("ButtonNext");
  return wizard.Controller().UpdateStarted && wizard.Current() == &wizard.ReportPage();
}

void VerifyFinished(Wizard& wizard) {
  QCOMPARE(wizard.Button("ButtonNext").text(), QStringLiteral("Quitter"));
  QVERIFY(wizard.Button("ButtonNext").isEnabled());
  QVERIFY(!wizard.Button("ButtonPrev").isEnabled());
  QVERIFY(!wizard.Button("ButtonCancel").isEnabled());
  QVERIFY(wizard.ReportPage().isVisible());
}

}  // namespace

class UpdateRunTest : public QObject {
  Q_OBJECT

 private slots:
  // While the updater works the user can neither navigate, cancel nor close; window messages are
  // processed, the report page and header are already shown. Afterwards only "Quitter" is left.
  void runLocksTheWizardAndEndsOnQuitter() {
    Wizard wizard;
    QVERIFY(wizard.Start());
    struct Seen {
      ProductCode code = 0;
      ProductCode engineCode = 0;
      bool lockedAtStart = false;
      bool lockedAfterEvents = false;
      bool visibleAfterClose = false;
      bool onReportPage = false;
      int eventsProcessed = 0;
      QStringList report;
    } seen;
    auto locked = [&] {
      for (const char* name : {"ButtonPrev", "ButtonNext", "ButtonCancel"}) {
        if (wizard.Button(name).isEnabled()) return false;
      }
      for (const char* name : {"ActionBack", "ActionNext", "ActionAnnuler"}) {
        if (wizard.Action(name).isEnabled()) return false;
      }
      return true;
    };
    wizard.App().Updaters.Set(pcCommon, [&](TdmUpdateCommon& engine, ProductCode code) {
      seen.code = code;
      seen.engineCode = engine.ProductCode;
      seen.lockedAtStart = locked();
      seen.eventsProcessed = wizard.ui.processEventsCalls;
      Delay(50);
      wizard.Window().close();
      wizard.Action("ActionNext").trigger();
      wizard.Action("ActionAnnuler").trigger();
      QCoreApplication::processEvents();
      seen.visibleAfterClose = wizard.Window().isVisible();
      seen.lockedAfterEvents = locked();
      seen.onReportPage = wizard.Current() == &wizard.ReportPage() && wizard.ReportPage().isVisible();
      seen.report = Lines(wizard.Report());
      return UpdateOutcome::Completed;
    });
    QVERIFY(RunToTheEnd(wizard));
    QCOMPARE(seen.code, pcCommon);
    QCOMPARE(seen.engineCode, pcCommon);
    QCOMPARE(wizard.Controller().CurrentProductCode, pcCommon);
    QVERIFY(seen.lockedAtStart);
    QVERIFY(seen.lockedAfterEvents);
    QVERIFY(seen.visibleAfterClose);
    QVERIFY(seen.onReportPage);
    // The 100 ms wait before the updater kept the window alive.
    QVERIFY(seen.eventsProcessed > 0);
    QCOMPARE(seen.report.size(), 2);
    QVERIFY(seen.report.front().startsWith("Mise à jour : Fichiers communs  "));
    QVERIFY(wizard.ui.boxes.empty());
    VerifyFinished(wizard);

    wizard.Click("ButtonNext");
    QVERIFY(!wizard.Window().isVisible());
    QVERIFY(wizard.ui.boxes.empty());
  }
};

}  // namespace kv::test

QTEST_MAIN(kv::test::UpdateRunTest)
#include "UpdateRunTest.moc"
