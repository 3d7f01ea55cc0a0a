#include "db/dialogs/ButtonPanel.h"

#include <QPushButton>
#include <QResizeEvent>

#include "platform/Messages.h"

namespace kv {

TButtonPanel::TButtonPanel(QWidget* parent) : QWidget(parent) {}

QPushButton* TButtonPanel::AddButton(const QString& caption, const QString& name) {
  auto* button = new QPushButton(caption, this);
  button->setObjectName(name);
  // Left to right in the order they are added; the layout rule sorts them by left edge.
  const int left = static_cast<int>(children().size()) * 100;
  button->setGeometry(left, 0, 75, 25);
  return button;
}

void TButtonPanel::Arrange() {
  ButtonPanel bar;
  bar.clientWidth = width();
  bar.clientHeight = height();
  std::vector<QWidget*> controls;
  for (QObject* child : children()) {
    auto* control = qobject_cast<QWidget*>(child);
    if (control == nullptr) continue;
    const QRect g = control->geometry();
    bar.children.push_back({qobject_cast<QPushButton*>(control) != nullptr, !control->isHidden(), g.left(),
                            g.top(), g.width(), g.height(), false});
    controls.push_back(control);
  }
  ArrangeButtons(bar);
  setFixedHeight(bar.clientHeight);
  anchors_.clear();
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const ButtonRect& r = bar.children[i];
    controls[i]->setGeometry(r.left, r.top, r.width, r.height);
    if (r.anchoredRightBottom) anchors_.push_back({controls[i], bar.clientWidth - r.left});
  }
}

void TButtonPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  for (const Anchor& anchor : anchors_) anchor.control->move(width() - anchor.right, anchor.control->y());
}

}  // namespace kv
