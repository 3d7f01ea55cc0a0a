// The Qt side of the ports: real message boxes with the French titles and buttons, the busy
// cursor, the event processing of the program's waits, the termination request, the folder
// browser, the rich-text control, and the single-instance guard.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "formats/RtfReader.h"
#include "formats/Text.h"
#include "wizard/InstanceGuard.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "platform/host/Prefix.h"
#include "tests/app/AppTestSupport.h"

namespace kv::test {

namespace {

struct SeenBox {
  QString title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;
  QString text;
};

// Waits for the next modal box, records it and presses the button with the given text.
void PressWhenShown(QTimer& poll, SeenBox& seen, const QString& press) {
  QObject::connect(&poll, &QTimer::timeout, &poll, [&poll, &seen, press] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    poll.stop();
    seen.title = box->windowTitle();
    seen.icon = box->icon();
    seen.text = box->text();
    for (QAbstractButton* button : box->buttons()) seen.buttons << button->text();
    for (QAbstractButton* button : box->buttons()) {
      if (button->text() == press) button->click();
    }
  });
  poll.start(10);
}

// The text of the character format at the end of a block.
QTextCharFormat FormatOfBlock(const QTextDocument& document, int block) {
  QTextCursor cursor(document.findBlockByNumber(block));
  cursor.movePosition(QTextCursor::EndOfBlock);
  return cursor.charFormat();
}

}  // namespace

class PortsTest : public QObject {
  Q_OBJECT

