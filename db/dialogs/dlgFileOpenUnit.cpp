#include "db/dialogs/dlgFileOpenUnit.h"

#include <QHeaderView>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "db/dialogs/ButtonPanel.h"
#include "formats/Text.h"
#include "platform/FileUtils.h"

namespace kv {

namespace {

constexpr int kClientWidth = 553;
constexpr int kClientHeight = 446;
constexpr int kTreeWidth = 182;
// Not among the attributes the host reports, but a Windows volume may.
constexpr win::DWORD kFileAttributeCompressed = 0x800;

constexpr int kPathRole = Qt::UserRole;
constexpr int kFolderRole = Qt::UserRole + 1;
constexpr int kFilledRole = Qt::UserRole + 2;

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

std::string PathOf(const QTreeWidgetItem* item) {
  return item->data(0, kPathRole).toString().toStdString();
}

std::string PathOf(const QListWidgetItem* item) {
  return item->data(kPathRole).toString().toStdString();
}

// The extension of a file name, with its dot; empty when there is none.
std::string ExtensionOf(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

bool IsDirectory(const win::FindData& data) {
  return (data.attributes & win::FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void SortByName(std::vector<win::FindData>& entries) {
  std::sort(entries.begin(), entries.end(), [](const win::FindData& a, const win::FindData& b) {
    return text::ToUpper(a.name) < text::ToUpper(b.name);
  });
}

}  // namespace

TdlgFileOpen::TdlgFileOpen(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dlgFileOpen"));
  setWindowTitle(QStringLiteral("Fichier : "));
  setAttribute(Qt::WA_DeleteOnClose);

  auto* form = new QVBoxLayout(this);
  form->setContentsMargins(0, 0, 0, 0);
  form->setSpacing(0);

  Splitter = new QSplitter(Qt::Horizontal, this);
  Splitter->setObjectName(QStringLiteral("Splitter"));
  Splitter->setChildrenCollapsible(false);
  ShellTreeView = new QTreeWidget(Splitter);
  ShellTreeView->setObjectName(QStringLiteral("ShellTreeView"));
  ShellTreeView->setHeaderHidden(true);
  ShellListView = new QListWidget(Splitter);
  ShellListView->setObjectName(QStringLiteral("ShellListView"));
  ShellListView->setViewMode(QListView::ListMode);
  ShellListView->setFlow(QListView::TopToBottom);
  ShellListView->setWrapping(true);
  ShellListView->setResizeMode(QListView::Adjust);
  ShellListView->setSelectionMode(QAbstractItemView::SingleSelection);
  Splitter->setStretchFactor(1, 1);
  Splitter->setSizes({kTreeWidth, kClientWidth - kTreeWidth});
  form->addWidget(Splitter, 1);

  StatusBar = new QStatusBar(this);
  StatusBar->setObjectName(QStringLiteral("StatusBar"));
  StatusBar->setSizeGripEnabled(false);
  form->addWidget(StatusBar);

  PanelBottom = new TButtonPanel(this);
  PanelBottom->setObjectName(QStringLiteral("PanelBottom"));
  PanelBottom->resize(kClientWidth, 41);
  ButtonOK = PanelBottom->AddButton(QStringLiteral("OK"), QStringLiteral("ButtonOK"));
  ButtonAnnuler = PanelBottom->AddButton(QStringLiteral("Annuler"), QStringLiteral("ButtonAnnuler"));
  ButtonOK->setDefault(true);
  ButtonOK->setEnabled(false);
  PanelBottom->Arrange();
  form->addWidget(PanelBottom);

  connect(ShellTreeView, &QTreeWidget::currentItemChanged, this, &TdlgFileOpen::ShellTreeViewChange);
  connect(ShellTreeView, &QTreeWidget::itemExpanded, this, &TdlgFileOpen::ShellTreeViewExpanding);
  connect(ShellListView, &QListWidget::itemSelectionChanged, this, &TdlgFileOpen::ShellListViewChange);
  connect(ShellListView, &QListWidget::itemDoubleClicked, this, &TdlgFileOpen::ShellListViewDblClick);
  connect(ButtonOK, &QPushButton::clicked, this, &TdlgFileOpen::ButtonOKClick);
  connect(ButtonAnnuler, &QPushButton::clicked, this, &QDialog::reject);

  resize(kClientWidth, kClientHeight);
  setMinimumSize(400, 300);
}

std::string TdlgFileOpen::GetDriveRoot(const std::string& path) {
  const std::size_t colon = path.find(':');
  return colon == std::string::npos ? std::string() : path.substr(0, colon + 1);
}

bool TdlgFileOpen::IsOnFixedDrive(const std::string& path) {
  const std::string root = GetDriveRoot(path);
  return !root.empty() && win::GetDriveType(root + "\\") == win::DRIVE_FIXED;
}

bool TdlgFileOpen::Execute() {
  // Freed after the call, as the toolkit's release does, so that the caller reads FileName first.
  const bool freeWhenClosed = testAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_DeleteOnClose, false);
  const bool chosen = exec() == QDialog::Accepted;
  if (freeWhenClosed) deleteLater();
  return chosen;
}

bool TdlgFileOpen::ShowsItem(const std::string& fullPath, const win::FindData& data) const {
  if (!IsOnFixedDrive(fullPath)) return false;
  if ((data.attributes & (win::FILE_ATTRIBUTE_HIDDEN | kFileAttributeCompressed)) != 0) return false;
  if (IsDirectory(data) || DefaultExt.empty()) return true;
  const std::string wanted = DefaultExt.front() == '.' ? DefaultExt : "." + DefaultExt;
  return text::IEquals(ExtensionOf(data.name), wanted);
}

std::vector<win::FindData> TdlgFileOpen::Folders(const std::string& folder) const {
  const std::string parent = PathWithDelimiter(folder);
  std::vector<win::FindData> folders;
  for (win::FindData& entry : win::FindFiles(parent + "*")) {
    if (IsDirectory(entry) && ShowsItem(parent + entry.name, entry)) folders.push_back(std::move(entry));
  }
  SortByName(folders);
  return folders;
}

QTreeWidgetItem* TdlgFileOpen::AddFolderItem(QTreeWidgetItem* parent, const std::string& path,
                                             const QString& caption) {
  auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(ShellTreeView);
  item->setText(0, caption);
  item->setIcon(0, style()->standardIcon(parent != nullptr ? QStyle::SP_DirIcon : QStyle::SP_DriveHDIcon));
  item->setData(0, kPathRole, Q(PathWithDelimiter(path)));
  item->setData(0, kFilledRole, false);
  item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  return item;
}

void TdlgFileOpen::FillChildren(QTreeWidgetItem* item) {
  if (item->data(0, kFilledRole).toBool()) return;
  item->setData(0, kFilledRole, true);
  const std::string folder = PathOf(item);
  for (const win::FindData& sub : Folders(folder)) AddFolderItem(item, folder + sub.name, Q(sub.name));
  item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void TdlgFileOpen::FormShow() {
  {
    const QSignalBlocker quiet(ShellTreeView);
    ShellTreeView->clear();
  }
  currentFolder_.clear();
  ShellListView->clear();
  const std::string drives = win::GetLogicalDriveStrings();
  std::string first;
  for (const std::string& root : text::Split(drives, '\0')) {
    if (root.empty() || !IsOnFixedDrive(root)) continue;
    AddFolderItem(nullptr, root, Q(root.substr(0, 2)));
    if (first.empty()) first = root;
  }
  // The folder of a name given beforehand, else the first fixed disk.
  const std::string given = ExtractFilePath(FileName);
  if (given.empty() || !OpenFolder(given)) {
    if (!first.empty()) OpenFolder(first);
  }
  filled_ = true;
}

QTreeWidgetItem* TdlgFileOpen::FindTreeItem(const std::string& folder) {
  const std::string root = GetDriveRoot(folder) + "\\";
  QTreeWidgetItem* item = nullptr;
  for (int i = 0; i < ShellTreeView->topLevelItemCount(); ++i) {
    if (text::IEquals(PathOf(ShellTreeView->topLevelItem(i)), root)) item = ShellTreeView->topLevelItem(i);
  }
  if (item == nullptr) return nullptr;
  const std::string rest = folder.size() > root.size() ? folder.substr(root.size()) : std::string();
  for (const std::string& part : text::Split(rest, '\\')) {
    if (part.empty()) continue;
    FillChildren(item);
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; i < item->childCount() && next == nullptr; ++i) {
      if (text::IEquals(item->child(i)->text(0).toStdString(), part)) next = item->child(i);
    }
    if (next == nullptr) break;
    item->setExpanded(true);
    item = next;
  }
  return item;
}

bool TdlgFileOpen::OpenFolder(const std::string& folder) {
  const std::string path = PathWithDelimiter(folder);
  if (!IsOnFixedDrive(path) || !IsExistingFolder(path)) return false;
  currentFolder_ = path;

  std::vector<win::FindData> folders, files;
  for (win::FindData& entry : win::FindFiles(path + "*")) {
    if (!ShowsItem(path + entry.name, entry)) continue;
    (IsDirectory(entry) ? folders : files).push_back(std::move(entry));
  }
  SortByName(folders);
  SortByName(files);
  {
    const QSignalBlocker quiet(ShellListView);
    ShellListView->clear();
    for (const auto* group : {&folders, &files}) {
      for (const win::FindData& entry : *group) {
        auto* item = new QListWidgetItem(Q(entry.name), ShellListView);
        const bool isFolder = IsDirectory(entry);
        item->setIcon(style()->standardIcon(isFolder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon));
        item->setData(kPathRole, Q(path + entry.name));
        item->setData(kFolderRole, isFolder);
      }
    }
  }
  {
    const QSignalBlocker quiet(ShellTreeView);
    if (QTreeWidgetItem* item = FindTreeItem(path)) ShellTreeView->setCurrentItem(item);
  }
  ShellListViewChange();
  return true;
}

// ---------------------------------------------------------------------------------------------
// Event handlers

void TdlgFileOpen::showEvent(QShowEvent* event) {
  if (!filled_) FormShow();
  QDialog::showEvent(event);
}

void TdlgFileOpen::ShellTreeViewChange() {
  if (QTreeWidgetItem* item = ShellTreeView->currentItem()) OpenFolder(PathOf(item));
}

void TdlgFileOpen::ShellTreeViewExpanding(QTreeWidgetItem* item) {
  FillChildren(item);
}

void TdlgFileOpen::ShellListViewChange() {
  const QList<QListWidgetItem*> selected = ShellListView->selectedItems();
  bool enabled = false;
  if (!selected.isEmpty()) {
    const QListWidgetItem* item = selected.front();
    const std::string path = PathOf(item);
    enabled = !item->data(kFolderRole).toBool() && IsExistingFile(path) &&
              !text::IEquals(ExtensionOf(path), ".lnk");
    StatusBar->showMessage(Q(path));
  } else {
    StatusBar->showMessage(Q(currentFolder_));
  }
  ButtonOK->setEnabled(enabled);
}

void TdlgFileOpen::ShellListViewDblClick(QListWidgetItem* item) {
  if (item->data(kFolderRole).toBool()) {
    OpenFolder(PathOf(item));
    return;
  }
  // Choosing, never the shell's open action.
  ShellListViewChange();
  if (ButtonOK->isEnabled()) ButtonOKClick();
}

void TdlgFileOpen::ButtonOKClick() {
  ShellListViewChange();  // the item may have gone since it was selected
  const QList<QListWidgetItem*> selected = ShellListView->selectedItems();
  if (!ButtonOK->isEnabled() || selected.isEmpty()) return;
  FileName = PathOf(selected.front());
  accept();
}

}  // namespace kv
