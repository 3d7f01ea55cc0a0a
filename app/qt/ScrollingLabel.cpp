#include "app/qt/ScrollingLabel.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QTextOption>
#include <algorithm>

namespace kv {

ScrollingLabel::ScrollingLabel(QWidget* parent) : QAbstractScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  // The parent's background shows through, as behind a label.
  setAutoFillBackground(false);
  viewport()->setAutoFillBackground(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  verticalScrollBar()->setSingleStep(1);
  // A label takes no focus; one whose text scrolls does from the keyboard (Tab), so that the
  // arrows and page keys reach the hidden lines.
  setFocusPolicy(Qt::NoFocus);
  Relayout();
}

ScrollingLabel::~ScrollingLabel() = default;

void ScrollingLabel::setText(const QString& text) {
  text_ = text;
  setAccessibleDescription(text);
  verticalScrollBar()->setValue(0);
  Relayout();
}

int ScrollingLabel::LineHeight() const {
  return std::max(1, fontMetrics().lineSpacing());
}

int ScrollingLabel::ShownLines() const {
  return std::max(1, viewport()->height() / LineHeight());
}

int ScrollingLabel::FirstShownLine() const {
  return verticalScrollBar()->value();
}

QString ScrollingLabel::LineText(int line) const {
  const Line& at = lines_.at(static_cast<std::size_t>(line));
  const QTextLayout& layout = *paragraphs_[at.paragraph];
  const QTextLine wrapped = layout.lineAt(at.index);
  return layout.text().mid(wrapped.textStart(), wrapped.textLength());
}

int ScrollingLabel::Wrap(int width) {
  paragraphs_.clear();
  lines_.clear();
  QString all = text_;
  all.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
  // Line breaks at the end open no line: there would be nothing to scroll to.
  while (all.endsWith(QLatin1Char('\n'))) all.chop(1);
  QTextOption option(Qt::AlignLeft | Qt::AlignTop);
  option.setWrapMode(QTextOption::WordWrap);
  for (const QString& paragraph : all.split(QLatin1Char('\n'))) {
    auto layout = std::make_unique<QTextLayout>(paragraph, font());
    layout->setTextOption(option);
    layout->beginLayout();
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
      line.setLineWidth(std::max(1, width));
      lines_.push_back({paragraphs_.size(), line.lineNumber()});
    }
    layout->endLayout();
    paragraphs_.push_back(std::move(layout));
  }
  return static_cast<int>(lines_.size());
}

void ScrollingLabel::Relayout() {
  if (relayingOut_) return;
  relayingOut_ = true;
  // Whether the text needs the scroll bar, judged from the whole width and then the width the
  // bar leaves; the lines themselves are wrapped at the viewport's width once it is laid out.
  const int width = contentsRect().width();
  const int shown = std::max(1, contentsRect().height() / LineHeight());
  bool scrolls = Wrap(width) > shown;
  if (scrolls)
    scrolls = Wrap(width - style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this)) > shown;
  setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  setFocusPolicy(scrolls ? Qt::TabFocus : Qt::NoFocus);
  relayingOut_ = false;
  WrapToViewport();
}

void ScrollingLabel::WrapToViewport() {
  Wrap(viewport()->width());
  QScrollBar* bar = verticalScrollBar();
  bar->setPageStep(ShownLines());
  bar->setRange(0, std::max(0, LineCount() - ShownLines()));
  viewport()->update();
}

bool ScrollingLabel::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::Resize && !relayingOut_) WrapToViewport();
  return QAbstractScrollArea::viewportEvent(event);
}

void ScrollingLabel::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const int height = LineHeight();
  const int shown = ShownLines();
  // Nothing below the last whole line.
  painter.setClipRect(QRect(0, 0, viewport()->width(), shown * height));
  painter.setPen(palette().color(QPalette::WindowText));
  const int first = FirstShownLine();
  for (int i = first; i < std::min(LineCount(), first + shown); ++i) {
    const Line& at = lines_[static_cast<std::size_t>(i)];
    const QTextLine line = paragraphs_[at.paragraph]->lineAt(at.index);
    line.draw(&painter, QPointF(-line.x(), (i - first) * height - line.y()));
  }
}

void ScrollingLabel::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  Relayout();
}

void ScrollingLabel::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) Relayout();
}

void ScrollingLabel::keyPressEvent(QKeyEvent* event) {
  QScrollBar* bar = verticalScrollBar();
  switch (event->key()) {
    case Qt::Key_Up:
      bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
      break;
    case Qt::Key_Down:
      bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
      break;
    case Qt::Key_PageUp:
      bar->triggerAction(QAbstractSlider::SliderPageStepSub);
      break;
    case Qt::Key_PageDown:
    case Qt::Key_Space:
      bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
      break;
    case Qt::Key_Home:
      bar->triggerAction(QAbstractSlider::SliderToMinimum);
      break;
    case Qt::Key_End:
      bar->triggerAction(QAbstractSlider::SliderToMaximum);
      break;
    default:
      QAbstractScrollArea::keyPressEvent(event);
      return;
  }
  event->accept();
}

void ScrollingLabel::scrollContentsBy(int, int) {
  viewport()->update();
}

}  // namespace kv
