// The welcome page: the package title and description, and a blinking warning to close the suite
// on every workstation before the update.
#pragma once

#include <QColor>
#include <string>

#include "app/qt/frmBaseStepUnit.h"

class QLabel;
class QTimer;

namespace kv {

class ScrollingLabel;

// The warning's two colours (clMaroon and clRed).
inline const QColor kClMaroon(0x80, 0x00, 0x00);
inline const QColor kClRed(0xFF, 0x00, 0x00);

class TfrmWelcome : public TFrmStep {
  Q_OBJECT

 public:
  static constexpr int kBlinkIntervalMs = 500;

  explicit TfrmWelcome(QWidget* parent = nullptr);

  // The title (empty: "?") and the description, as the package gives them.
  void SetTexts(const std::string& title, const std::string& description);

  void FormShow();
  void FormHide();
  void FormResize();
  void TimerBlinkTimer();

  // The colour the warning is drawn in.
  QColor WarningColour() const;

  QLabel* LabelWarning;
  ScrollingLabel* LabelInfo;
  QTimer* TimerBlink;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void SetWarningColour(const QColor& colour);
};

}  // namespace kv
