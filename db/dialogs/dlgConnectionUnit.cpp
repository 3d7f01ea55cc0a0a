#include "db/dialogs/dlgConnectionUnit.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <array>
#include <exception>

#include "db/dialogs/ButtonPanel.h"
#include "db/dialogs/dlgFileOpenUnit.h"
#include "formats/Text.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"

namespace kv {

namespace {

constexpr int kWidth = 617;
constexpr int kHeight = 311;
constexpr int kMinWidth = 500;
constexpr int kIpEditWidth = 40;

std::string Utf8(const QLineEdit* edit) {
  return edit->text().toStdString();
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

bool IsBlank(const QString& text) {
  return text.trimmed().isEmpty();
}

// "192.168.0.5" as its four octets of one to three digits each.
bool SplitAddress(const std::string& server, std::array<QString, 4>& octets) {
  static const QRegularExpression address(
      QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
  const QRegularExpressionMatch match = address.match(Q(server));
  if (!match.hasMatch()) return false;
  for (int i = 0; i < 4; ++i) octets[i] = match.captured(i + 1);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TRzButtonEdit

TRzButtonEdit::TRzButtonEdit(QWidget* parent) : QLineEdit(parent), button_(new QToolButton(this)) {
  button_->setObjectName(QStringLiteral("Button"));
  button_->setText(QStringLiteral("..."));
  button_->setCursor(Qt::ArrowCursor);
  button_->setFocusPolicy(Qt::NoFocus);
  connect(button_, &QToolButton::clicked, this, &TRzButtonEdit::ButtonClick);
}

void TRzButtonEdit::keyPressEvent(QKeyEvent* event) {
  const bool altDown = event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier);
  const bool insert = event->key() == Qt::Key_Insert && (event->modifiers() & ~Qt::KeypadModifier) == 0;
  if (altDown || insert) {
    emit ButtonClick();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void TRzButtonEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  const int side = height() - 4;
  button_->setGeometry(width() - side - 2, 2, side, side);
  setTextMargins(0, 0, side + 2, 0);
}

// ---------------------------------------------------------------------------------------------
// TdlgConnection

TdlgConnection::TdlgConnection(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dlgConnection"));
  setWindowTitle(QStringLiteral("Connexion à la base de données"));
  setAttribute(Qt::WA_DeleteOnClose);

  auto* form = new QVBoxLayout(this);
  form->setContentsMargins(0, 0, 0, 0);
  form->setSpacing(0);

  PanelMain = new QWidget(this);
  PanelMain->setObjectName(QStringLiteral("PanelMain"));
  form->addWidget(PanelMain, 1);
  auto* grid = new QGridLayout(PanelMain);
  grid->setContentsMargins(16, 12, 16, 8);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(10);
  grid->setColumnMinimumWidth(0, 16);
  grid->setColumnStretch(2, 1);

  const auto radio = [this](const QString& caption, const QString& name) {
    auto* button = new QRadioButton(caption, PanelMain);
    button->setObjectName(name);
    QFont bold = button->font();
    bold.setBold(true);
    button->setFont(bold);
    connect(button, &QRadioButton::clicked, this, &TdlgConnection::RadioButtonConnClick);
    connect(button, &QRadioButton::toggled, this, &TdlgConnection::ActionListUpdate);
    return button;
  };
  const auto label = [this](const QString& caption, const QString& name, QWidget* buddy) {
    auto* text = new QLabel(caption, PanelMain);
    text->setObjectName(name);
    text->setBuddy(buddy);
    return text;
  };
  const auto edit = [this](const QString& name) {
    auto* line = new QLineEdit(PanelMain);
    line->setObjectName(name);
    connect(line, &QLineEdit::textChanged, this, &TdlgConnection::ActionListUpdate);
    return line;
  };

  // Local group
  RadioButtonConnLocal = radio(QStringLiteral("Connexion locale"), QStringLiteral("RadioButtonConnLocal"));
  RadioButtonConnLocal->setChecked(true);
  RzButtonEditDbFile = new TRzButtonEdit(PanelMain);
  RzButtonEditDbFile->setObjectName(QStringLiteral("RzButtonEditDbFile"));
  connect(RzButtonEditDbFile, &QLineEdit::textChanged, this, &TdlgConnection::ActionListUpdate);
  connect(RzButtonEditDbFile, &TRzButtonEdit::ButtonClick, this,
          &TdlgConnection::RzButtonEditDbFileButtonClick);
  LabelDbFile = label(QStringLiteral("Fichier :  "), QStringLiteral("LabelDbFile"), RzButtonEditDbFile);
  grid->addWidget(RadioButtonConnLocal, 0, 0, 1, 3);
  grid->addWidget(LabelDbFile, 1, 1);
  grid->addWidget(RzButtonEditDbFile, 1, 2);

  // TCP/IP group
  RadioButtonConnTcp =
      radio(QStringLiteral("Connexion locale ou distante par TCP/IP"), QStringLiteral("RadioButtonConnTcp"));
  EditIP1 = edit(QStringLiteral("EditIP1"));
  EditIP2 = edit(QStringLiteral("EditIP2"));
  EditIP3 = edit(QStringLiteral("EditIP3"));
  EditIP4 = edit(QStringLiteral("EditIP4"));
  auto* addressRow = new QHBoxLayout;
  addressRow->setSpacing(6);
  // Digits only, also for text pasted in: a key filter alone would let a pasted letter through.
  const auto* octet = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
  for (QLineEdit* ip : {EditIP1, EditIP2, EditIP3, EditIP4}) {
    ip->setMaxLength(3);
    ip->setValidator(octet);
    ip->setFixedWidth(kIpEditWidth);
    ip->installEventFilter(this);
    connect(ip, &QLineEdit::textChanged, this, [this, ip] { EditIP1Change(ip); });
    addressRow->addWidget(ip);
  }
  addressRow->addStretch(1);
  LabelIP = label(QStringLiteral("Adresse IP du serveur : "), QStringLiteral("LabelIP"), EditIP1);
  EditServFile = edit(QStringLiteral("EditServFile"));
  LabelServFile =
      label(QStringLiteral("Fichier sur le serveur : "), QStringLiteral("LabelServFile"), EditServFile);
  grid->addWidget(RadioButtonConnTcp, 2, 0, 1, 3);
  grid->addWidget(LabelIP, 3, 1);
  grid->addLayout(addressRow, 3, 2);
  grid->addWidget(LabelServFile, 4, 1);
  grid->addWidget(EditServFile, 4, 2);

  // Other group
  RadioButtonConnOther = radio(QStringLiteral("Autre connexion"), QStringLiteral("RadioButtonConnOther"));
  EditOtherDbFile = edit(QStringLiteral("EditOtherDbFile"));
  LabelOtherDbFile =
      label(QStringLiteral("Nom de la base : "), QStringLiteral("LabelOtherDbFile"), EditOtherDbFile);
  grid->addWidget(RadioButtonConnOther, 5, 0, 1, 3);
  grid->addWidget(LabelOtherDbFile, 6, 1);
  grid->addWidget(EditOtherDbFile, 6, 2);
  grid->setRowStretch(7, 1);

  // Actions and the button panel
  ActionOK = new QAction(QStringLiteral("OK"), this);
  ActionOK->setObjectName(QStringLiteral("ActionOK"));
  ActionAnnuler = new QAction(QStringLiteral("Annuler"), this);
  ActionAnnuler->setObjectName(QStringLiteral("ActionAnnuler"));
  connect(ActionOK, &QAction::triggered, this, &TdlgConnection::ActionOKExecute);
  connect(ActionAnnuler, &QAction::triggered, this, &TdlgConnection::ActionAnnulerExecute);

  PanelBottom = new TButtonPanel(this);
  PanelBottom->setObjectName(QStringLiteral("PanelBottom"));
  PanelBottom->resize(kWidth, 41);
  ButtonOK = PanelBottom->AddButton(ActionOK->text(), QStringLiteral("ButtonOK"));
  ButtonAnnuler = PanelBottom->AddButton(ActionAnnuler->text(), QStringLiteral("ButtonAnnuler"));
  ButtonOK->setDefault(true);
  connect(ButtonOK, &QPushButton::clicked, ActionOK, &QAction::trigger);
  connect(ButtonAnnuler, &QPushButton::clicked, ActionAnnuler, &QAction::trigger);
  connect(ActionOK, &QAction::changed, this, [this] { ButtonOK->setEnabled(ActionOK->isEnabled()); });
  PanelBottom->Arrange();
  form->addWidget(PanelBottom);

  setTabOrder(RadioButtonConnLocal, RzButtonEditDbFile);
  setTabOrder(RzButtonEditDbFile, RadioButtonConnTcp);
  setTabOrder(RadioButtonConnTcp, EditIP1);
  setTabOrder(EditIP1, EditIP2);
  setTabOrder(EditIP2, EditIP3);
  setTabOrder(EditIP3, EditIP4);
  setTabOrder(EditIP4, EditServFile);
  setTabOrder(EditServFile, RadioButtonConnOther);
  setTabOrder(RadioButtonConnOther, EditOtherDbFile);
  setTabOrder(EditOtherDbFile, ButtonOK);
  setTabOrder(ButtonOK, ButtonAnnuler);

  // Only the width follows a resize: the height stays as designed.
  resize(kWidth, kHeight);
  setMinimumWidth(kMinWidth);
  setFixedHeight(kHeight);

  UpdateEnabledEdits();
  ActionListUpdate();
}

TConnectionType TdlgConnection::GetConnectionType(const std::string& text) {
  return kv::GetConnectionType(text);
}

void TdlgConnection::SplitConnectionString(const std::string& text, std::string& server, std::string& path) {
  kv::SplitConnectionString(text, server, path);
}

bool TdlgConnection::Execute(QWidget* parent, std::string& connectionString) {
  const QPointer<TdlgConnection> dialog =
      new TdlgConnection(parent != nullptr ? parent : QApplication::activeWindow());
  dialog->ResultConnectionString = connectionString;
  dialog->LoadConnectionString(connectionString);
  bool confirmed = false;
  // Read while the dialog still exists: it frees itself when closed.
  connect(dialog, &QDialog::accepted, dialog, [&confirmed, &connectionString, dialog] {
    confirmed = true;
    connectionString = dialog->ResultConnectionString;
  });
  dialog->exec();
  return confirmed;
}

void TdlgConnection::LoadConnectionString(const std::string& connectionString) {
  for (QLineEdit* e : {static_cast<QLineEdit*>(RzButtonEditDbFile), EditIP1, EditIP2, EditIP3, EditIP4,
                       EditServFile, EditOtherDbFile}) {
    e->clear();
  }
  std::string server, path;
  std::array<QString, 4> octets;
  switch (GetConnectionType(connectionString)) {
    case ibctLocal:
      SplitConnectionString(connectionString, server, path);
      RadioButtonConnLocal->setChecked(true);
      RzButtonEditDbFile->setText(Q(path));
      break;
    case ibctTCPIP:
      SplitConnectionString(connectionString, server, path);
      if (server.empty() && path.empty()) {
        RadioButtonConnTcp->setChecked(true);
      } else if (SplitAddress(server, octets)) {
        RadioButtonConnTcp->setChecked(true);
        EditIP1->setText(octets[0]);
        EditIP2->setText(octets[1]);
        EditIP3->setText(octets[2]);
        EditIP4->setText(octets[3]);
        EditServFile->setText(Q(path));
      } else {
        RadioButtonConnOther->setChecked(true);
        EditOtherDbFile->setText(Q(connectionString));
      }
      break;
    default:
      // A NetBEUI string is its server and path joined again; the other kinds are not split.
      RadioButtonConnOther->setChecked(true);
      EditOtherDbFile->setText(Q(connectionString));
      break;
  }
  UpdateEnabledEdits();
  ActionListUpdate();
}

// ---------------------------------------------------------------------------------------------
// Event handlers

void TdlgConnection::RadioButtonConnClick() {
  UpdateEnabledEdits();
}

void TdlgConnection::UpdateEnabledEdits() {
  const bool local = RadioButtonConnLocal->isChecked();
  const bool tcp = RadioButtonConnTcp->isChecked();
  const bool other = RadioButtonConnOther->isChecked();
  EnableEdit(RzButtonEditDbFile, local);
  for (QLineEdit* e : {EditIP1, EditIP2, EditIP3, EditIP4, EditServFile}) EnableEdit(e, tcp);
  EnableEdit(EditOtherDbFile, other);
}

void TdlgConnection::EnableEdit(QLineEdit* edit, bool enabled) {
  edit->setEnabled(enabled);
  // The window colour for an edit that takes input, the form's colour for one that does not.
  const QColor colour = enabled ? palette().color(QPalette::Active, QPalette::Base)
                                : palette().color(QPalette::Active, QPalette::Window);
  QPalette p = edit->palette();
  for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    p.setColor(group, QPalette::Base, colour);
  }
  edit->setPalette(p);
}

void TdlgConnection::ActionListUpdate() {
  // Runs while the dialog is being made, before every control exists.
  if (ActionOK == nullptr || RadioButtonConnOther == nullptr || EditOtherDbFile == nullptr) return;
  bool enabled = false;
  if (RadioButtonConnLocal->isChecked()) {
    enabled = !IsBlank(RzButtonEditDbFile->text());
  } else if (RadioButtonConnTcp->isChecked()) {
    enabled = !EditIP1->text().isEmpty() && !EditIP2->text().isEmpty() && !EditIP3->text().isEmpty() &&
              !EditIP4->text().isEmpty() && !EditServFile->text().isEmpty();
  } else if (RadioButtonConnOther->isChecked()) {
    enabled = !IsBlank(EditOtherDbFile->text());
  }
  ActionOK->setEnabled(enabled);
}

QLineEdit* TdlgConnection::NextControl(const QLineEdit* edit) const {
  if (edit == EditIP1) return EditIP2;
  if (edit == EditIP2) return EditIP3;
  if (edit == EditIP3) return EditIP4;
  return EditServFile;
}

QLineEdit* TdlgConnection::PreviousControl(const QLineEdit* edit) const {
  if (edit == EditIP4) return EditIP3;
  if (edit == EditIP3) return EditIP2;
  return EditIP1;
}

bool TdlgConnection::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    for (QLineEdit* ip : {EditIP1, EditIP2, EditIP3, EditIP4}) {
      if (watched == ip) return ipKeyPress(ip, static_cast<QKeyEvent*>(event));
    }
  }
  return QDialog::eventFilter(watched, event);
}

bool TdlgConnection::ipKeyPress(QLineEdit* edit, QKeyEvent* event) {
  if (event->key() == Qt::Key_Backspace) {
    if (!edit->text().isEmpty() || edit == EditIP1) return false;
    QLineEdit* previous = PreviousControl(edit);
    previous->setFocus(Qt::OtherFocusReason);
    previous->setCursorPosition(static_cast<int>(previous->text().size()));
    return true;
  }
  const QString text = event->text();
  // Keys without a character, shortcuts and the dialog's keys (Enter, Escape, Tab) go their way.
  if (text.size() != 1 || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
    return false;
  }
  const char16_t c = text.at(0).unicode();
  if (c >= u'0' && c <= u'9') return false;
  if (c == u'.') {
    NextControl(edit)->setFocus(Qt::TabFocusReason);
    return true;
  }
  return c >= 0x20 && c != 0x7F;
}

void TdlgConnection::EditIP1Change(QLineEdit* edit) {
  if (isVisible() && edit->text().size() == 3) NextControl(edit)->setFocus(Qt::TabFocusReason);
}

void TdlgConnection::RzButtonEditDbFileButtonClick() {
  auto* chooser = new TdlgFileOpen(this);
  chooser->DefaultExt = ".FDB";
  if (chooser->Execute()) RzButtonEditDbFile->setText(Q(chooser->FileName));
}

std::string TdlgConnection::BuildTcpConnectionString() const {
  const QString file = EditServFile->text();
  // A path on the server begins with a drive or a folder name before its first backslash.
  if (file.toUcs4().size() < 3 || file.indexOf(QLatin1Char('\\')) < 1)
    throw Error("Le nom de fichier n'est pas correct!");
  return Utf8(EditIP1) + "." + Utf8(EditIP2) + "." + Utf8(EditIP3) + "." + Utf8(EditIP4) + ":" +
         file.toStdString();
}

void TdlgConnection::ActionOKExecute() {
  try {
    std::string result;
    if (RadioButtonConnLocal->isChecked()) {
      const std::string file = Utf8(RzButtonEditDbFile);
      if (!file.empty() && !IsExistingFile(file)) throw Error("Fichier \"" + file + "\" pas trouvé");
      result = file;
    } else if (RadioButtonConnTcp->isChecked()) {
      result = BuildTcpConnectionString();
    } else {
      const std::string typed = Utf8(EditOtherDbFile);
      // The name is looked up as it is used: without the blanks around it.
      const std::string name = text::Trim(typed);
      if (!name.empty() && !IsExistingFile(name)) throw Error("Fichier \"" + typed + "\" pas trouvé");
      result = name;
    }
    ResultConnectionString = result;
    accept();
  } catch (const SilentAbort&) {
  } catch (const std::exception& error) {
    ShowError(error.what());
  }
}

void TdlgConnection::ActionAnnulerExecute() {
  reject();
}

}  // namespace kv
