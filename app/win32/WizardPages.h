// The wizard's pages in native controls: each a child window of the wizard window that the
// wizard places in its page area, and a page of the wizard's controller. The welcome page with its
// blinking warning, the notice page with the package's list of changes and the report page with
// the installation report, both printable.
#pragma once

#include <memory>
#include <string>

#include "wizard/WizardStep.h"

#include "app/win32/SystemApi.h"
#include "app/win32/WizardControls.h"
#include "app/win32/Win32RichText.h"

namespace kv {

// The picture of the left column: 150 x 245 at 96 dpi, on a plain background whose colour the
// column continues.
inline constexpr COLORREF kPictureBackground = RGB(31, 78, 121);
inline constexpr int kPictureWidth = 150;
inline constexpr int kPictureHeight = 245;
void DrawCompanyPicture(HDC dc, int left, int top, int dpi);

class Win32Page : public WizardStep {
 public:
  // A hidden child of the wizard window.
  Win32Page(HWND wizard, const char* name);
  ~Win32Page() override;

  std::string StepName() const override { return name_; }
  HWND Handle() const { return window_; }

  // Puts the page at `area` of the wizard window's client area, laid out for `dpi` with the
  // wizard's page font (not owned).
  void Place(const RECT& area, int dpi, HFONT pageFont);
  // Called when the wizard shows the page, and when it hides it.
  virtual void Entered() {}
  virtual void Left() {}

 protected:
  // Lays the controls out for the page's size and dots per inch.
  virtual void Layout(int width, int height) = 0;
  // The page's messages; the default handling for those it leaves.
  virtual LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam);
  // A child control of the page.
  HWND CreateControl(const wchar_t* windowClass, const wchar_t* text, DWORD style, int id, DWORD exStyle = 0);
  int Dpi() const { return dpi_; }
  int Scaled(int value) const { return winui::Scale(value, dpi_); }
  HFONT PageFont() const { return pageFont_; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  std::string name_;
  HWND window_ = nullptr;
  int dpi_ = USER_DEFAULT_SCREEN_DPI;
  HFONT pageFont_ = nullptr;
};

class WelcomePage : public Win32Page {
 public:
  static constexpr UINT kBlinkIntervalMs = 500;
  static constexpr COLORREF kClMaroon = RGB(0x80, 0x00, 0x00);
  static constexpr COLORREF kClRed = RGB(0xFF, 0x00, 0x00);

  explicit WelcomePage(HWND wizard);

  // The title (empty: "?") and the description, as the package gives them.
  void SetTexts(const std::string& title, const std::string& description);
  void Entered() override;
  void Left() override;
  COLORREF WarningColour() const { return warningColour_; }

 protected:
  void Layout(int width, int height) override;
  LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  // Shows the description's scroll bar, and lets Tab reach it, only when its text needs it.
  void UpdateInfoScrolling();

  HWND warning_;
  HWND info_;
  winui::GdiObject<HFONT> warningFont_;
  int fontDpi_ = 0;  // the resolution the fonts were made for
  COLORREF warningColour_ = kClMaroon;
};

// A page with a heading, a print button in it and a rich-edit control below.
class PrintablePage : public Win32Page {
 public:
  Win32RichText& Text() { return *text_; }
  // Shows the print dialog and prints the text when the user confirms it.
  void PrintClick();

 protected:
  PrintablePage(HWND wizard, const char* name, int headingPixels, int textPixels);
  void Layout(int width, int height) override;
  LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam) override;
  void SetHeading(const std::string& text) { ::SetWindowTextW(heading_, winui::Wide(text).c_str()); }
  // The document's name in the print queue.
  virtual std::string PrintTitle() const = 0;
  // The printer the pages share.
  virtual PrinterChoice& Printer() = 0;

 private:
  int headingPixels_;
  HWND heading_;
  HWND print_;
  HWND tooltip_;
  std::unique_ptr<Win32RichText> text_;
  winui::GdiObject<HFONT> headingFont_;
  int fontDpi_ = 0;  // the resolution the heading's font was made for
};

// The report page; it owns the printer choice both pages share.
class ReportPage : public PrintablePage {
 public:
  explicit ReportPage(HWND wizard);
  std::string GetNextCaption() override { return kQuitCaption; }
  void Init() override;
  PrinterChoice& Printer() override { return printer_; }

 protected:
  std::string PrintTitle() const override { return "Update report"; }

 private:
  PrinterChoice printer_;
};

// The notice page: the package's list of changes.
class NoticePage : public PrintablePage {
 public:
  // The report page lends its printer choice; it is created before this page.
  NoticePage(HWND wizard, ReportPage& reportPage);
  std::string GetNextCaption() override { return kStartCaption; }

 protected:
  std::string PrintTitle() const override { return kHeading; }
  PrinterChoice& Printer() override { return reportPage_.Printer(); }

 private:
  static constexpr const char* kHeading = "La liste des modifications";
  ReportPage& reportPage_;
};

}  // namespace kv
