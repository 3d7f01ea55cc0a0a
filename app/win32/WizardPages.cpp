#include "app/win32/WizardPages.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kv {

namespace {

using winui::Wide;

constexpr UINT_PTR kBlinkTimer = 1;
constexpr int kHeadingHeight = 32;
constexpr int kPrintButtonLeft = 4;
constexpr int kPrintButtonSize = 24;

// The page designs of 120 dpi, at the 96 dpi the program lays itself out for.
int FromPageDesign(int value) {
  return ::MulDiv(value, USER_DEFAULT_SCREEN_DPI, 120);
}

POINT OnCircle(double centreX, double centreY, double radius, double degrees) {
  const double a = degrees * std::numbers::pi / 180.0;
  return {static_cast<LONG>(std::lround(centreX + radius * std::cos(a))),
          static_cast<LONG>(std::lround(centreY - radius * std::sin(a)))};
}

void DrawText(HDC dc, const wchar_t* text, RECT area, int pixels, int dpi, bool bold, COLORREF colour) {
  const winui::GdiObject<HFONT> font(winui::CreatePixelFont(L"DejaVu Sans", pixels, dpi, bold));
  const HGDIOBJ previous = ::SelectObject(dc, font.Get());
  ::SetTextColor(dc, colour);
  ::DrawTextW(dc, text, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  ::SelectObject(dc, previous);
}

// The printer glyph of the print buttons, 16 x 16 at 96 dpi, centred in `area`.
void DrawPrinterGlyph(HDC dc, const RECT& area, int dpi) {
  const int unit = std::max(1, winui::Scale(1, dpi));
  const int left = (area.left + area.right - 16 * unit) / 2;
  const int top = (area.top + area.bottom - 16 * unit) / 2;
  const winui::GdiObject<HPEN> outline(::CreatePen(PS_SOLID, unit, RGB(64, 64, 64)));
  const winui::GdiObject<HBRUSH> paper(::CreateSolidBrush(RGB(255, 255, 255)));
  const winui::GdiObject<HBRUSH> body(::CreateSolidBrush(RGB(160, 160, 160)));
  const HGDIOBJ previousPen = ::SelectObject(dc, outline.Get());
  const HGDIOBJ previousBrush = ::SelectObject(dc, paper.Get());
  auto box = [&](int x, int y, int w, int h) {
    ::Rectangle(dc, left + x * unit, top + y * unit, left + (x + w + 1) * unit, top + (y + h + 1) * unit);
  };
  box(4, 1, 7, 5);  // paper in
  ::SelectObject(dc, body.Get());
  box(1, 6, 13, 6);  // body
  ::SelectObject(dc, paper.Get());
  box(4, 10, 7, 5);  // paper out
  const RECT lamp{left + 12 * unit, top + 8 * unit, left + 13 * unit, top + 9 * unit};
  const winui::GdiObject<HBRUSH> green(::CreateSolidBrush(RGB(0, 160, 0)));
  ::FillRect(dc, &lamp, green.Get());
  ::SelectObject(dc, previousBrush);
  ::SelectObject(dc, previousPen);
}

}  // namespace

void DrawCompanyPicture(HDC dc, int left, int top, int dpi) {
  auto s = [dpi](double value) { return static_cast<int>(std::lround(value * dpi / USER_DEFAULT_SCREEN_DPI)); };
  const RECT all{left, top, left + s(kPictureWidth), top + s(kPictureHeight)};
  const winui::GdiObject<HBRUSH> background(::CreateSolidBrush(kPictureBackground));
  ::FillRect(dc, &all, background.Get());
  const COLORREF light = RGB(235, 242, 250);
  const COLORREF accent = RGB(242, 169, 0);
  const int previousMode = ::SetBkMode(dc, TRANSPARENT);

  // The mark: a ring of two arrows around a K, the sign of an update.
  const double cx = left + s(75);
  const double cy = top + s(88);
  const double r = s(50);
  const RECT ring{left + s(25), top + s(38), left + s(125), top + s(138)};
  auto arc = [&](double from, double to, COLORREF colour) {
    LOGBRUSH brush{BS_SOLID, colour, 0};
    const winui::GdiObject<HPEN> pen(
        ::ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_FLAT, static_cast<DWORD>(s(7)), &brush, 0, nullptr));
    const HGDIOBJ previous = ::SelectObject(dc, pen.Get());
    const POINT start = OnCircle(cx, cy, r, from);
    const POINT end = OnCircle(cx, cy, r, to);
    ::SetArcDirection(dc, AD_COUNTERCLOCKWISE);
    ::Arc(dc, ring.left, ring.top, ring.right, ring.bottom, start.x, start.y, end.x, end.y);
    ::SelectObject(dc, previous);
  };
  arc(100, 250, light);
  arc(280, 430, accent);
  auto arrowHead = [&](double degrees, COLORREF colour) {
    const double a = degrees * std::numbers::pi / 180.0;
    const double tipX = cx + r * std::cos(a);
    const double tipY = cy - r * std::sin(a);
    // The way the arc runs (clockwise on screen), and across it.
    const double alongX = std::sin(a), alongY = std::cos(a);
    const double acrossX = std::cos(a), acrossY = -std::sin(a);
    const POINT head[] = {
        {static_cast<LONG>(std::lround(tipX + alongX * s(12))), static_cast<LONG>(std::lround(tipY + alongY * s(12)))},
        {static_cast<LONG>(std::lround(tipX - acrossX * s(10))), static_cast<LONG>(std::lround(tipY - acrossY * s(10)))},
        {static_cast<LONG>(std::lround(tipX + acrossX * s(10))), static_cast<LONG>(std::lround(tipY + acrossY * s(10)))},
    };
    const winui::GdiObject<HBRUSH> brush(::CreateSolidBrush(colour));
    const winui::GdiObject<HPEN> pen(::CreatePen(PS_SOLID, 1, colour));
    const HGDIOBJ previousBrush = ::SelectObject(dc, brush.Get());
    const HGDIOBJ previousPen = ::SelectObject(dc, pen.Get());
    ::Polygon(dc, head, 3);
    ::SelectObject(dc, previousPen);
    ::SelectObject(dc, previousBrush);
  };
  arrowHead(100, light);
  arrowHead(280, accent);

