// A word-wrapped label whose text scrolls, a whole line at a time, when it is longer than the
// label is high, so that a long text is never cut off: no frame, the label's colours and font, no
// selection. It only ever shows whole lines: the rows below the last whole line that fits stay
// empty, so the bottom edge never cuts through a line of text.
#pragma once

#include <QAbstractScrollArea>
#include <QString>
#include <QTextLayout>
#include <memory>
#include <vector>

namespace kv {

class ScrollingLabel : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit ScrollingLabel(QWidget* parent = nullptr);
  ~ScrollingLabel() override;

  // The text as given; CR LF, LF and CR all end a line.
  void setText(const QString& text);
  QString text() const { return text_; }

  // The height of a line of text, the lines the text wraps into at the current width, how many
  // whole lines the height shows and the first of them.
  int LineHeight() const;
  int LineCount() const { return static_cast<int>(lines_.size()); }
  int ShownLines() const;
  int FirstShownLine() const;
  // The characters of one wrapped line.
  QString LineText(int line) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  bool viewportEvent(QEvent* event) override;

 private:
  // Shows the scroll bar when the text needs it, and wraps the text again.
  void Relayout();
  // Wraps the text at the viewport's width and sets the scroll bar's range.
  void WrapToViewport();
  // Wraps every paragraph at `width`; answers the number of lines.
  int Wrap(int width);

  struct Line {
    std::size_t paragraph;
    int index;
  };
  QString text_;
  std::vector<std::unique_ptr<QTextLayout>> paragraphs_;
  std::vector<Line> lines_;
  bool relayingOut_ = false;
};

}  // namespace kv
