// The rich-text control port: the notice page and the installation report. The Qt program renders
// into a QTextDocument; tests and unattended mode keep the paragraphs in memory.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "formats/RtfReader.h"

namespace kv {

class RichTextControl {
 public:
  virtual ~RichTextControl() = default;

  virtual void Clear() = 0;
  // Replaces the content with a document read from Rich Text Format.
  virtual void LoadDocument(const rtf::Document& document) = 0;
  // Appends one paragraph at the end; a text holding CR LF pairs makes one paragraph per line.
  // A size in points (0: the format at the end of the text stays in effect) applies to it and
  // to what follows.
  virtual void AppendLine(const std::string& text, int sizePoints) = 0;
  // Lines as a rich-edit control counts them.
  virtual int LineCount() const = 0;
  virtual bool CanFocus() const = 0;
  virtual bool Focused() const = 0;
  virtual void SetFocus() = 0;
  // The text, one line per paragraph, separated by "\n".
  virtual std::string PlainText() const = 0;
};

// A control that keeps its paragraphs in memory, with the size each one was written in.
class MemoryRichText : public RichTextControl {
 public:
  struct Line {
    std::string text;
    int sizePoints;  // the size in effect for the line (0: the control's default)
  };

  void Clear() override;
  void LoadDocument(const rtf::Document& document) override;
  void AppendLine(const std::string& text, int sizePoints) override;
  int LineCount() const override { return static_cast<int>(lines_.size()); }
  bool CanFocus() const override { return canFocus_; }
  bool Focused() const override { return focused_; }
  void SetFocus() override { focused_ = canFocus_; }
  std::string PlainText() const override;

  const std::vector<Line>& Lines() const { return lines_; }
  void SetCanFocus(bool canFocus) { canFocus_ = canFocus; }
  // Called with each line as it is appended (unattended mode's log).
  void OnLine(std::function<void(const std::string&)> listener) { listener_ = std::move(listener); }

 private:
  std::vector<Line> lines_;
  int currentSize_ = 0;
  bool canFocus_ = true;
  bool focused_ = false;
  std::function<void(const std::string&)> listener_;
};

}  // namespace kv