  DrawText(dc, L"K", ring, 56, dpi, true, light);
  DrawText(dc, L"KORVANE", {left, top + s(160), left + s(150), top + s(184)}, 17, dpi, true, light);
  const winui::GdiObject<HPEN> rule(::CreatePen(PS_SOLID, s(2), accent));
  const HGDIOBJ previous = ::SelectObject(dc, rule.Get());
  ::MoveToEx(dc, left + s(40), top + s(190), nullptr);
  ::LineTo(dc, left + s(110), top + s(190));
  ::SelectObject(dc, previous);
  DrawText(dc, L"Mise à jour", {left, top + s(196), left + s(150), top + s(214)}, 11, dpi, false, light);
  ::SetBkMode(dc, previousMode);
}

// ---------------------------------------------------------------------------------------------

Win32Page::Win32Page(HWND wizard, const char* name) : name_(name) {
  winui::RegisterWindowClass(kPageClass, COLOR_BTNFACE);
  // A control parent: Tab and the dialog keys go through the page's controls.
  window_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, Wide(name).c_str(),
                              WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, 0, 0, 0, wizard, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32Page::Procedure));
}

Win32Page::~Win32Page() {
  if (window_ == nullptr) return;
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  ::DestroyWindow(window_);
}

LRESULT CALLBACK Win32Page::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* page = reinterpret_cast<Win32Page*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (page == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    // Destroyed with the wizard window: the page has no window any more.
    page->window_ = nullptr;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
  if (message == WM_SIZE) page->Layout(LOWORD(lParam), HIWORD(lParam));
  return page->Message(message, wParam, lParam);
}

LRESULT Win32Page::Message(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcW(window_, message, wParam, lParam);
}

HWND Win32Page::CreateControl(const wchar_t* windowClass, const wchar_t* text, DWORD style, int id, DWORD exStyle) {
  return winui::CreateChild(window_, windowClass, text, style, id, exStyle);
}

void Win32Page::Place(const RECT& area, int dpi, HFONT pageFont) {
  dpi_ = dpi;
  pageFont_ = pageFont;
  ::MoveWindow(window_, area.left, area.top, area.right - area.left, area.bottom - area.top, TRUE);
  // Also when only the resolution changed, which sends no WM_SIZE.
  RECT client;
  ::GetClientRect(window_, &client);
  Layout(client.right, client.bottom);
}

// ---------------------------------------------------------------------------------------------

WelcomePage::WelcomePage(HWND wizard) : Win32Page(wizard, kWelcomeStepName) {
  warning_ = CreateControl(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kIdWarning);
  // A description longer than the page has room for scrolls instead of being cut off.
  info_ = CreateControl(L"EDIT", L"", ES_MULTILINE | ES_READONLY | WS_VSCROLL, kIdInfo);
  ::ShowScrollBar(info_, SB_VERT, FALSE);
}

