// TdlgConnection: the modal dialog in which a user states where a product database lives (a
// local file, a server reached over TCP/IP by its IPv4 address and the file's path on it, or any
// other existing file) and which turns the answer into a connection string. The class also
// carries the connection-string functions that the connection module uses without a dialog.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <string>

#include "db/IBCommon.h"

class QAction;
class QKeyEvent;
class QLabel;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace kv {

class TButtonPanel;

// An edit with a browse button at its right end. The button, Alt+Down and Insert ask to browse.
class TRzButtonEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TRzButtonEdit(QWidget* parent = nullptr);
  QToolButton* Button() const { return button_; }

 signals:
  void ButtonClick();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QToolButton* button_;
};

class TdlgConnection : public QDialog {
  Q_OBJECT

 public:
  // Frees itself when closed (a caller that keeps it clears Qt::WA_DeleteOnClose).
  explicit TdlgConnection(QWidget* parent = nullptr);

  static TConnectionType GetConnectionType(const std::string& text);
  static void SplitConnectionString(const std::string& text, std::string& server, std::string& path);

  // Shows the dialog modally, opened on `connectionString`; true, with the new string in
  // `connectionString`, when the user confirmed.
  static bool Execute(QWidget* parent, std::string& connectionString);

  // Checks the button of the string's kind and fills its edits. A TCP/IP string whose server is
  // not an IPv4 address cannot be shown in the address edits and opens as another connection.
  void LoadConnectionString(const std::string& connectionString);

  // Set when the user confirms; cancelling leaves it as it was.
  std::string ResultConnectionString;

  // Components
  QWidget* PanelMain = nullptr;
  QRadioButton* RadioButtonConnLocal = nullptr;
  QLabel* LabelDbFile = nullptr;
  TRzButtonEdit* RzButtonEditDbFile = nullptr;
  QRadioButton* RadioButtonConnTcp = nullptr;
  QLabel* LabelIP = nullptr;
  QLineEdit* EditIP1 = nullptr;
  QLineEdit* EditIP2 = nullptr;
  QLineEdit* EditIP3 = nullptr;
  QLineEdit* EditIP4 = nullptr;
  QLabel* LabelServFile = nullptr;
  QLineEdit* EditServFile = nullptr;
  QRadioButton* RadioButtonConnOther = nullptr;
  QLabel* LabelOtherDbFile = nullptr;
  QLineEdit* EditOtherDbFile = nullptr;
  TButtonPanel* PanelBottom = nullptr;
  QPushButton* ButtonOK = nullptr;
  QPushButton* ButtonAnnuler = nullptr;
  QAction* ActionOK = nullptr;
  QAction* ActionAnnuler = nullptr;

  // Event handlers
  void RadioButtonConnClick();
  void ActionListUpdate();
  // True when the key was taken (swallowed or turned into a focus move).
  bool ipKeyPress(QLineEdit* edit, QKeyEvent* event);
  void EditIP1Change(QLineEdit* edit);
  void RzButtonEditDbFileButtonClick();
  void ActionOKExecute();
  void ActionAnnulerExecute();

  void UpdateEnabledEdits();
  void EnableEdit(QLineEdit* edit, bool enabled);
  std::string BuildTcpConnectionString() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* NextControl(const QLineEdit* edit) const;
  QLineEdit* PreviousControl(const QLineEdit* edit) const;
};

}  // namespace kv