 private slots:
  void messageBoxes_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<QString>("press");
    QTest::addColumn<bool>("answer");
    QTest::newRow("error") << 0 << "Erreur" << int(QMessageBox::Critical) << QStringList{"OK"} << "OK"
                           << false;
    QTest::newRow("warning") << 1 << "Avertissement" << int(QMessageBox::Warning) << QStringList{"OK"} << "OK"
                             << false;
    QTest::newRow("information") << 2 << "Informations" << int(QMessageBox::Information) << QStringList{"OK"}
                                 << "OK" << false;
    QTest::newRow("warning question, yes")
        << 3 << "Avertissement" << int(QMessageBox::Warning) << QStringList{"&Oui", "&Non"} << "&Oui" << true;
    QTest::newRow("warning question, no") << 3 << "Avertissement" << int(QMessageBox::Warning)
                                          << QStringList{"&Oui", "&Non"} << "&Non" << false;
    QTest::newRow("confirmation, yes")
        << 4 << "Confirmer" << int(QMessageBox::Question) << QStringList{"&Oui", "&Non"} << "&Oui" << true;
  }

  // The program's message functions through the Qt interface show real boxes.
  void messageBoxes() {
    QFETCH(int, which);
    QFETCH(QString, title);
    QFETCH(int, icon);
    QFETCH(QStringList, buttons);
    QFETCH(QString, press);
    QFETCH(bool, answer);
    QtUserInterface qt;
    const ScopedUi installed(qt);
    SeenBox seen;
    QTimer poll;
    PressWhenShown(poll, seen, press);
    const std::string text = "Le fichier C:\\WKorvane\\a.dll\r\nest à jour.";
    bool result = false;
    switch (which) {
      case 0:
        ShowError(text);
        break;
      case 1:
        ShowWarning(text);
        break;
      case 2:
        ShowInformation(text);
        break;
      case 3:
        result = AskWarning(text);
        break;
      case 4:
        result = AskConfirmation(text);
        break;
    }
    QCOMPARE(seen.title, title);
    QCOMPARE(int(seen.icon), icon);
    QStringList sorted = seen.buttons;
    sorted.sort();
    buttons.sort();
    QCOMPARE(sorted, buttons);
    QCOMPARE(seen.text, Q(text));
    QCOMPARE(result, answer);
  }

  void busyCursor() {
    QtUserInterface qt;
    const ScopedUi installed(qt);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    BeginBusyCursor();
    BeginBusyCursor();
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EndBusyCursor();
    QVERIFY(QApplication::overrideCursor() != nullptr);
    EndBusyCursor();
    QCOMPARE(QApplication::overrideCursor(), nullptr);
  }

  // A positive wait keeps the window alive: timers fire during it; a negative one does not.
  void delayProcessesWindowMessages() {
    QtUserInterface qt;
    const ScopedUi installed(qt);
    int fired = 0;
    QTimer tick;
    tick.setSingleShot(true);
    QObject::connect(&tick, &QTimer::timeout, [&] { ++fired; });
    tick.start(5);
    Delay(-60);
    QCOMPARE(fired, 0);
    Delay(60);
    QCOMPARE(fired, 1);
  }

  // A termination asked for before the loop runs (the window's show handler) still ends the loop.
  void terminationEndsTheEventLoop() {
    QtUserInterface qt;
    qt.RequestTermination();
    QVERIFY(qt.TerminationRequested());
    bool timedOut = false;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, [&] {
      timedOut = true;
      QCoreApplication::quit();
    });
    timeout.start(5000);
    QCoreApplication::exec();
    QVERIFY(!timedOut);
  }

  void windowHandles() {
    QWidget window;
    window.show();
    QCOMPARE(QtUserInterface::WindowOf(QtUserInterface::HandleOf(&window)), &window);
    QWidget other;
    const WindowHandle stale = QtUserInterface::HandleOf(&other);
    QCOMPARE(QtUserInterface::WindowOf(stale + 1), nullptr);
    QtUserInterface qt;
    QVERIFY(!qt.ForceForegroundWindow(0));
  }

  // The folder browser speaks Windows paths of the prefix.
  void folderBrowserSpeaksWindowsPaths() {
    TempPrefix prefix;
    const std::filesystem::path target =
        prefix.WriteFile("C:\\WKorvane\\Common\\Programs\\x.txt", "x").parent_path();
    QtUserInterface qt;
    QTimer poll;
    QString startedIn;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      poll.stop();
      startedIn = QDir(dialog->directory()).absolutePath();
      dialog->setDirectory(QString::fromStdString(target.string()));
      QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
    poll.start(10);
    std::string folder = "C:\\WKorvane";
    QVERIFY(qt.BrowseForFolder("Dossier", folder, "", BIF_RETURNONLYFSDIRS));
    QCOMPARE(startedIn, QDir(Q(prefix.Host("C:\\WKorvane").string())).absolutePath());
    QVERIFY(text::IEquals(folder, "C:\\WKorvane\\Common\\Programs"));
  }

  // ------------------------------------------------------------------------------------------
  // The rich-text control

  void appendedLines() {
    QtRichTextControl control;
    std::vector<std::string> heard;
    control.OnLine([&](const std::string& line) { heard.push_back(line); });
    QCOMPARE(control.LineCount(), 0);
    control.AppendLine("Mise à jour : X  01.06.2013 12:00:00\r\n", 10);
    control.AppendLine("Le fichier C:\\A\\B.dll", 0);
    control.AppendLine("est à jour : il n'est pas remplacé.\r\n", 0);
    control.AppendLine("\r\nLa mise à jour est terminée avec succès.", 12);
    const QStringList expected{"Mise à jour : X  01.06.2013 12:00:00",    "", "Le fichier C:\\A\\B.dll",
                               "est à jour : il n'est pas remplacé.",     "", "",
                               "La mise à jour est terminée avec succès."};
    QCOMPARE(Lines(control), expected);
    QCOMPARE(control.LineCount(), 7);
    QCOMPARE(control.document()->blockCount(), 7);
    QStringList heardLines;
    for (const std::string& line : heard) heardLines << Q(line);
    QCOMPARE(heardLines, expected);
    // A size applies to its text and what follows; 0 leaves the size in effect.
    const qreal sizes[] = {10, 10, 10, 10, 10, 12, 12};
    for (int i = 0; i < 7; ++i) QCOMPARE(FormatOfBlock(*control.document(), i).fontPointSize(), sizes[i]);

    control.SetText("\r\nTexte");
    QCOMPARE(Lines(control), (QStringList{"", "Texte"}));
    QCOMPARE(control.LineCount(), 2);
    control.Clear();
    QCOMPARE(control.LineCount(), 0);
    QCOMPARE(control.PlainText(), std::string());
  }

  void renderedRtf() {
    QtRichTextControl control;
    control.LoadDocument(rtf::ParseRtf(
        "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fswiss Arial;}}{\\colortbl;\\red200\\green0\\blue0;}"
        "\\pard\\qc\\f0\\fs28 Titre\\par\\pard\\li720\\fi-360\\cf1\\i Rouge \\i0\\cf0 et\\line suite\\par}"));
    QCOMPARE(Lines(control), (QStringList{"Titre", "Rouge et", "suite", ""}));
    QCOMPARE(control.LineCount(), 4);
    const QTextDocument& document = *control.document();
    QCOMPARE(document.blockCount(), 3);
    const QTextBlock title = document.findBlockByNumber(0);
    QCOMPARE(int(title.blockFormat().alignment() & Qt::AlignHorizontal_Mask), int(Qt::AlignHCenter));
    QCOMPARE(FormatOfBlock(document, 0).fontPointSize(), 14.0);
    QCOMPARE(FormatOfBlock(document, 0).fontFamilies().toStringList(), QStringList{"Arial"});
    const QTextBlock body = document.findBlockByNumber(1);
    QCOMPARE(body.blockFormat().leftMargin(), 48.0);
    QCOMPARE(body.blockFormat().textIndent(), -24.0);
    QTextCursor red(body);
    red.movePosition(QTextCursor::NextCharacter);
    QVERIFY(red.charFormat().fontItalic());
    QCOMPARE(red.charFormat().foreground().color(), QColor(200, 0, 0));

    control.LoadDocument(rtf::ParseRtf(""));
    QCOMPARE(control.LineCount(), 0);
    // The first appended line takes the empty control's line.
    control.AppendLine("a", 0);
    QCOMPARE(Lines(control), QStringList{"a"});
  }

  // ------------------------------------------------------------------------------------------
  // The single-instance guard

  void applicationTitles_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::newRow("Windows executable") << "D:\\Updates\\UPDATE_2013.EXE"
                                        << "Update_2013";
    QTest::newRow("host program") << "/work/build/bin/korvane-update"
                                  << "Korvane-update";
    QTest::newRow("cut at the first dot") << "C:\\a.b\\setup.v2.exe"
                                          << "Setup";
    QTest::newRow("lower case") << "update.exe"
                                << "Update";
    QTest::newRow("accents") << "Z:\\tmp\\ÉTÉ.EXE"
                             << "Été";
    QTest::newRow("no name before the dot") << "C:\\x\\.exe"
                                            << "";
  }

  void applicationTitles() {
    QFETCH(QString, path);
    QFETCH(QString, title);
    QCOMPARE(Q(ApplicationTitleFromFileName(path.toStdString())), title);
  }

  // The guard is a semaphore of the prefix's semaphores folder, one lock file per name.
  void guardExcludesTheSameNameWhateverTheCase() {
    TempPrefix prefix;
    InstanceGuard first;
    QVERIFY(!first.IsAlreadyRunning("Update_2013"));
    QVERIFY(first.HasHandle());
    {
      InstanceGuard sameName;
      QVERIFY(sameName.IsAlreadyRunning("UPDATE_2013"));
      InstanceGuard otherName;
      QVERIFY(!otherName.IsAlreadyRunning("Update_2014"));
    }
    QVERIFY(std::filesystem::exists(prefix.Root() / "semaphores" / "update_2013"));
    InstanceGuard whileHeld;
    QVERIFY(whileHeld.IsAlreadyRunning("Update_2013"));
  }

  void guardIsReleasedWithItsHolder() {
    TempPrefix prefix;
    {
      InstanceGuard first;
      QVERIFY(!first.IsAlreadyRunning("Update"));
    }
    InstanceGuard next;
    QVERIFY(!next.IsAlreadyRunning("Update"));
  }

  void guardThatCannotBeCreatedLetsTheProgramRun() {
    TempPrefix prefix;
    // A file where the folder of locks should be.
    QFile(QString::fromStdString((prefix.Root() / "semaphores").string())).open(QIODevice::WriteOnly);
    InstanceGuard guard;
    QVERIFY(!guard.IsAlreadyRunning("Update"));
    QVERIFY(!guard.HasHandle());
    InstanceGuard unnamed;
    QVERIFY(!unnamed.IsAlreadyRunning(""));
  }

  // The program's own guard is named after its file name.
  void guardIsNamedAfterTheProgram() {
    TempPrefix prefix;
    InstanceGuard guard;
    QVERIFY(!guard.IsAlreadyRunning());
    QVERIFY(std::filesystem::exists(prefix.Root() / "semaphores" / text::ToLower(ApplicationTitle())));
  }
};

}  // namespace kv::test

QTEST_MAIN(kv::test::PortsTest)
#include "PortsTest.moc"
