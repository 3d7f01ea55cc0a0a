// Unattended mode inside the test process: the command line, the same wizard driven without a
// window through the console interface, the exit code of every way a run can end, the answer
// policy, the boxes on standard error and the report's log.
#include <QFile>
#include <QTemporaryDir>
#include <iostream>
#include <sstream>

#include "app/Unattended.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "tests/app/AppTestSupport.h"

namespace kv::test {

namespace {

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

// The wizard as unattended mode runs it: the console interface answering by policy.
struct UnattendedRun {
  UnattendedRun(const PackageTexts& texts, bool answerYes) : wizard(texts), console(answerYes) {
    SetUi(&console);
    wizard.Create();
  }
  ~UnattendedRun() { SetUi(&wizard.ui); }
  UnattendedRun(const UnattendedRun&) = delete;
  UnattendedRun& operator=(const UnattendedRun&) = delete;

  Wizard wizard;
  ConsoleUserInterface console;
};

std::string ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return "<missing>";
  return file.readAll().toStdString();
}

}  // namespace

class UnattendedTest : public QObject {
  Q_OBJECT

 private slots:
  void commandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("unattended");
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<QString>("log");
    QTest::addColumn<QString>("package");
    QTest::addColumn<bool>("help");
    QTest::addColumn<QString>("error");
    QTest::newRow("interactive") << QStringList{} << false << false << ""
                                 << "" << false << "";
    QTest::newRow("all options") << QStringList{"--unattended", "--answer",  "yes",  "--log",
                                                "r.log",        "--package", "p.exe"}
                                 << true << true << "r.log"
                                 << "p.exe" << false << "";
    QTest::newRow("inline values") << QStringList{"--unattended", "--answer=no", "--log=a b.log",
                                                  "--package=x"}
                                   << true << false << "a b.log"
                                   << "x" << false << "";
    QTest::newRow("installer spelling")
        << QStringList{"/SILENT", "/LOG=C:/tmp/r.log"} << true << false << "C:/tmp/r.log"
        << "" << false << "";
    QTest::newRow("installer spelling, other case")
        << QStringList{"/silent", "/log=r.log"} << true << false << "r.log"
        << "" << false << "";
    QTest::newRow("package in interactive mode") << QStringList{"--package", "p"} << false << false << ""
                                                 << "p" << false << "";
    QTest::newRow("help") << QStringList{"--help"} << false << false << ""
                          << "" << true << "";
    QTest::newRow("unknown option") << QStringList{"--force"} << false << false << ""
                                    << "" << false << "Option inconnue : --force";
    QTest::newRow("missing value") << QStringList{"--unattended", "--log"} << true << false << ""
                                   << "" << false << "L'option --log attend une valeur.";
    QTest::newRow("bad answer") << QStringList{"--unattended", "--answer", "peut-être"} << true << false << ""
                                << "" << false << "L'option --answer attend yes ou no, pas « peut-être ».";
    QTest::newRow("answer without unattended")
        << QStringList{"--answer", "yes"} << false << true << ""
        << "" << false << "L'option --answer ne s'emploie qu'avec --unattended.";
  }

  void commandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, unattended);
    QFETCH(bool, answerYes);
    QFETCH(QString, log);
    QFETCH(QString, package);
    QFETCH(bool, help);
    QFETCH(QString, error);
    std::vector<std::string> args;
    for (const QString& a : arguments) args.push_back(a.toStdString());
    const CommandLine parsed = ParseCommandLine(args);
    QCOMPARE(Q(parsed.error), error);
    QCOMPARE(parsed.unattended, unattended);
    QCOMPARE(parsed.answerYes, answerYes);
    QCOMPARE(Q(parsed.logFile.value_or("")), log);
    QCOMPARE(Q(parsed.packageFile.value_or("")), package);
    QCOMPARE(parsed.help, help);
  }

  void helpIsFrench() {
    const QString help = Q(UsageText("korvane-update"));
    for (const char* option : {"--unattended", "/SILENT", "--answer yes|no", "--log FICHIER", "/LOG=FICHIER",
                               "--package FICHIER", "--help"}) {
      QVERIFY2(help.contains(QString::fromUtf8(option)), option);
    }
    QVERIFY(help.contains("Utilisation : korvane-update"));
    QVERIFY(help.contains("une autre copie du programme est en cours d'exécution"));
  }

  void exitCodes_data() {
    QTest::addColumn<int>("outcome");
    QTest::addColumn<bool>("throws");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("completed") << 1 << false << 0;
    QTest::newRow("failed") << 2 << false << 1;
    QTest::newRow("not performed") << 3 << false << 2;
    QTest::newRow("completed with warnings") << 4 << false << 3;
    QTest::newRow("no outcome") << 0 << false << 4;
    QTest::newRow("an error escapes the updater") << 1 << true << 1;
  }

  // The same wizard, never shown, runs the updater; its outcome is the exit code, the report is in
  // the log as it was written, the error box on standard error.
  void exitCodes() {
    QFETCH(int, outcome);
    QFETCH(bool, throws);
    QFETCH(int, exitCode);
    UnattendedRun run({}, false);
    QTemporaryDir folder;
    const QString logPath = folder.filePath("report.log");
    ReportLog log(logPath.toStdString());
    QStringList seenInLog;
    run.wizard.Report().OnLine([&](const std::string& line) {
      log.Append(line);
      seenInLog << Q(ReadFile(logPath));
    });
    bool windowShown = true;
    run.wizard.App().Updaters.Set(pcCommon, [&](TdmUpdateCommon& engine, ProductCode) -> UpdateOutcome {
      windowShown = run.wizard.Window().isVisible();
      engine.ReportLine("Copie de C:\\Temp\\Update7.tmp");
      if (throws) throw Error("Disque plein.");
      return static_cast<UpdateOutcome>(outcome);
    });
    CapturedStderr err;
    QCOMPARE(RunUnattended(run.wizard.App()), exitCode);
    QVERIFY(!windowShown);
    QVERIFY(!run.wizard.Window().isVisible());
    QCOMPARE(Q(err.Text()), throws ? QStringLiteral("[Erreur] Disque plein.\n") : QString());
    // Written through line by line; at the end the log is the report's text.
    QCOMPARE(ReadFile(logPath), run.wizard.Report().PlainText());
    QVERIFY(seenInLog.size() >= 3);
    QVERIFY(seenInLog.front().startsWith("Mise à jour : Fichiers communs  "));
    QVERIFY(!seenInLog.front().contains('\n'));
  }

  void answerPolicy_data() {
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("default no keeps the installed file") << false << 2;
    QTest::newRow("yes") << true << 0;
  }

  void answerPolicy() {
    QFETCH(bool, answerYes);
    QFETCH(int, exitCode);
    UnattendedRun run({}, answerYes);
    run.wizard.App().Updaters.Set(pcCommon, [](TdmUpdateCommon&, ProductCode) {
      return AskConfirmation("Le fichier installé est plus récent.\r\nVoulez-vous le remplacer ?")
                 ? UpdateOutcome::Completed
                 : UpdateOutcome::NotPerformed;
    });
    CapturedStderr err;
    QCOMPARE(RunUnattended(run.wizard.App()), exitCode);
    QCOMPARE(
        Q(err.Text()),
        QStringLiteral("[Confirmer] Le fichier installé est plus récent.\nVoulez-vous le remplacer ?\n"));
  }

  void nothingToRun_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("lines");
    QTest::newRow("no Updates.txt") << "" << 0;
    QTest::newRow("no recognised key") << "Inconnu" << 0;
    QTest::newRow("a product without updater") << "PDFDLL" << 2;
  }

  void nothingToRun() {
    QFETCH(QString, keys);
    QFETCH(int, lines);
    PackageTexts texts;
    texts.keys = keys.toStdString();
    UnattendedRun run(texts, false);
    CapturedStderr err;
    QCOMPARE(RunUnattended(run.wizard.App()), 4);
    QCOMPARE(run.wizard.Report().LineCount(), lines);
    QCOMPARE(err.Text(), std::string());
  }

  // The main product's key without a compatible database client: the warning, and nothing run.
  void preflightStopsTheRun() {
    PackageTexts texts;
    texts.keys = "WinTessivo";
    UnattendedRun run(texts, true);
    bool ran = false;
    run.wizard.App().Updaters.Set(pcWinTessivo, [&](TdmUpdateCommon&, ProductCode) {
      ran = true;
      return UpdateOutcome::Completed;
    });
    CapturedStderr err;
    QCOMPARE(RunUnattended(run.wizard.App()), 5);
    QVERIFY(!ran);
    QVERIFY2(Q(err.Text())
                 .startsWith("[Avertissement] ATTENTION !!!\n\nCette mise à jour a détecté une version "
                             "incompatible de Firebird et du module d'adresses."),
             err.Text().c_str());
    QVERIFY(run.wizard.Window().History->empty());
  }

  void reportLogCannotBeCreated() {
    QTemporaryDir folder;
    QVERIFY_THROWS_EXCEPTION(Error, ReportLog(folder.filePath("missing/report.log").toStdString()));
  }
};

}  // namespace kv::test

QTEST_MAIN(kv::test::UnattendedTest)
#include "UnattendedTest.moc"
