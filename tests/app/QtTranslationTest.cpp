// Qt's own texts in French once the program's translation is installed: the standard buttons,
// and the printer, folder and file dialogs that the program opens, which Qt draws with its texts.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QPrinter>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/qt/QtTranslation.h"
#include "app/qt/QtUserInterface.h"
#include "platform/UserInterface.h"
#include "tests/support/TempPrefix.h"

namespace kv::test {

namespace {

// The visible texts of a dialog: its labels, group boxes and buttons, without accelerator marks.
QStringList TextsOf(const QWidget& dialog) {
  QStringList texts;
  for (const QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
  for (const QGroupBox* group : dialog.findChildren<QGroupBox*>()) texts << group->title();
  for (const QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) texts << button->text();
  for (QString& text : texts) text.remove(QLatin1Char('&'));
  return texts;
}

QString StandardText(QDialogButtonBox::StandardButton which) {
  QDialogButtonBox box(which);
  return box.button(which)->text();
}

// Runs `open`, which shows a modal dialog; once shown, the dialog's texts are taken, `onShown`
// sees it, and it is cancelled. Answers the texts.
QStringList TextsOfModal(const std::function<void()>& open,
                         const std::function<void(QDialog&)>& onShown = {}) {
  QStringList texts;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return;
    poll.stop();
    texts = TextsOf(*dialog);
    if (onShown) onShown(*dialog);
    QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
  });
  poll.start(10);
  open();
  return texts;
}

}  // namespace

class QtTranslationTest : public QObject {
  Q_OBJECT

 private slots:
  // The standard buttons change language with the translation, and back without it.
  void standardButtons_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("french");
    QTest::newRow("Cancel") << int(QDialogButtonBox::Cancel) << "Cancel"
                            << "Annuler";
    QTest::newRow("Yes") << int(QDialogButtonBox::Yes) << "&Yes"
                         << "&Oui";
    QTest::newRow("No") << int(QDialogButtonBox::No) << "&No"
                        << "&Non";
    QTest::newRow("Open") << int(QDialogButtonBox::Open) << "Open"
                          << "Ouvrir";
    QTest::newRow("Save") << int(QDialogButtonBox::Save) << "Save"
                          << "Enregistrer";
    QTest::newRow("Close") << int(QDialogButtonBox::Close) << "Close"
                           << "Fermer";
  }

  void standardButtons() {
    QFETCH(int, button);
    QFETCH(QString, english);
    QFETCH(QString, french);
    const auto which = static_cast<QDialogButtonBox::StandardButton>(button);
    QCOMPARE(StandardText(which), english);
    {
      const QtTranslation translation;
      QVERIFY(translation.Loaded());
      QCOMPARE(StandardText(which), french);
      QCOMPARE(QLocale().language(), QLocale::French);
    }
    QCOMPARE(StandardText(which), english);
  }

  // The printer set-up dialog of both print buttons, in French; its picture for the documentation.
  void printerDialog() {
    const QtTranslation translation;
    QPrinter printer;
    // A file name of no one's machine in particular, for the picture.
    printer.setOutputFileName(QStringLiteral("/home/utilisateur/Rapport d'installation.pdf"));
    bool accepted = true;
    const QStringList texts =
        TextsOfModal([&] { accepted = QtUserInterface::ShowPrinterSetup(printer, nullptr); },
                     [](QDialog& dialog) {
                       QCOMPARE(dialog.windowTitle(), QStringLiteral("Configuration de l'impression"));
                       const QDir folder(QStringLiteral(KV_SCREENSHOT_DIR));
                       QVERIFY(folder.mkpath(QStringLiteral(".")));
                       QVERIFY(dialog.grab().toImage().save(folder.filePath("print-dialog.png")));
                     });
    QVERIFY(!accepted);
    for (const char* text : {"Imprimante", "Nom :", "Propriétés", "Imprimer", "Annuler", "Options >>"}) {
      QVERIFY2(texts.contains(QString::fromUtf8(text)), qPrintable(text + (" not in " + texts.join(" | "))));
    }
    QVERIFY2(!texts.contains("Printer") && !texts.contains("Print") && !texts.contains("Cancel"),
             qPrintable(texts.join(" | ")));
  }

  // The folder browser and the file-open dialog, in French.
  void fileDialogs() {
    TempPrefix prefix;
    prefix.WriteFile("C:\\WKorvane\\x.txt", "x");
    const QtTranslation translation;
    QtUserInterface qt;
    std::string folder = "C:\\WKorvane";
    const QStringList browser = TextsOfModal([&] { QVERIFY(!qt.BrowseForFolder("Dossier", folder, "", 0)); });
    for (const char* text : {"Voir dans :", "Dossier :", "Choisir", "Annuler"}) {
      QVERIFY2(browser.contains(QString::fromUtf8(text)),
               qPrintable(text + (" not in " + browser.join(" | "))));
    }
    FileOpenRequest request{"Ouvrir un fichier", "Textes (*.txt)|*.txt", "C:\\WKorvane", ""};
    const QStringList opener = TextsOfModal([&] { QVERIFY(!qt.OpenFile(request)); });
    for (const char* text : {"Voir dans :", "Nom de fichier :", "Fichiers de type :", "Ouvrir", "Annuler"}) {
      QVERIFY2(opener.contains(QString::fromUtf8(text)),
               qPrintable(text + (" not in " + opener.join(" | "))));
    }
  }
};

}  // namespace kv::test

QTEST_MAIN(kv::test::QtTranslationTest)
#include "QtTranslationTest.moc"
