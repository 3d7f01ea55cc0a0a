// The connection dialog, driven as a user does: controls found by name, keys sent to the edits,
// the messages caught by a scripted user interface, files on a temporary prefix.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <memory>

#include "db/dialogs/ButtonPanel.h"
#include "db/dialogs/dlgConnectionUnit.h"
#include "db/dialogs/dlgFileOpenUnit.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv::test {

namespace {

// A dialog the test keeps: it would otherwise free itself when closed.
std::unique_ptr<TdlgConnection> MakeDialog() {
  auto dialog = std::make_unique<TdlgConnection>();
  dialog->setAttribute(Qt::WA_DeleteOnClose, false);
  return dialog;
}

void FillAddress(TdlgConnection& d, const char* a, const char* b, const char* c, const char* e) {
  d.EditIP1->setText(QString::fromUtf8(a));
  d.EditIP2->setText(QString::fromUtf8(b));
  d.EditIP3->setText(QString::fromUtf8(c));
  d.EditIP4->setText(QString::fromUtf8(e));
}

// Runs `answer` on the next modal dialog of type T, once it is shown.
template <typename T>
void WhenModal(QTimer& poll, std::function<void(T&)> answer) {
  QObject::connect(&poll, &QTimer::timeout, &poll, [&poll, answer] {
    auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    poll.stop();
    answer(*dialog);
  });
  poll.start(10);
}

QListWidgetItem* ListItem(TdlgFileOpen& chooser, const QString& name) {
  const QList<QListWidgetItem*> found = chooser.ShellListView->findItems(name, Qt::MatchExactly);
  return found.isEmpty() ? nullptr : found.front();
}

}  // namespace

class ConnectionDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void asDesigned() {
    const auto d = MakeDialog();
    QCOMPARE(d->windowTitle(), QStringLiteral("Connexion à la base de données"));
    QCOMPARE(d->size(), QSize(617, 311));
    QCOMPARE(d->minimumWidth(), 500);
    QVERIFY(d->minimumHeight() >= 300);
    QVERIFY(TdlgConnection(nullptr).testAttribute(Qt::WA_DeleteOnClose));

    const struct {
      const char* name;
      const char* caption;
    } radios[] = {{"RadioButtonConnLocal", "Connexion locale"},
                  {"RadioButtonConnTcp", "Connexion locale ou distante par TCP/IP"},
                  {"RadioButtonConnOther", "Autre connexion"}};
    for (const auto& r : radios) {
      auto* button = d->findChild<QRadioButton*>(r.name);
      QVERIFY2(button != nullptr, r.name);
      QCOMPARE(button->text(), QString::fromUtf8(r.caption));
      QVERIFY(button->font().bold());
    }
    QVERIFY(d->RadioButtonConnLocal->isChecked());

    const struct {
      const char* label;
      const char* caption;
      const char* edit;
    } labels[] = {{"LabelDbFile", "Fichier :  ", "RzButtonEditDbFile"},
                  {"LabelIP", "Adresse IP du serveur : ", "EditIP1"},
                  {"LabelServFile", "Fichier sur le serveur : ", "EditServFile"},
                  {"LabelOtherDbFile", "Nom de la base : ", "EditOtherDbFile"}};
    for (const auto& l : labels) {
      auto* label = d->findChild<QLabel*>(l.label);
      QVERIFY2(label != nullptr, l.label);
      QCOMPARE(label->text(), QString::fromUtf8(l.caption));
      QCOMPARE(label->buddy(), d->findChild<QLineEdit*>(l.edit));
    }
    for (const char* name : {"EditIP1", "EditIP2", "EditIP3", "EditIP4"}) {
      auto* ip = d->findChild<QLineEdit*>(name);
      QVERIFY2(ip != nullptr, name);
      QCOMPARE(ip->maxLength(), 3);
    }
    QVERIFY(d->findChild<TRzButtonEdit*>("RzButtonEditDbFile")->Button() != nullptr);

