#include "app/qt/frmWelcomeUnit.h"

#include <QLabel>
#include <QPalette>
#include <QShowEvent>
#include <QTimer>
#include <algorithm>

#include "app/qt/ScrollingLabel.h"

namespace kv {

TfrmWelcome::TfrmWelcome(QWidget* parent) : TFrmStep(parent) {
  setObjectName(QStringLiteral("frmWelcome"));
  // The system window colour.
  QPalette background = palette();
  background.setColor(QPalette::Window, background.color(QPalette::Base));
  setPalette(background);
  setAutoFillBackground(true);

  LabelWarning = new QLabel(this);
  LabelWarning->setObjectName(QStringLiteral("LabelWarning"));
  LabelWarning->setWordWrap(true);
  LabelWarning->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QFont warningFont(QStringLiteral("MS Sans Serif"));
  warningFont.setPixelSize(15);
  warningFont.setBold(true);
  LabelWarning->setFont(warningFont);
  SetWarningColour(kClMaroon);

  // A description longer than the page has room for scrolls instead of being cut off.
  LabelInfo = new ScrollingLabel(this);
  LabelInfo->setObjectName(QStringLiteral("LabelInfo"));

  TimerBlink = new QTimer(this);
  TimerBlink->setObjectName(QStringLiteral("TimerBlink"));
  TimerBlink->setInterval(kBlinkIntervalMs);
  connect(TimerBlink, &QTimer::timeout, this, &TfrmWelcome::TimerBlinkTimer);
  FormResize();
}

void TfrmWelcome::SetTexts(const std::string& title, const std::string& description) {
  LabelWarning->setText(QString::fromStdString(WelcomeWarningText()));
  LabelInfo->setText(QString::fromStdString(WelcomeInfoText(title, description)));
  // The warning's height follows its text.
  FormResize();
}

void TfrmWelcome::FormShow() {
  SetWarningColour(kClMaroon);
  TimerBlink->start();
}

void TfrmWelcome::FormHide() {
  TimerBlink->stop();
}

void TfrmWelcome::FormResize() {
  const int h = height();
  const int w = width();
  const int q = h / 4;
  // The designed heights; on a page too low for the whole warning, the warning grows to its
  // wrapped text and the description, 20 pixels below it, keeps its bottom edge and scrolls.
  const int designed = h - 2 * q - 80;
  const int grown = std::max(0, LabelWarning->heightForWidth(w - 40) - designed);
  LabelWarning->setGeometry(20, q, w - 40, designed + grown);
  LabelInfo->setGeometry(20, h - q - 60 + grown, w - 40, std::max(0, h - 2 * q - 40 - grown));
}

void TfrmWelcome::TimerBlinkTimer() {
  SetWarningColour(WarningColour() == kClMaroon ? kClRed : kClMaroon);
}

QColor TfrmWelcome::WarningColour() const {
  return LabelWarning->palette().color(QPalette::WindowText);
}

void TfrmWelcome::SetWarningColour(const QColor& colour) {
  QPalette warning = LabelWarning->palette();
  warning.setColor(QPalette::WindowText, colour);
  LabelWarning->setPalette(warning);
}

void TfrmWelcome::showEvent(QShowEvent* event) {
  TFrmStep::showEvent(event);
  // A window coming back from the task bar is not the page being shown again.
  if (!event->spontaneous()) FormShow();
}

void TfrmWelcome::hideEvent(QHideEvent* event) {
  TFrmStep::hideEvent(event);
  if (!event->spontaneous()) FormHide();
}

void TfrmWelcome::resizeEvent(QResizeEvent* event) {
  TFrmStep::resizeEvent(event);
  FormResize();
}

}  // namespace kv
