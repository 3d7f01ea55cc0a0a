// The main-product update in the wizard's window, with the program's own updaters, on the demo
// installation (two companies with their databases) and the demo's main-product package: the
// report page at the end of the run, and its picture for the documentation.
#include <QDir>
#include <QTest>
#include <filesystem>

#include "tests/app/AppTestSupport.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/PrintRows.h"

namespace kv::test {

namespace fs = std::filesystem;

class MainProductReportTest : public QObject {
  Q_OBJECT

 private slots:
  void reportAfterTheMainProductUpdate() {
    const fs::path bin = KV_BIN_DIR;
    TempDir scratch;
    const fs::path prefix = scratch.Path() / "prefix";
    const CommandResult made =
        RunProgram({"env", "KORVANE_PREFIX=" + prefix.string(), "KVHOST=" + (bin / "kvhost").string(), "bash",
                    (fs::path(KV_SOURCE_DIR) / "demo" / "make-prefix").string(), prefix.string()});
    QVERIFY2(made.exitCode == 0, made.err.c_str());
    const PrefixScope scope(prefix);

    MemoryPackage package;
    for (const auto& entry : fs::directory_iterator(bin.parent_path() / "demo" / "main-package")) {
      package.Add(entry.path().filename().string(), ReadHostFile(entry.path()), kPackageTime);
    }
    const CurrentPackageScope packageScope(package);
    RecordingUi ui;
    SuiteProductCatalog catalog;
    WizardApplication app(catalog, ProgramUpdaters());
    app.frmMain->show();
    QVERIFY(QTest::qWaitFor([&] { return app.Controller->FirstStepShown; }, 5000));
    QPushButton& next = *app.frmMain->findChild<QPushButton*>("ButtonNext");
    QTest::mouseClick(&next, Qt::LeftButton);
    QTest::mouseClick(&next, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return next.text() == QStringLiteral("Quitter"); }, 60000));

    const QStringList lines = Lines(*app.frmEndInstall->RichEditReport);
    QVERIFY2(lines.contains(QStringLiteral("Mise à jour de listes pour la société Genève")),
             qPrintable(lines.join('\n')));
    QCOMPARE(lines.last(), QStringLiteral("La mise à jour est terminée avec succès."));
    QVERIFY(ui.boxes.empty());

    const QDir folder(QStringLiteral(KV_SCREENSHOT_DIR));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    QTest::qWait(50);
    const QImage shot = app.frmMain->grab().toImage();
    QCOMPARE(shot.size() / shot.devicePixelRatio(), QSize(579, 383));
    QVERIFY(shot.save(folder.filePath(QStringLiteral("main-product-report.png"))));
  }
};

}  // namespace kv::test

QTEST_MAIN(kv::test::MainProductReportTest)
#include "MainProductReportTest.moc"
