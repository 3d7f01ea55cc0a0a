// TdlgFileOpen: a file chooser limited to the fixed local disks and to one file extension. A
// folder tree on the left and the chosen folder's items on the right; hidden and compressed items
// are never shown, and a shortcut cannot be chosen.
#pragma once

#include <QDialog>
#include <string>

#include "platform/Win32.h"

class QListWidget;
class QListWidgetItem;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace kv {

class TButtonPanel;

class TdlgFileOpen : public QDialog {
  Q_OBJECT

 public:
  // Frees itself when closed (a caller that keeps it clears Qt::WA_DeleteOnClose).
  explicit TdlgFileOpen(QWidget* parent = nullptr);

  // The drive part of a path: up to and including its first ":"; empty when there is none.
  static std::string GetDriveRoot(const std::string& path);
  static bool IsOnFixedDrive(const std::string& path);

  // Shows the chooser modally; true when it was closed with OK, the choice in FileName. The
  // dialog is freed once control is back in the caller's event loop, so FileName can be read.
  bool Execute();

  // The extension of the files shown, with its dot (".FDB"); empty shows every file.
  std::string DefaultExt;
  std::string FileName;

  // Whether the list shows an item: file-system items on a fixed disk, neither hidden nor
  // compressed, and among files only those of the extension.
  bool ShowsItem(const std::string& fullPath, const win::FindData& data) const;
  // Fills the tree with the fixed disks and opens the first (done when the window is shown).
  void FormShow();
  // Shows a folder's items in the list and selects it in the tree; false when it is not shown.
  bool OpenFolder(const std::string& folder);
  // The folder the list shows, with its trailing backslash.
  const std::string& CurrentFolder() const { return currentFolder_; }

  // Components
  QSplitter* Splitter = nullptr;
  QTreeWidget* ShellTreeView = nullptr;
  QListWidget* ShellListView = nullptr;
  QStatusBar* StatusBar = nullptr;
  TButtonPanel* PanelBottom = nullptr;
  QPushButton* ButtonOK = nullptr;
  QPushButton* ButtonAnnuler = nullptr;

  // Event handlers
  void ShellTreeViewChange();
  void ShellTreeViewExpanding(QTreeWidgetItem* item);
  void ShellListViewChange();
  void ShellListViewDblClick(QListWidgetItem* item);
  void ButtonOKClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // The visible subfolders of a folder, sorted, without their trailing backslash.
  std::vector<win::FindData> Folders(const std::string& folder) const;
  QTreeWidgetItem* AddFolderItem(QTreeWidgetItem* parent, const std::string& path, const QString& caption);
  void FillChildren(QTreeWidgetItem* item);
  QTreeWidgetItem* FindTreeItem(const std::string& folder);

  std::string currentFolder_;
  bool filled_ = false;
};

}  // namespace kv
