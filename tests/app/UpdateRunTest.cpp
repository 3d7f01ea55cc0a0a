// The update run inside the real window, with updaters injected into the table: the key walk, the
// report's header and outcome lines, the wizard locked while an updater works, an error that
// escapes the updater, and "Quitter".
#include <QDateTime>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>

#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "tests/app/AppTestSupport.h"

namespace kv::test {

namespace {

// Presses Next from the welcome page until the run has ended.
bool RunToTheEnd(Wizard& wizard) {
  for (int press = 0; press < 4 && !wizard.Controller().UpdateStarted; ++press) wizard.Click("ButtonNext");
  return wizard.Controller().UpdateStarted && wizard.Current() == &wizard.ReportPage();
}

// The character size of a report line.
qreal PointSize(QtRichTextControl& report, int line) {
  QTextCursor cursor(report.document()->findBlockByNumber(line));
  cursor.movePosition(QTextCursor::EndOfBlock);
  return cursor.charFormat().fontPointSize();
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

  void reportHeaderAndOutcomeLine_data() {
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("outcomeLine");
    QTest::newRow("completed") << 1 << "La mise à jour est terminée avec succès.";
    QTest::newRow("failed") << 2 << "La mise à jour a échouée !";
    QTest::newRow("not performed") << 3 << "La mise à jour n'a pas été effectuée.";
    QTest::newRow("completed with warnings")
        << 4 << "La mise à jour a été effectuée mais avec des avertissements !";
    QTest::newRow("no outcome") << 0 << QString();
    QTest::newRow("another value behaves like none") << 9 << QString();
  }

  void reportHeaderAndOutcomeLine() {
    QFETCH(int, outcome);
    QFETCH(QString, outcomeLine);
    Wizard wizard;
    QVERIFY(wizard.Start());
    wizard.App().Updaters.Set(pcCommon, [&](TdmUpdateCommon& engine, ProductCode) {
      engine.ReportLine("travail");
      return static_cast<UpdateOutcome>(outcome);
    });
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    QVERIFY(RunToTheEnd(wizard));
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);

    QStringList expected{QString(), QString(), "travail"};
    if (!outcomeLine.isEmpty()) expected << QString() << outcomeLine;
    QStringList lines = Lines(wizard.Report());
    const QString header = lines.front();
    lines.front().clear();
    QCOMPARE(lines, expected);

    const QRegularExpressionMatch match =
        QRegularExpression(
            QStringLiteral(
                "^Mise à jour : Fichiers communs  (\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d)$"))
            .match(header);
    QVERIFY2(match.hasMatch(), qPrintable(header));
    const QDateTime stamp = QDateTime::fromString(match.captured(1), QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    QVERIFY2(stamp >= before.addMSecs(-before.time().msec()) && stamp <= after,
             qPrintable(match.captured(1)));

    // Header and outcome at 10 points; a line written without size keeps the size in effect.
    QtRichTextControl& report = wizard.Report();
    QCOMPARE(PointSize(report, 0), 10.0);
    QCOMPARE(PointSize(report, 2), 10.0);
    if (!outcomeLine.isEmpty()) QCOMPARE(PointSize(report, 4), 10.0);
    QCOMPARE(int(wizard.Controller().LastRun().outcome), outcome);
    QVERIFY(!wizard.Controller().LastRun().errorEscaped);
    VerifyFinished(wizard);
  }

  void onlyTheFirstRecognisedKeyRuns_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QList<int>>("called");
    QTest::addColumn<int>("runCode");
    QTest::addColumn<bool>("outcomeLine");
    QTest::newRow("two known keys") << "Common\r\nZRQ" << QList<int>{12} << 12 << true;
    QTest::newRow("a fragment of a name is passed over")
        << "Tessivo\r\nZRQ\r\nCommon" << QList<int>{10} << 10 << true;
    QTest::newRow("a code without updater ends the walk") << "PDFDLL\r\nCommon" << QList<int>{} << 5 << false;
  }

