// The rich-text control port on a QTextEdit: the notice page's list of changes, rendered from the
// RTF reader's document model, and the installation report, which grows one paragraph at a time.
// Both print as one document with a title.
#pragma once

#include <QTextCharFormat>
#include <QTextEdit>
#include <functional>
#include <string>

#include "formats/RtfReader.h"
#include "platform/RichTextControl.h"

class QPrinter;
class QTextDocument;

namespace kv {

// Replaces the document's content with the model: one block per paragraph with its alignment and
// indents, one fragment per run with its weight, slant, underline, size, colour and family.
void RenderRtfDocument(const rtf::Document& model, QTextDocument& document);

class QtRichTextControl : public QTextEdit, public RichTextControl {
  Q_OBJECT

 public:
  explicit QtRichTextControl(QWidget* parent = nullptr);

  void Clear() override;
  void LoadDocument(const rtf::Document& document) override;
  void AppendLine(const std::string& text, int sizePoints) override;
  int LineCount() const override { return lineCount_; }
  bool CanFocus() const override;
  bool Focused() const override { return hasFocus(); }
  void SetFocus() override { setFocus(Qt::OtherFocusReason); }
  std::string PlainText() const override;

  // Replaces the content with plain text; CR LF starts a new line.
  void SetText(const std::string& text);
  // Moves the insertion point to the end and scrolls it into view.
  void ScrollToEnd();
  // Prints the whole content as one document under the title (the name the print queue shows).
  void Print(QPrinter& printer, const QString& title) const;
  // Called with each line as it is appended (the report's log).
  void OnLine(std::function<void(const std::string&)> listener) { listener_ = std::move(listener); }

 private:
  int lineCount_ = 0;
  // The format in effect at the end of the text, which an appended line without size takes.
  QTextCharFormat endFormat_;
  std::function<void(const std::string&)> listener_;
};

}  // namespace kv
