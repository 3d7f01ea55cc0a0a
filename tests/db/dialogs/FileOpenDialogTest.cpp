// The file chooser of the connection dialog on a temporary prefix: only fixed disks, only the
// one extension, no hidden items, no shortcuts.
#include <QApplication>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

#include "db/dialogs/ButtonPanel.h"
#include "db/dialogs/dlgFileOpenUnit.h"
#include "platform/Win32.h"
#include "tests/support/TempPrefix.h"

namespace kv::test {

namespace {

// Drives of every type, each with a database file; on C: a folder with every kind of item.
struct Disks {
  TempPrefix prefix;
  Disks() {
    prefix.AddDrive('D', "cdrom");
    prefix.AddDrive('E', "removable");
    prefix.AddDrive('F', "fixed");
    prefix.AddDrive('N', "remote");
    prefix.AddDrive('R', "ramdisk");
    for (const char* file : {"D:\\d.fdb", "E:\\e.fdb", "F:\\f.fdb", "N:\\n.fdb", "R:\\r.fdb"}) {
      prefix.WriteFile(file, "db");
    }
    prefix.WriteFile("C:\\data\\a.fdb", "db");
    prefix.WriteFile("C:\\data\\B.FDB", "db");
    prefix.WriteFile("C:\\data\\notes.txt", "text");
    prefix.WriteFile("C:\\data\\link.lnk", "[ShellLink]\r\nPath=C:\\data\\a.fdb\r\n");
    prefix.WriteFile("C:\\data\\.hidden.fdb", "db");
    prefix.WriteFile("C:\\data\\.cache\\c.fdb", "db");
    prefix.WriteFile("C:\\data\\sub\\s.fdb", "db");
  }
};

std::unique_ptr<TdlgFileOpen> MakeChooser(const std::string& ext) {
  auto chooser = std::make_unique<TdlgFileOpen>();
  chooser->setAttribute(Qt::WA_DeleteOnClose, false);
  chooser->DefaultExt = ext;
  chooser->FormShow();
  return chooser;
}

QStringList ListNames(const TdlgFileOpen& chooser) {
  QStringList names;
  for (int i = 0; i < chooser.ShellListView->count(); ++i) names << chooser.ShellListView->item(i)->text();
  return names;
}

QStringList TopLevelNames(const TdlgFileOpen& chooser) {
  QStringList names;
  for (int i = 0; i < chooser.ShellTreeView->topLevelItemCount(); ++i) {
    names << chooser.ShellTreeView->topLevelItem(i)->text(0);
  }
  return names;
}

QStringList ChildNames(const QTreeWidgetItem* item) {
  QStringList names;
  for (int i = 0; i < item->childCount(); ++i) names << item->child(i)->text(0);
  return names;
}

QListWidgetItem* Select(TdlgFileOpen& chooser, const QString& name) {
  const QList<QListWidgetItem*> found = chooser.ShellListView->findItems(name, Qt::MatchExactly);
  if (found.isEmpty()) return nullptr;
  chooser.ShellListView->setCurrentItem(found.front());
  return found.front();
}

}  // namespace

class FileOpenDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void asDesigned() {
    TdlgFileOpen chooser;
    QVERIFY(chooser.testAttribute(Qt::WA_DeleteOnClose));
    chooser.setAttribute(Qt::WA_DeleteOnClose, false);
    QCOMPARE(chooser.windowTitle(), QStringLiteral("Fichier : "));
    QCOMPARE(chooser.size(), QSize(553, 446));
    QCOMPARE(chooser.minimumSize(), QSize(400, 300));
    QVERIFY(chooser.findChild<QTreeWidget*>("ShellTreeView") != nullptr);
    QVERIFY(chooser.findChild<QListWidget*>("ShellListView") != nullptr);
    QVERIFY(chooser.findChild<QStatusBar*>("StatusBar") != nullptr);
    QCOMPARE(chooser.findChild<QPushButton*>("ButtonOK")->text(), QStringLiteral("OK"));
    QCOMPARE(chooser.findChild<QPushButton*>("ButtonAnnuler")->text(), QStringLiteral("Annuler"));
    QVERIFY(chooser.ButtonOK->isDefault());
    QCOMPARE(chooser.PanelBottom->height(), 45);
    TempPrefix prefix;
    chooser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chooser));
    QCOMPARE(chooser.Splitter->sizes().front(), 182);
    chooser.hide();
  }

  void driveRoot() {
    QCOMPARE(TdlgFileOpen::GetDriveRoot("C:\\data\\a.fdb"), std::string("C:"));
    QCOMPARE(TdlgFileOpen::GetDriveRoot("srv:C:\\a.fdb"), std::string("srv:"));
    QCOMPARE(TdlgFileOpen::GetDriveRoot("\\\\srv\\a.fdb"), std::string());
    Disks disks;
    QVERIFY(TdlgFileOpen::IsOnFixedDrive("C:\\data\\a.fdb"));
    QVERIFY(TdlgFileOpen::IsOnFixedDrive("f:\\f.fdb"));
    for (const char* path : {"D:\\d.fdb", "E:\\e.fdb", "N:\\n.fdb", "R:\\r.fdb", "Q:\\q.fdb", "srv:C:\\a.fdb",
                             "\\\\srv\\share\\a.fdb", "a.fdb"}) {
      QVERIFY2(!TdlgFileOpen::IsOnFixedDrive(path), path);
    }
  }

  // Only the fixed disks, and only their visible folders.
  void treeShowsFixedDisks() {
    Disks disks;
    const auto chooser = MakeChooser(".FDB");
    QCOMPARE(TopLevelNames(*chooser), (QStringList{"C:", "F:"}));
    QCOMPARE(chooser->CurrentFolder(), std::string("C:\\"));
    QTreeWidgetItem* c = chooser->ShellTreeView->topLevelItem(0);
    c->setExpanded(true);
    QVERIFY(ChildNames(c).contains(QStringLiteral("data")));
    QTreeWidgetItem* data = nullptr;
    for (int i = 0; i < c->childCount(); ++i) {
      if (c->child(i)->text(0) == QStringLiteral("data")) data = c->child(i);
    }
    QVERIFY(data != nullptr);
    data->setExpanded(true);
    QCOMPARE(ChildNames(data), QStringList{"sub"});
    // Choosing a folder in the tree shows its items.
    chooser->ShellTreeView->setCurrentItem(data);
    QCOMPARE(chooser->CurrentFolder(), std::string("C:\\data\\"));
    QCOMPARE(ListNames(*chooser), (QStringList{"sub", "a.fdb", "B.FDB"}));
  }

  void listFilters_data() {
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QStringList>("names");
    QTest::newRow(".FDB") << ".FDB" << QStringList{"sub", "a.fdb", "B.FDB"};
    QTest::newRow("fdb without dot, lower case") << "fdb" << QStringList{"sub", "a.fdb", "B.FDB"};
    QTest::newRow(".txt") << ".txt" << QStringList{"sub", "notes.txt"};
    QTest::newRow("every file") << "" << QStringList{"sub", "a.fdb", "B.FDB", "link.lnk", "notes.txt"};
  }

  void listFilters() {
    QFETCH(QString, ext);
    QFETCH(QStringList, names);
    Disks disks;
    const auto chooser = MakeChooser(ext.toStdString());
    QVERIFY(chooser->OpenFolder("C:\\data"));
    QCOMPARE(ListNames(*chooser), names);
  }

  // Folders elsewhere than on a fixed disk are never opened.
  void otherDrivesStayClosed() {
    Disks disks;
    const auto chooser = MakeChooser(".FDB");
    QVERIFY(chooser->OpenFolder("F:\\"));
    QCOMPARE(ListNames(*chooser), QStringList{"f.fdb"});
    for (const char* folder : {"D:\\", "E:\\", "N:\\", "R:\\", "C:\\data\\absent\\", "\\\\srv\\share\\"}) {
      QVERIFY2(!chooser->OpenFolder(folder), folder);
      QCOMPARE(chooser->CurrentFolder(), std::string("F:\\"));
    }
  }

  void itemFilter() {
    Disks disks;
    const auto chooser = MakeChooser(".FDB");
    win::FindData file;
    file.name = "a.fdb";
    file.attributes = win::FILE_ATTRIBUTE_NORMAL;
    QVERIFY(chooser->ShowsItem("C:\\a.fdb", file));
    QVERIFY(!chooser->ShowsItem("N:\\a.fdb", file));
    QVERIFY(!chooser->ShowsItem("a.fdb", file));
    file.attributes = win::FILE_ATTRIBUTE_HIDDEN;
    QVERIFY(!chooser->ShowsItem("C:\\a.fdb", file));
    file.attributes = 0x800;  // compressed
    QVERIFY(!chooser->ShowsItem("C:\\a.fdb", file));
    file.attributes = win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_ARCHIVE;
    QVERIFY(chooser->ShowsItem("C:\\a.fdb", file));
    win::FindData folder;
    folder.name = "x.dir";
    folder.attributes = win::FILE_ATTRIBUTE_DIRECTORY;
    QVERIFY(chooser->ShowsItem("C:\\x.dir", folder));
    folder.attributes |= win::FILE_ATTRIBUTE_HIDDEN;
    QVERIFY(!chooser->ShowsItem("C:\\x.dir", folder));
  }

  void okNeedsAnExistingFileThatIsNoShortcut() {
    Disks disks;
    const auto chooser = MakeChooser("");
    QVERIFY(chooser->OpenFolder("C:\\data\\"));
    QVERIFY(!chooser->ButtonOK->isEnabled());
    QVERIFY(Select(*chooser, "a.fdb"));
    QVERIFY(chooser->ButtonOK->isEnabled());
    QCOMPARE(chooser->StatusBar->currentMessage(), QStringLiteral("C:\\data\\a.fdb"));
    QVERIFY(Select(*chooser, "sub"));
    QVERIFY(!chooser->ButtonOK->isEnabled());
    QVERIFY(Select(*chooser, "link.lnk"));
    QVERIFY(!chooser->ButtonOK->isEnabled());
    chooser->ButtonOKClick();
    QCOMPARE(chooser->result(), int(QDialog::Rejected));
    QVERIFY(chooser->FileName.empty());

    // A file removed after it was selected is not taken.
    QVERIFY(Select(*chooser, "notes.txt"));
    QVERIFY(chooser->ButtonOK->isEnabled());
    QVERIFY(win::DeleteFile("C:\\data\\notes.txt"));
    chooser->ButtonOK->click();
    QCOMPARE(chooser->result(), int(QDialog::Rejected));
    QVERIFY(!chooser->ButtonOK->isEnabled());
    QVERIFY(chooser->FileName.empty());

    QVERIFY(Select(*chooser, "B.FDB"));
    chooser->ButtonOK->click();
    QCOMPARE(chooser->result(), int(QDialog::Accepted));
    QCOMPARE(chooser->FileName, std::string("C:\\data\\B.FDB"));
  }

  // A double click chooses a file, and opens a folder.
  void doubleClick() {
    Disks disks;
    const auto chooser = MakeChooser(".FDB");
    QVERIFY(chooser->OpenFolder("C:\\data\\"));
    QListWidgetItem* sub = Select(*chooser, "sub");
    QVERIFY(sub != nullptr);
    emit chooser->ShellListView->itemDoubleClicked(sub);
    QCOMPARE(chooser->CurrentFolder(), std::string("C:\\data\\sub\\"));
    QCOMPARE(chooser->ShellTreeView->currentItem()->text(0), QStringLiteral("sub"));
    QCOMPARE(chooser->result(), int(QDialog::Rejected));
    QListWidgetItem* file = Select(*chooser, "s.fdb");
    QVERIFY(file != nullptr);
    emit chooser->ShellListView->itemDoubleClicked(file);
    QCOMPARE(chooser->result(), int(QDialog::Accepted));
    QCOMPARE(chooser->FileName, std::string("C:\\data\\sub\\s.fdb"));
  }

  // A name given beforehand opens its folder.
  void opensOnTheGivenFile() {
    Disks disks;
    auto chooser = std::make_unique<TdlgFileOpen>();
    chooser->setAttribute(Qt::WA_DeleteOnClose, false);
    chooser->DefaultExt = ".FDB";
    chooser->FileName = "C:\\data\\sub\\s.fdb";
    chooser->FormShow();
    QCOMPARE(chooser->CurrentFolder(), std::string("C:\\data\\sub\\"));
    QCOMPARE(ListNames(*chooser), QStringList{"s.fdb"});
  }

  // The modal run: the choice can be read after Execute, and the window frees itself afterwards.
  void execute() {
    Disks disks;
    QPointer<TdlgFileOpen> chooser = new TdlgFileOpen();
    chooser->DefaultExt = ".FDB";
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
      if (QApplication::activeModalWidget() != chooser) return;
      poll.stop();
      chooser->OpenFolder("C:\\data");
      Select(*chooser, "a.fdb");
      QTest::keyClick(chooser->ShellListView, Qt::Key_Return);  // the default button
    });
    poll.start(10);
    QVERIFY(chooser->Execute());
    QCOMPARE(chooser->FileName, std::string("C:\\data\\a.fdb"));
    QTRY_VERIFY(chooser.isNull());
  }
};

}  // namespace kv::test

QTEST_MAIN(kv::test::FileOpenDialogTest)
#include "FileOpenDialogTest.moc"
