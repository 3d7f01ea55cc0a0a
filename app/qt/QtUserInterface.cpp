#include "app/qt/QtUserInterface.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QWidget>
#include <filesystem>
#include <utility>
#include <vector>

#include "platform/host/Prefix.h"

namespace kv {

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

QMessageBox::Icon IconFor(MessageKind kind) {
  switch (kind) {
    case MessageKind::Error:
      return QMessageBox::Critical;
    case MessageKind::Warning:
      return QMessageBox::Warning;
    case MessageKind::Information:
      return QMessageBox::Information;
    case MessageKind::Confirmation:
      return QMessageBox::Question;
    case MessageKind::Plain:
      return QMessageBox::NoIcon;
  }
  return QMessageBox::NoIcon;
}

QWidget* DialogParent() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

// A Windows path of the prefix as a host path; empty when it maps nothing.
QString HostPath(const std::string& windowsPath) {
  if (windowsPath.empty()) return {};
  const auto host = host::Prefix::Current().ToHost(windowsPath);
  return host ? QString::fromStdString(host->string()) : QString();
}

std::string WindowsPath(const QString& hostPath) {
  return host::Prefix::Current().ToWindows(std::filesystem::path(hostPath.toStdString()));
}

// "Programmes (*.exe)|*.exe|Tous (*.*)|*.*" as Qt writes filters: "Programmes (*.exe);;Tous (*)".
QString QtFilter(const std::string& filter) {
  const QStringList parts = Q(filter).split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    // Qt reads the patterns from the last parentheses; a description that names them already
    // would show them twice.
    description.remove(QRegularExpression(R"(\s*\([^()]*\)\s*$)"));
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    patterns.replace("*.*", "*");
    filters << description + " (" + patterns + ")";
  }
  return filters.join(";;");
}

}  // namespace

QString QtUserInterface::ButtonText(MessageButton button) {
  switch (button) {
    case mbYes:
      return QStringLiteral("&Oui");
    case mbNo:
      return QStringLiteral("&Non");
    case mbOK:
      return QStringLiteral("OK");
    case mbCancel:
      return QStringLiteral("Annuler");
  }
  return {};
}

WindowHandle QtUserInterface::HandleOf(const QWidget* window) {
  return reinterpret_cast<WindowHandle>(window);
}

QWidget* QtUserInterface::WindowOf(WindowHandle handle) {
  // Only a live window answers: a stale handle must not be dereferenced.
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (HandleOf(window) == handle) return window;
  }
  return nullptr;
}

bool QtUserInterface::ShowPrinterSetup(QPrinter& printer, QWidget* parent) {
  QPrintDialog dialog(&printer, parent);
  dialog.setWindowTitle(QStringLiteral("Configuration de l'impression"));
  return dialog.exec() == QDialog::Accepted;
}

int QtUserInterface::MessageBox(const std::string& caption, const std::string& text, MessageKind kind,
                                unsigned buttons) {
  QMessageBox box(IconFor(kind), Q(caption), Q(text), QMessageBox::NoButton, DialogParent());
  const std::pair<MessageButton, std::pair<QMessageBox::ButtonRole, int>> order[] = {
      {mbYes, {QMessageBox::YesRole, mrYes}},
      {mbNo, {QMessageBox::NoRole, mrNo}},
      {mbOK, {QMessageBox::AcceptRole, mrOk}},
      {mbCancel, {QMessageBox::RejectRole, mrCancel}},
  };
  std::vector<std::pair<QAbstractButton*, int>> added;
  for (const auto& [button, roleAndResult] : order) {
    if ((buttons & button) == 0) continue;
    added.emplace_back(box.addButton(ButtonText(button), roleAndResult.first), roleAndResult.second);
  }
  if (added.empty()) added.emplace_back(box.addButton(ButtonText(mbOK), QMessageBox::AcceptRole), mrOk);
  box.setDefaultButton(qobject_cast<QPushButton*>(added.front().first));
  // Escape answers No or Cancel when the box has one, as the system's boxes do.
  for (const auto& [button, result] : added) {
    if (result == mrNo || result == mrCancel || added.size() == 1) box.setEscapeButton(button);
  }
  box.exec();
  for (const auto& [button, result] : added) {
    if (box.clickedButton() == button) return result;
  }
  return mrNone;
}

void QtUserInterface::MessageBeep(std::uint32_t) {
  QApplication::beep();
}

void QtUserInterface::SetBusyCursor(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

bool QtUserInterface::BrowseForFolder(const std::string& title, std::string& folder, const std::string& root,
                                      unsigned) {
  QString start = HostPath(folder);
  if (start.isEmpty()) start = HostPath(root);
  const QString chosen = QFileDialog::getExistingDirectory(DialogParent(), Q(title), start);
  if (chosen.isEmpty()) return false;
  folder = WindowsPath(chosen);
  return true;
}

bool QtUserInterface::OpenFile(FileOpenRequest& request) {
  QString start = HostPath(request.initialDir);
  if (!request.fileName.empty()) {
    const QString proposed = HostPath(request.fileName);
    if (!proposed.isEmpty()) {
      start = proposed;
    } else {
      // A bare name goes into the initial folder; without one the dialog's own folder takes it,
      // not the root of the host.
      start = start.isEmpty() ? Q(request.fileName) : start + "/" + Q(request.fileName);
    }
  }
  const QString chosen =
      QFileDialog::getOpenFileName(DialogParent(), Q(request.title), start, QtFilter(request.filter));
  if (chosen.isEmpty()) return false;
  request.fileName = WindowsPath(chosen);
  return true;
}

void QtUserInterface::ProcessEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtUserInterface::RequestTermination() {
  terminated_ = true;
  // quit() does nothing while no loop runs; a queued call reaches the loop once it does.
  QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

bool QtUserInterface::ForceForegroundWindow(WindowHandle window) {
  QWidget* widget = WindowOf(window);
  if (widget == nullptr) return false;
  widget->raise();
  widget->activateWindow();
  return widget->isActiveWindow();
}

}  // namespace kv
