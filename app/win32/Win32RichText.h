// The rich-text control port on the system's rich-edit control (MSFTEDIT_CLASS, or RICHEDIT20W
// where msftedit.dll is missing): the notice page's list of changes, rendered from the RTF
// reader's document model, and the installation report, which grows one paragraph at a time.
// Both print through the control (EM_FORMATRANGE) as one document with a title.
#pragma once

#include <functional>
#include <string>

#include "formats/RtfReader.h"
#include "platform/RichTextControl.h"

#include "app/win32/SystemApi.h"

namespace kv {

// The printer the user last chose in the print dialog; both pages share it.
class PrinterChoice {
 public:
  PrinterChoice() = default;
  ~PrinterChoice();
  PrinterChoice(const PrinterChoice&) = delete;
  PrinterChoice& operator=(const PrinterChoice&) = delete;

  // Shows the system's print dialog (PrintDlgW) owned by `owner`; on confirmation answers the
  // device context of the chosen printer (the caller deletes it), else nullptr.
  HDC Choose(HWND owner);

 private:
  HGLOBAL devMode_ = nullptr;
  HGLOBAL devNames_ = nullptr;
};

class Win32RichText : public RichTextControl {
 public:
  // A read-only control, child `id` of `parent`, with a vertical scroll bar when its text needs it.
  Win32RichText(HWND parent, int id);
  Win32RichText(const Win32RichText&) = delete;
  Win32RichText& operator=(const Win32RichText&) = delete;

  void Clear() override;
  void LoadDocument(const rtf::Document& document) override;
  void AppendLine(const std::string& text, int sizePoints) override;
  int LineCount() const override { return lineCount_; }
  bool CanFocus() const override;
  bool Focused() const override { return ::GetFocus() == window_; }
  void SetFocus() override { ::SetFocus(window_); }
  std::string PlainText() const override;

  HWND Handle() const { return window_; }
  // The font of text without a format of its own: `family`, its em `pixels` high at 96 dpi. The
  // control keeps it in points and scales it to its monitor itself; a font given by WM_SETFONT
  // would replace every format of the text.
  void SetDefaultFormat(const wchar_t* family, int pixels);
  // Moves the insertion point to the end and scrolls it into view.
  void ScrollToEnd();
  // Prints the whole content on `printer` as one document under `title` (the print queue's name).
  void Print(HDC printer, const std::string& title) const;
  // Called with each line as it is appended (the report's log).
  void OnLine(std::function<void(const std::string&)> listener) { listener_ = std::move(listener); }

 private:
  // Inserts `text` at the end in the given character format.
  void InsertAtEnd(const std::wstring& text, const CHARFORMAT2W& format);

  HWND window_;
  int lineCount_ = 0;
  // The size in effect at the end of the text for appended lines, in points (0: the control's).
  int endSizePoints_ = 0;
  std::function<void(const std::string&)> listener_;
};

}  // namespace kv
