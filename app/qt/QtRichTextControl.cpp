#include "app/qt/QtRichTextControl.h"

#include <QPrinter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace kv {

namespace {

// Twips to the document's pixels (1/96 inch).
qreal TwipsToPixels(int twips) {
  return twips / 15.0;
}

Qt::Alignment AlignmentOf(rtf::Alignment alignment) {
  switch (alignment) {
    case rtf::Alignment::Left:
      return Qt::AlignLeft;
    case rtf::Alignment::Right:
      return Qt::AlignRight;
    case rtf::Alignment::Centre:
      return Qt::AlignHCenter;
    case rtf::Alignment::Justify:
      return Qt::AlignJustify;
  }
  return Qt::AlignLeft;
}

QTextBlockFormat BlockFormatOf(const rtf::Paragraph& paragraph) {
  QTextBlockFormat format;
  format.setAlignment(AlignmentOf(paragraph.alignment));
  format.setLeftMargin(TwipsToPixels(paragraph.leftIndentTwips));
  format.setRightMargin(TwipsToPixels(paragraph.rightIndentTwips));
  format.setTextIndent(TwipsToPixels(paragraph.firstLineIndentTwips));
  return format;
}

QTextCharFormat CharFormatOf(const rtf::Format& run) {
  QTextCharFormat format;
  format.setFontWeight(run.bold ? QFont::Bold : QFont::Normal);
  format.setFontItalic(run.italic);
  format.setFontUnderline(run.underline);
  format.setFontPointSize(run.fontSizeHalfPoints / 2.0);
  if (run.colour) format.setForeground(QColor(run.colour->red, run.colour->green, run.colour->blue));
  if (!run.fontFamily.empty()) format.setFontFamilies({QString::fromStdString(run.fontFamily)});
  return format;
}

// A line break inside a paragraph is Qt's line separator, not a new block.
QString FragmentText(const std::string& text) {
  QString result = QString::fromStdString(text);
  result.replace('\n', QChar::LineSeparator);
  return result;
}

}  // namespace

void RenderRtfDocument(const rtf::Document& model, QTextDocument& document) {
  document.clear();
  QTextCursor cursor(&document);
  cursor.beginEditBlock();
  bool first = true;
  for (const rtf::Paragraph& paragraph : model.paragraphs) {
    const QTextCharFormat markFormat =
        paragraph.runs.empty() ? QTextCharFormat() : CharFormatOf(paragraph.runs.front().format);
    if (first) {
      cursor.setBlockFormat(BlockFormatOf(paragraph));
      cursor.setBlockCharFormat(markFormat);
      first = false;
    } else {
      cursor.insertBlock(BlockFormatOf(paragraph), markFormat);
    }
    for (const rtf::Run& run : paragraph.runs)
      cursor.insertText(FragmentText(run.text), CharFormatOf(run.format));
  }
  cursor.endEditBlock();
}

QtRichTextControl::QtRichTextControl(QWidget* parent) : QTextEdit(parent) {
  setUndoRedoEnabled(false);
  setAcceptRichText(false);
}

void QtRichTextControl::Clear() {
  clear();
  lineCount_ = 0;
  endFormat_ = QTextCharFormat();
}

void QtRichTextControl::LoadDocument(const rtf::Document& document) {
  RenderRtfDocument(document, *this->document());
  const std::string plain = rtf::PlainText(document);
  // An empty document is an empty control, which holds no line.
  lineCount_ = plain.empty() ? 0 : static_cast<int>(rtf::LineCount(document));
  QTextCursor end(this->document());
  end.movePosition(QTextCursor::End);
  endFormat_ = end.charFormat();
}

void QtRichTextControl::AppendLine(const std::string& text, int sizePoints) {
  if (sizePoints != 0) endFormat_.setFontPointSize(sizePoints);
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find("\r\n", start);
    const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // The first line of an empty control takes its one empty block.
    if (lineCount_ == 0) {
      cursor.setBlockCharFormat(endFormat_);
    } else {
      cursor.insertBlock(QTextBlockFormat(), endFormat_);
    }
    cursor.insertText(QString::fromStdString(line), endFormat_);
    ++lineCount_;
    if (listener_) listener_(line);
    if (end == std::string::npos) break;
    start = end + 2;
  }
}

bool QtRichTextControl::CanFocus() const {
  return isVisible() && isEnabled() && focusPolicy() != Qt::NoFocus && window()->isVisible();
}

std::string QtRichTextControl::PlainText() const {
  QString out;
  for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
    if (block != document()->begin()) out += '\n';
    out += block.text();
  }
  out.replace(QChar::LineSeparator, '\n');
  return out.toStdString();
}

void QtRichTextControl::SetText(const std::string& text) {
  Clear();
  AppendLine(text, 0);
}

void QtRichTextControl::ScrollToEnd() {
  moveCursor(QTextCursor::End);
  ensureCursorVisible();
}

void QtRichTextControl::Print(QPrinter& printer, const QString& title) const {
  printer.setDocName(title);
  print(&printer);
}

}  // namespace kv