void WelcomePage::SetTexts(const std::string& title, const std::string& description) {
  ::SetWindowTextW(warning_, Wide(WelcomeWarningText()).c_str());
  // The edit control breaks lines at CR LF only; line breaks at the end open no line: there would
  // be nothing to scroll to.
  std::string info = WelcomeInfoText(title, description);
  while (!info.empty() && (info.back() == '\n' || info.back() == '\r')) info.pop_back();
  std::string crlf;
  for (std::size_t i = 0; i < info.size(); ++i) {
    if (info[i] == '\n' && (i == 0 || info[i - 1] != '\r')) crlf += '\r';
    crlf += info[i];
  }
  ::SetWindowTextW(info_, Wide(crlf).c_str());
  // The warning's height follows its text.
  RECT client;
  ::GetClientRect(Handle(), &client);
  Layout(client.right, client.bottom);
}

void WelcomePage::Entered() {
  warningColour_ = kClMaroon;
  ::InvalidateRect(warning_, nullptr, TRUE);
  ::SetTimer(Handle(), kBlinkTimer, kBlinkIntervalMs, nullptr);
}

void WelcomePage::Left() {
  ::KillTimer(Handle(), kBlinkTimer);
}

void WelcomePage::Layout(int width, int height) {
  if (fontDpi_ != Dpi()) {
    HFONT font = winui::CreatePixelFont(L"MS Sans Serif", 15, Dpi(), true);
    ::SendMessageW(warning_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    warningFont_.Reset(font);
    fontDpi_ = Dpi();
  }
  if (PageFont() != nullptr) ::SendMessageW(info_, WM_SETFONT, reinterpret_cast<WPARAM>(PageFont()), FALSE);

  const int margin = Scaled(20);
  const int q = height / 4;
  // The designed heights; on a page too low for the whole warning, the warning grows to its
  // wrapped text and the description, 20 pixels below it, keeps its bottom edge and scrolls.
  const int designed = height - 2 * q - Scaled(80);
  RECT text{0, 0, std::max(0, width - 2 * margin), 0};
  const HDC dc = ::GetDC(warning_);
  const HGDIOBJ previous = ::SelectObject(dc, warningFont_.Get());
  const std::wstring warning = Wide(winui::WindowText(warning_));
  ::DrawTextW(dc, warning.c_str(), -1, &text, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  ::SelectObject(dc, previous);
  ::ReleaseDC(warning_, dc);
  const int grown = std::max(0, static_cast<int>(text.bottom) - designed);
  ::MoveWindow(warning_, margin, q, width - 2 * margin, designed + grown, TRUE);
  ::MoveWindow(info_, margin, height - q - Scaled(60) + grown, width - 2 * margin,
               std::max(0, height - 2 * q - Scaled(40) - grown), TRUE);
  UpdateInfoScrolling();
}

void WelcomePage::UpdateInfoScrolling() {
  TEXTMETRICW metrics{};
  const HDC dc = ::GetDC(info_);
  const HGDIOBJ previous = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(info_, WM_GETFONT, 0, 0)));
  ::GetTextMetricsW(dc, &metrics);
  ::SelectObject(dc, previous);
  ::ReleaseDC(info_, dc);
  RECT client;
  ::GetClientRect(info_, &client);
  const int shown = std::max<int>(1, client.bottom / std::max<int>(1, metrics.tmHeight));
  // Whether the text needs the scroll bar is judged at the whole width: the control wraps its
  // text again as the bar comes and goes.
  ::ShowScrollBar(info_, SB_VERT, FALSE);
  const bool scrolls = ::SendMessageW(info_, EM_GETLINECOUNT, 0, 0) > shown;
  if (scrolls) ::ShowScrollBar(info_, SB_VERT, TRUE);
  // A label takes no focus; one whose text scrolls does from the keyboard, so that the arrows and
  // page keys reach the hidden lines.
  const LONG_PTR style = ::GetWindowLongPtrW(info_, GWL_STYLE);
  ::SetWindowLongPtrW(info_, GWL_STYLE, scrolls ? (style | WS_TABSTOP) : (style & ~WS_TABSTOP));
}