    QCOMPARE(d->findChild<QAction*>("ActionOK")->text(), QStringLiteral("OK"));
    QCOMPARE(d->findChild<QAction*>("ActionAnnuler")->text(), QStringLiteral("Annuler"));
    auto* ok = d->findChild<QPushButton*>("ButtonOK");
    auto* cancel = d->findChild<QPushButton*>("ButtonAnnuler");
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QCOMPARE(cancel->text(), QStringLiteral("Annuler"));
    QVERIFY(ok->isDefault());
    // The button bar's rule: 25 high, 10 from the right and 10 apart, the bar 45 high.
    QWidget* panel = d->findChild<QWidget*>("PanelBottom");
    QCOMPARE(panel->height(), 45);
    QCOMPARE(cancel->geometry(), QRect(panel->width() - 10 - 75, 10, 75, 25));
    QCOMPARE(ok->geometry(), QRect(panel->width() - 10 - 75 - 10 - 75, 10, 75, 25));
  }

  // Only the width follows a resize; the buttons stay at the right edge.
  void resizeKeepsTheHeight() {
    const auto d = MakeDialog();
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.get()));
    d->resize(800, 500);
    QTRY_COMPARE(d->size(), QSize(800, 311));
    QWidget* panel = d->PanelBottom;
    QCOMPARE(panel->width(), 800);
    QCOMPARE(d->ButtonAnnuler->geometry().right() + 1, 800 - 10);
    d->resize(300, 100);
    QTRY_COMPARE(d->size(), QSize(500, 311));
  }

  void groupsFollowTheCheckedButton() {
    const auto d = MakeDialog();
    const QColor window = d->palette().color(QPalette::Active, QPalette::Base);
    const QColor form = d->palette().color(QPalette::Active, QPalette::Window);
    QVERIFY(window != form);
    const std::vector<QLineEdit*> local{d->RzButtonEditDbFile};
    const std::vector<QLineEdit*> tcp{d->EditIP1, d->EditIP2, d->EditIP3, d->EditIP4, d->EditServFile};
    const std::vector<QLineEdit*> other{d->EditOtherDbFile};
    const auto check = [&](const std::vector<QLineEdit*>& group, bool enabled) {
      for (QLineEdit* e : group) {
        QCOMPARE(e->isEnabled(), enabled);
        QCOMPARE(e->palette().color(QPalette::Base), enabled ? window : form);
      }
    };
    check(local, true);
    check(tcp, false);
    check(other, false);
    d->RadioButtonConnTcp->click();
    check(local, false);
    check(tcp, true);
    check(other, false);
    d->RadioButtonConnOther->click();
    check(local, false);
    check(tcp, false);
    check(other, true);
    d->RadioButtonConnLocal->click();
    check(local, true);
    check(other, false);
  }

  void okEnabled_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("edits");  // local file, ip1..ip4, server file, other
    QTest::addColumn<bool>("enabled");
    const QString local = QStringLiteral("RadioButtonConnLocal");
    const QString tcp = QStringLiteral("RadioButtonConnTcp");
    const QString other = QStringLiteral("RadioButtonConnOther");
    QTest::newRow("local empty") << local << QStringList{"", "", "", "", "", "", ""} << false;
    QTest::newRow("local blanks") << local << QStringList{"   ", "", "", "", "", "", ""} << false;
    QTest::newRow("local file") << local << QStringList{"C:\\a.fdb", "", "", "", "", "", ""} << true;
    QTest::newRow("local, other groups filled")
        << local << QStringList{"", "1", "2", "3", "4", "C:\\a", "x"} << false;
    QTest::newRow("tcp complete") << tcp << QStringList{"", "192", "168", "0", "5", "C:\\a.fdb", ""} << true;
    QTest::newRow("tcp without 1") << tcp << QStringList{"", "", "168", "0", "5", "C:\\a.fdb", ""} << false;
    QTest::newRow("tcp without 2") << tcp << QStringList{"", "192", "", "0", "5", "C:\\a.fdb", ""} << false;
    QTest::newRow("tcp without 3") << tcp << QStringList{"", "192", "168", "", "5", "C:\\a.fdb", ""} << false;
    QTest::newRow("tcp without 4") << tcp << QStringList{"", "192", "168", "0", "", "C:\\a.fdb", ""} << false;
    QTest::newRow("tcp without file") << tcp << QStringList{"", "192", "168", "0", "5", "", ""} << false;
    QTest::newRow("other blanks") << other << QStringList{"C:\\a.fdb", "", "", "", "", "", "  "} << false;
    QTest::newRow("other text") << other << QStringList{"", "", "", "", "", "", "\\\\srv\\a.fdb"} << true;
  }

  void okEnabled() {
    QFETCH(QString, button);
    QFETCH(QStringList, edits);
    QFETCH(bool, enabled);
    const auto d = MakeDialog();
    d->findChild<QRadioButton*>(button)->click();
    const char* names[] = {"RzButtonEditDbFile", "EditIP1",        "EditIP2", "EditIP3", "EditIP4",
                           "EditServFile",       "EditOtherDbFile"};
    for (int i = 0; i < 7; ++i) d->findChild<QLineEdit*>(names[i])->setText(edits[i]);
    QCOMPARE(d->ActionOK->isEnabled(), enabled);
    QCOMPARE(d->ButtonOK->isEnabled(), enabled);
    // A disabled OK does nothing, also when clicked.
    ScriptedUi ui;
    QTest::mouseClick(d->ButtonOK, Qt::LeftButton);
    if (!enabled) {
      QCOMPARE(d->result(), int(QDialog::Rejected));
      QVERIFY(ui.Boxes().empty());
    }
  }

  // Typed as the user does: the address 192.168.0.5 with a path on the server.
  void tcpAddressBuildsTheConnectionString() {
    ScriptedUi ui;
    const auto d = MakeDialog();
    d->RadioButtonConnTcp->click();
    QTest::keyClicks(d->EditIP1, "192");
    QTest::keyClicks(d->EditIP2, "168");
    QTest::keyClicks(d->EditIP3, "0");
    QTest::keyClicks(d->EditIP4, "5");
    QTest::keyClicks(d->EditServFile, "C:\\data\\a.fdb");
    QVERIFY(d->ActionOK->isEnabled());
    QTest::mouseClick(d->ButtonOK, Qt::LeftButton);
    QCOMPARE(d->result(), int(QDialog::Accepted));
    QCOMPARE(d->ResultConnectionString, std::string("192.168.0.5:C:\\data\\a.fdb"));
    QCOMPARE(TdlgConnection::GetConnectionType(d->ResultConnectionString), ibctTCPIP);
    QVERIFY(ui.Boxes().empty());
  }

  void serverFileName_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("result");  // empty: refused
    QTest::newRow("no backslash") << "a.fdb"
                                  << "";
    QTest::newRow("backslash first") << "\\a.fdb"
                                     << "";
    QTest::newRow("too short") << "C\\"
                               << "";
    QTest::newRow("drive") << "D:\\x"
                           << "10.0.0.1:D:\\x";
    QTest::newRow("folder first") << "data\\a.fdb"
                                  << "10.0.0.1:data\\a.fdb";
  }

  void serverFileName() {
    QFETCH(QString, file);
    QFETCH(QString, result);
    ScriptedUi ui;
    const auto d = MakeDialog();
    d->ResultConnectionString = "before";
    d->RadioButtonConnTcp->click();
    FillAddress(*d, "10", "0", "0", "1");
    d->EditServFile->setText(file);
    d->ActionOK->trigger();
    if (result.isEmpty()) {
      QCOMPARE(ui.Boxes().size(), std::size_t(1));
      QCOMPARE(ui.Boxes()[0].kind, MessageKind::Error);
      QCOMPARE(ui.Boxes()[0].caption, std::string("Erreur"));
      QCOMPARE(ui.Boxes()[0].text, std::string("Le nom de fichier n'est pas correct!"));
      QCOMPARE(ui.Beeps().size(), std::size_t(1));
      // The dialog stays open with its input.
      QCOMPARE(d->result(), int(QDialog::Rejected));
      QCOMPARE(d->ResultConnectionString, std::string("before"));
      QCOMPARE(d->EditServFile->text(), file);
    } else {
      QVERIFY(ui.Boxes().empty());
      QCOMPARE(d->result(), int(QDialog::Accepted));
      QCOMPARE(QString::fromStdString(d->ResultConnectionString), result);
    }
  }

  // The focus moves on typing only while the dialog is on screen.
  void addressKeys() {
    const auto d = MakeDialog();
    d->RadioButtonConnTcp->click();
    QTest::keyClicks(d->EditIP1, "192");
    QCOMPARE(d->EditIP1->text(), QStringLiteral("192"));
    QVERIFY(d->focusWidget() != d->EditIP2);  // hidden: no move
    d->EditIP1->clear();

    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.get()));
    d->EditIP1->setFocus();
    QTest::keyClicks(d->EditIP1, "192");
    QCOMPARE(d->focusWidget(), d->EditIP2);

    // A dot moves on without being inserted; a letter is ignored.
    QTest::keyClicks(d->EditIP2, "16");
    QTest::keyClick(d->EditIP2, '.');
    QCOMPARE(d->EditIP2->text(), QStringLiteral("16"));
    QCOMPARE(d->focusWidget(), d->EditIP3);
    QTest::keyClick(d->EditIP3, 'a');
    QTest::keyClick(d->EditIP3, 'Z');
    QTest::keyClick(d->EditIP3, ' ');
    QCOMPARE(d->EditIP3->text(), QString());
    QCOMPARE(d->focusWidget(), d->EditIP3);

    // Backspace in an empty edit returns to the previous one, the caret after its text.
    d->EditIP2->setCursorPosition(0);
    QTest::keyClick(d->EditIP3, Qt::Key_Backspace);
    QCOMPARE(d->focusWidget(), d->EditIP2);
    QCOMPARE(d->EditIP2->cursorPosition(), 2);
    QVERIFY(!d->EditIP2->hasSelectedText());
    // In a filled edit it deletes as usual.
    QTest::keyClick(d->EditIP2, Qt::Key_Backspace);
    QCOMPARE(d->EditIP2->text(), QStringLiteral("1"));
    QCOMPARE(d->focusWidget(), d->EditIP2);
    // In the first edit, even empty, nothing special happens.
    d->EditIP1->clear();
    d->EditIP1->setFocus();
    QTest::keyClick(d->EditIP1, Qt::Key_Backspace);
    QCOMPARE(d->focusWidget(), d->EditIP1);
    // The last address edit passes on to the server file.
    d->EditIP4->setFocus();
    QTest::keyClick(d->EditIP4, '.');
    QCOMPARE(d->focusWidget(), d->EditServFile);
    d->hide();
  }

  // Text pasted into an address edit is held to digits as well.
  void pastedLettersAreRefused() {
    const auto d = MakeDialog();
    d->RadioButtonConnTcp->click();
    d->EditIP1->insert(QStringLiteral("4x"));
    QCOMPARE(d->EditIP1->text(), QString());
    d->EditIP1->insert(QStringLiteral("42"));
    QCOMPARE(d->EditIP1->text(), QStringLiteral("42"));
  }

  void localFile() {
    TempPrefix prefix;
    prefix.WriteFile("C:\\data\\a.fdb", "db");
    ScriptedUi ui;
    const auto d = MakeDialog();
    d->RzButtonEditDbFile->setText(QStringLiteral("C:\\data\\absent.fdb"));
    d->ActionOK->trigger();
    QCOMPARE(ui.Boxes().size(), std::size_t(1));
    QCOMPARE(ui.Boxes()[0].text, std::string("Fichier \"C:\\data\\absent.fdb\" pas trouvé"));
    QCOMPARE(d->result(), int(QDialog::Rejected));
    QVERIFY(d->ResultConnectionString.empty());

    d->RzButtonEditDbFile->setText(QStringLiteral("C:\\data\\a.fdb"));
    d->ActionOK->trigger();
    QCOMPARE(ui.Boxes().size(), std::size_t(1));
    QCOMPARE(d->result(), int(QDialog::Accepted));
    QCOMPARE(d->ResultConnectionString, std::string("C:\\data\\a.fdb"));
    QCOMPARE(TdlgConnection::GetConnectionType(d->ResultConnectionString), ibctLocal);
  }

  // A file on a network drive, typed with blanks around it.
  void otherFileIsTrimmed() {
    TempPrefix prefix;
    prefix.AddDrive('N', "remote");
    prefix.WriteFile("N:\\share\\a.fdb", "db");
    ScriptedUi ui;
    const auto d = MakeDialog();
    d->RadioButtonConnOther->click();
    d->EditOtherDbFile->setText(QStringLiteral("  N:\\share\\a.fdb \t"));
    d->ActionOK->trigger();
    QVERIFY(ui.Boxes().empty());
    QCOMPARE(d->result(), int(QDialog::Accepted));
    QCOMPARE(d->ResultConnectionString, std::string("N:\\share\\a.fdb"));
  }

  void otherFileMustExist() {
    TempPrefix prefix;
    ScriptedUi ui;
    const auto d = MakeDialog();
    d->RadioButtonConnOther->click();
    d->EditOtherDbFile->setText(QStringLiteral("\\\\srv\\share\\a.fdb"));
    d->ActionOK->trigger();
    QCOMPARE(ui.Boxes().size(), std::size_t(1));
    QCOMPARE(ui.Boxes()[0].text, std::string("Fichier \"\\\\srv\\share\\a.fdb\" pas trouvé"));
    QCOMPARE(d->result(), int(QDialog::Rejected));
    QVERIFY(d->ResultConnectionString.empty());
  }

  void opensOnExistingString_data() {
    QTest::addColumn<QString>("connection");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("edits");  // local file, ip1..ip4, server file, other
    QTest::newRow("local") << "C:\\data\\a.fdb"
                           << "RadioButtonConnLocal"
                           << QStringList{"C:\\data\\a.fdb", "", "", "", "", "", ""};
    QTest::newRow("tcp address") << "192.168.0.5:C:\\data\\a.fdb"
                                 << "RadioButtonConnTcp"
                                 << QStringList{"", "192", "168", "0", "5", "C:\\data\\a.fdb", ""};
    QTest::newRow("empty") << ""
                           << "RadioButtonConnTcp" << QStringList{"", "", "", "", "", "", ""};
    QTest::newRow("tcp host name") << "srv:C:\\data\\a.fdb"
                                   << "RadioButtonConnOther"
                                   << QStringList{"", "", "", "", "", "", "srv:C:\\data\\a.fdb"};
    QTest::newRow("netbeui") << "\\\\srv\\data\\a.fdb"
                             << "RadioButtonConnOther"
                             << QStringList{"", "", "", "", "", "", "\\\\srv\\data\\a.fdb"};
    QTest::newRow("unix") << "srv:/opt/a.fdb"
                          << "RadioButtonConnOther" << QStringList{"", "", "", "", "", "", "srv:/opt/a.fdb"};
    QTest::newRow("netware") << "srv@vol"
                             << "RadioButtonConnOther" << QStringList{"", "", "", "", "", "", "srv@vol"};
    QTest::newRow("unknown") << "a.fdb"
                             << "RadioButtonConnOther" << QStringList{"", "", "", "", "", "", "a.fdb"};
  }

  void opensOnExistingString() {
    QFETCH(QString, connection);
    QFETCH(QString, button);
    QFETCH(QStringList, edits);
    const auto d = MakeDialog();
    // Leftovers of an earlier string are cleared.
    d->LoadConnectionString("10.0.0.9:E:\\old.fdb");
    d->LoadConnectionString(connection.toStdString());
    QVERIFY(d->findChild<QRadioButton*>(button)->isChecked());
    const char* names[] = {"RzButtonEditDbFile", "EditIP1",        "EditIP2", "EditIP3", "EditIP4",
                           "EditServFile",       "EditOtherDbFile"};
    for (int i = 0; i < 7; ++i) QCOMPARE(d->findChild<QLineEdit*>(names[i])->text(), edits[i]);
    // The checked group's edits are the enabled ones.
    QCOMPARE(d->RzButtonEditDbFile->isEnabled(), d->RadioButtonConnLocal->isChecked());
    QCOMPARE(d->EditIP1->isEnabled(), d->RadioButtonConnTcp->isChecked());
    QCOMPARE(d->EditOtherDbFile->isEnabled(), d->RadioButtonConnOther->isChecked());
  }

  // Confirming an unchanged TCP/IP string gives it back as it was.
  void tcpStringRoundTrip() {
    const auto d = MakeDialog();
    d->LoadConnectionString("192.168.0.5:C:\\data\\a.fdb");
    QVERIFY(d->ActionOK->isEnabled());
    d->ActionOK->trigger();
    QCOMPARE(d->ResultConnectionString, std::string("192.168.0.5:C:\\data\\a.fdb"));
  }

  void cancelLeavesTheResult() {
    const auto d = MakeDialog();
    d->ResultConnectionString = "C:\\kept.fdb";
    d->RzButtonEditDbFile->setText(QStringLiteral("C:\\other.fdb"));
    d->ButtonAnnuler->click();
    QCOMPARE(d->result(), int(QDialog::Rejected));
    QCOMPARE(d->ResultConnectionString, std::string("C:\\kept.fdb"));

    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.get()));
    d->setResult(QDialog::Accepted);
    QTest::keyClick(d->RzButtonEditDbFile, Qt::Key_Escape);
    QCOMPARE(d->result(), int(QDialog::Rejected));
    QVERIFY(!d->isVisible());
    QCOMPARE(d->ResultConnectionString, std::string("C:\\kept.fdb"));
  }

  // The modal run: the dialog opens on the string, gives the new one and frees itself.
  void executeConfirmed() {
    TempPrefix prefix;
    prefix.WriteFile("C:\\data\\b.fdb", "db");
    QPointer<TdlgConnection> seen;
    QString shownFile;
    QTimer poll;
    WhenModal<TdlgConnection>(poll, [&](TdlgConnection& d) {
      seen = &d;
      shownFile = d.RzButtonEditDbFile->text();
      d.RzButtonEditDbFile->setText(QStringLiteral("C:\\data\\b.fdb"));
      QTest::keyClick(d.RzButtonEditDbFile, Qt::Key_Return);  // the default button
    });
    std::string connection = "C:\\data\\a.fdb";
    QVERIFY(TdlgConnection::Execute(nullptr, connection));
    QCOMPARE(shownFile, QStringLiteral("C:\\data\\a.fdb"));
    QCOMPARE(connection, std::string("C:\\data\\b.fdb"));
    QCOMPARE(seen.data(), nullptr);
  }

  void executeCancelled() {
    QTimer poll;
    WhenModal<TdlgConnection>(poll, [](TdlgConnection& d) {
      d.RzButtonEditDbFile->setText(QStringLiteral("C:\\other.fdb"));
      d.ButtonAnnuler->click();
    });
    std::string connection = "192.168.0.5:C:\\data\\a.fdb";
    QVERIFY(!TdlgConnection::Execute(nullptr, connection));
    QCOMPARE(connection, std::string("192.168.0.5:C:\\data\\a.fdb"));
  }

  // The browse button opens the file chooser on .FDB files and takes its choice.
  void browse() {
    TempPrefix prefix;
    prefix.WriteFile("C:\\a.fdb", "db");
    const auto d = MakeDialog();
    QString ext;
    QTimer poll;
    WhenModal<TdlgFileOpen>(poll, [&](TdlgFileOpen& chooser) {
      ext = QString::fromStdString(chooser.DefaultExt);
      QListWidgetItem* item = ListItem(chooser, QStringLiteral("a.fdb"));
      QVERIFY(item != nullptr);
      chooser.ShellListView->setCurrentItem(item);
      chooser.ButtonOK->click();
    });
    d->RzButtonEditDbFile->Button()->click();
    QCOMPARE(ext, QStringLiteral(".FDB"));
    QCOMPARE(d->RzButtonEditDbFile->text(), QStringLiteral("C:\\a.fdb"));
  }

  void browseKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Alt+Down") << int(Qt::Key_Down) << int(Qt::AltModifier);
    QTest::newRow("Insert") << int(Qt::Key_Insert) << int(Qt::NoModifier);
  }

  void browseKeys() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    TempPrefix prefix;
    const auto d = MakeDialog();
    d->RzButtonEditDbFile->setText(QStringLiteral("C:\\kept.fdb"));
    bool opened = false;
    QTimer poll;
    WhenModal<TdlgFileOpen>(poll, [&](TdlgFileOpen& chooser) {
      opened = true;
      chooser.ButtonAnnuler->click();
    });
    QTest::keyClick(d->RzButtonEditDbFile, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QVERIFY(opened);
    QCOMPARE(d->RzButtonEditDbFile->text(), QStringLiteral("C:\\kept.fdb"));
    // A plain Down does not browse.
    poll.stop();
    QTest::keyClick(d->RzButtonEditDbFile, Qt::Key_Down);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
  }

  // A picture of the dialog for the documentation.
  void screenshot() {
    const auto d = MakeDialog();
    d->LoadConnectionString("192.168.0.5:C:\\Korvane\\Data\\SOC01.FDB");
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.get()));
    const QImage shot = d->grab().toImage();
    QCOMPARE(shot.size() / shot.devicePixelRatio(), QSize(617, 311));
    const QDir folder(QStringLiteral(KV_SCREENSHOT_DIR));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    QVERIFY(shot.save(folder.filePath(QStringLiteral("connection-dialog.png"))));
  }
};

}  // namespace kv::test

QTEST_MAIN(kv::test::ConnectionDialogTest)
#include "ConnectionDialogTest.moc"