  void onlyTheFirstRecognisedKeyRuns() {
    QFETCH(QString, keys);
    QFETCH(QList<int>, called);
    QFETCH(int, runCode);
    QFETCH(bool, outcomeLine);
    PackageTexts texts;
    texts.keys = keys.toStdString();
    Wizard wizard(texts);
    QVERIFY(wizard.Start());
    QList<int> calls;
    for (ProductCode code : {pcCommon, pcZrq}) {
      wizard.App().Updaters.Set(code, [&calls](TdmUpdateCommon&, ProductCode c) {
        calls << c;
        return UpdateOutcome::Completed;
      });
    }
    QVERIFY(RunToTheEnd(wizard));
    QCOMPARE(calls, called);
    QCOMPARE(int(wizard.Controller().CurrentProductCode), runCode);
    QCOMPARE(int(wizard.Engine().ProductCode), runCode);
    const QStringList lines = Lines(wizard.Report());
    QVERIFY(lines.front().startsWith("Mise à jour : "));
    QCOMPARE(lines.size(), outcomeLine ? 4 : 2);
    VerifyFinished(wizard);
  }

  void noRecognisedKeyWritesNothing() {
    PackageTexts texts;
    texts.keys = "Nothing";
    Wizard wizard(texts);
    QVERIFY(wizard.Start());
    QVERIFY(RunToTheEnd(wizard));
    QCOMPARE(wizard.Report().LineCount(), 0);
    QCOMPARE(wizard.Report().PlainText(), std::string());
    QVERIFY(wizard.Controller().LastRun().started);
    QCOMPARE(wizard.Controller().LastRun().outcome, UpdateOutcome::NoOutcome);
    VerifyFinished(wizard);
  }

  void errorEscapingTheUpdater_data() {
    QTest::addColumn<bool>("silent");
    QTest::newRow("error") << false;
    QTest::newRow("silent abort") << true;
  }

  // An error box (none for the silent abort), then the message, an empty line and the failure line.
  void errorEscapingTheUpdater() {
    QFETCH(bool, silent);
    Wizard wizard;
    QVERIFY(wizard.Start());
    wizard.App().Updaters.Set(pcCommon, [&](TdmUpdateCommon& engine, ProductCode) -> UpdateOutcome {
      engine.ReportLine("Copie de C:\\Temp\\Update1.tmp");
      if (silent) Abort();
      throw Error("Le fichier wPDF300A.dll est introuvable.");
    });
    QVERIFY(RunToTheEnd(wizard));
    const QString message = silent ? QStringLiteral("Opération abandonnée")
                                   : QStringLiteral("Le fichier wPDF300A.dll est introuvable.");
    if (silent) {
      QVERIFY(wizard.ui.boxes.empty());
    } else {
      QCOMPARE(wizard.ui.boxes.size(), std::size_t{1});
      QCOMPARE(wizard.ui.boxes.front().kind, MessageKind::Error);
      QCOMPARE(Q(wizard.ui.boxes.front().caption), QStringLiteral("Erreur"));
      QCOMPARE(wizard.ui.beeps, std::vector<std::uint32_t>{MB_ICONEXCLAMATION});
      QCOMPARE(Q(wizard.ui.boxes.front().text), message);
    }
    QStringList lines = Lines(wizard.Report());
    lines.removeFirst();
    QCOMPARE(lines, (QStringList{QString(), "Copie de C:\\Temp\\Update1.tmp", message, QString(),
                                 "La mise à jour a échouée !"}));
    QVERIFY(wizard.Controller().LastRun().errorEscaped);
    VerifyFinished(wizard);
  }

  // A question the updater asks is a modal box of the user interface; its answer decides.
  void updaterQuestionsReachTheUser() {
    Wizard wizard;
    QVERIFY(wizard.Start());
    wizard.App().Updaters.Set(pcCommon, [](TdmUpdateCommon&, ProductCode) {
      return AskConfirmation("Remplacer le fichier ?") ? UpdateOutcome::Completed
                                                       : UpdateOutcome::NotPerformed;
    });
    wizard.ui.Answer(mrNo);
    QVERIFY(RunToTheEnd(wizard));
    QCOMPARE(wizard.ui.boxes.size(), std::size_t{1});
    QCOMPARE(Q(wizard.ui.boxes.front().caption), QStringLiteral("Confirmer"));
    QCOMPARE(Lines(wizard.Report()).back(), QStringLiteral("La mise à jour n'a pas été effectuée."));
  }
};

}  // namespace kv::test

QTEST_MAIN(kv::test::UpdateRunTest)
#include "UpdateRunTest.moc"
