// A dialog's bottom panel of push buttons, laid out by the platform's button-bar rule when the
// dialog is made, the buttons anchored to its right and bottom edges afterwards.
#pragma once

#include <QWidget>
#include <vector>

class QPushButton;

namespace kv {

class TButtonPanel : public QWidget {
  Q_OBJECT

 public:
  explicit TButtonPanel(QWidget* parent);

  // A push button of the panel, 75 x 25 as the toolkit makes them.
  QPushButton* AddButton(const QString& caption, const QString& name);
  // ArrangeButtons on the panel's buttons; the panel takes the height the rule gives.
  void Arrange();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Anchor {
    QWidget* control;
    int right;  // panel width minus the control's left edge
  };
  std::vector<Anchor> anchors_;
};

}  // namespace kv