LRESULT WelcomePage::Message(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam != kBlinkTimer) break;
      warningColour_ = warningColour_ == kClMaroon ? kClRed : kClMaroon;
      ::InvalidateRect(warning_, nullptr, TRUE);
      return 0;
    case WM_ERASEBKGND: {
      // The system window colour.
      RECT client;
      ::GetClientRect(Handle(), &client);
      ::FillRect(reinterpret_cast<HDC>(wParam), &client, ::GetSysColorBrush(COLOR_WINDOW));
      return 1;
    }
    case WM_CTLCOLORSTATIC: {
      const HDC dc = reinterpret_cast<HDC>(wParam);
      ::SetTextColor(dc, reinterpret_cast<HWND>(lParam) == warning_ ? warningColour_ : ::GetSysColor(COLOR_WINDOWTEXT));
      ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
    }
    default:
      break;
  }
  return Win32Page::Message(message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------

PrintablePage::PrintablePage(HWND wizard, const char* name, int headingPixels, int textPixels)
    : Win32Page(wizard, name), headingPixels_(headingPixels) {
  // The first child is the topmost: the button stays above the heading it sits in.
  print_ = CreateControl(L"BUTTON", L"Imprimer", BS_OWNERDRAW | WS_TABSTOP | WS_CLIPSIBLINGS, kIdPrint);
  heading_ = CreateControl(L"STATIC", L"", SS_OWNERDRAW | WS_CLIPSIBLINGS, kIdHeading);
  text_ = std::make_unique<Win32RichText>(Handle(), kIdRichText);
  text_->SetDefaultFormat(L"MS Sans Serif", textPixels);

  tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr, ::GetModuleHandleW(nullptr),
                               nullptr);
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = Handle();
  tool.uId = reinterpret_cast<UINT_PTR>(print_);
  std::wstring hint = L"Imprimer";
  tool.lpszText = hint.data();
  ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  // The application's hint display time.
  ::SendMessageW(tooltip_, TTM_SETDELAYTIME, TTDT_AUTOPOP, 20000);
}

void PrintablePage::Layout(int width, int height) {
  if (fontDpi_ != Dpi()) {
    headingFont_.Reset(winui::CreatePixelFont(L"MS Sans Serif", headingPixels_, Dpi()));
    fontDpi_ = Dpi();
  }
  const int headingHeight = Scaled(kHeadingHeight);
  ::MoveWindow(heading_, 0, 0, width, headingHeight, TRUE);
  ::MoveWindow(print_, Scaled(kPrintButtonLeft), Scaled(kPrintButtonLeft), Scaled(kPrintButtonSize),
               Scaled(kPrintButtonSize), TRUE);
  ::MoveWindow(text_->Handle(), 0, headingHeight, width, std::max(0, height - headingHeight), TRUE);
}

void PrintablePage::PrintClick() {
  const HDC printer = Printer().Choose(::GetAncestor(Handle(), GA_ROOT));
  if (printer == nullptr) return;
  text_->Print(printer, PrintTitle());
  ::DeleteDC(printer);
}

LRESULT PrintablePage::Message(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kIdPrint && HIWORD(wParam) == BN_CLICKED) {
        PrintClick();
        return 0;
      }
      break;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      RECT area = item.rcItem;
      ::FillRect(item.hDC, &area, ::GetSysColorBrush(COLOR_BTNFACE));
      if (item.CtlID == kIdHeading) {
        // A raised panel with its caption centred.
        ::DrawEdge(item.hDC, &area, BDR_RAISEDINNER, BF_RECT);
        const HGDIOBJ previous = ::SelectObject(item.hDC, headingFont_.Get());
        ::SetBkMode(item.hDC, TRANSPARENT);
        ::SetTextColor(item.hDC, ::GetSysColor(COLOR_BTNTEXT));
        const std::wstring caption = Wide(winui::WindowText(item.hwndItem));
        ::DrawTextW(item.hDC, caption.c_str(), -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        ::SelectObject(item.hDC, previous);
        return TRUE;
      }
      if (item.CtlID == kIdPrint) {
        // A flat button: an edge only while pressed.
        if ((item.itemState & ODS_SELECTED) != 0) ::DrawEdge(item.hDC, &area, BDR_SUNKENOUTER, BF_RECT);
        DrawPrinterGlyph(item.hDC, area, Dpi());
        if ((item.itemState & ODS_FOCUS) != 0) {
          ::InflateRect(&area, -2, -2);
          ::DrawFocusRect(item.hDC, &area);
        }
        return TRUE;
      }
      break;
    }
    default:
      break;
  }
  return Win32Page::Message(message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------

ReportPage::ReportPage(HWND wizard)
    : PrintablePage(wizard, kReportStepName, FromPageDesign(17), FromPageDesign(13)) {}

void ReportPage::Init() {
  PrintablePage::Init();
  SetHeading("Rapport d'installation");
}

NoticePage::NoticePage(HWND wizard, ReportPage& reportPage)
    : PrintablePage(wizard, kNoticeStepName, 13, 11), reportPage_(reportPage) {
  SetHeading(kHeading);
}

}  // namespace kv
