#include <algorithm>

#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "wizard/WizardController.h"

#include "app/win32/WizardWindow.h"
#include "app/win32/Win32RichText.h"
#include "app/win32/Win32UserInterface.h"
#include "app/win32/WizardPages.h"

namespace kv {

namespace {

using winui::Wide;

constexpr UINT_PTR kFirstStepTimer = 1;
constexpr COLORREF kClGray = RGB(128, 128, 128);

struct DesignedButton {
  int id;
  RECT design;  // left, top, right, bottom at 96 dpi
};
constexpr DesignedButton kButtons[] = {
    {kIdButtonPrev, {348, 8, 348 + 73, 8 + 25}},
    {kIdButtonNext, {431, 8, 431 + 73, 8 + 25}},
    {kIdButtonCancel, {510, 8, 510 + 61, 8 + 25}},
};
constexpr RECT kVersionLabel{10, 10, 10 + 250, 10 + 16};

// The window rectangle around a client area, for the frame at `dpi`.
RECT FrameAround(int width, int height, DWORD style, DWORD exStyle, int dpi) {
  RECT frame{0, 0, width, height};
  using AdjustForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = reinterpret_cast<AdjustForDpi>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
  if (adjustForDpi != nullptr) {
    adjustForDpi(&frame, style, FALSE, exStyle, static_cast<UINT>(dpi));
  } else {
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  }
  return frame;
}

bool Usable(HWND control) {
  return control != nullptr && ::IsWindowVisible(control) && ::IsWindowEnabled(control);
}

}  // namespace

WizardWindow::WizardWindow() {
  winui::RegisterWindowClass(kWizardClass, COLOR_BTNFACE, ::LoadIconW(nullptr, IDI_APPLICATION));
  // A dialog border: caption and close box, no minimise or maximise box, a fixed size.
  constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;
  window_ = ::CreateWindowExW(kExStyle, kWizardClass, L"", kStyle, CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, nullptr,
                              nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (window_ == nullptr) throw Error("La fenêtre de l'assistant ne peut pas être créée.");
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WizardWindow::Procedure));
  dpi_ = winui::WindowDpi(window_);

  auto control = [this](const wchar_t* windowClass, const wchar_t* text, DWORD style, int id) {
    return winui::CreateChild(window_, windowClass, text, style, id);
  };
  title_ = control(L"STATIC", L"", SS_OWNERDRAW, kIdTitle);
  version_ = control(L"STATIC", L"Version : ", SS_OWNERDRAW, kIdVersion);
  prev_ = control(L"BUTTON", L"< Précédant", BS_PUSHBUTTON | WS_TABSTOP, kIdButtonPrev);
  next_ = control(L"BUTTON", L"", BS_PUSHBUTTON | WS_TABSTOP, kIdButtonNext);
  cancel_ = control(L"BUTTON", L"Annuler", BS_PUSHBUTTON | WS_TABSTOP, kIdButtonCancel);
  CreateFonts();

  // The designed client size, centred on the work area of the main monitor.
  const RECT frame = FrameAround(Scaled(kClientWidth), Scaled(kClientHeight), kStyle, kExStyle, dpi_);
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  ::SetWindowPos(window_, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  Layout();
  // Enabled from the window's creation.
  ::SetTimer(window_, kFirstStepTimer, WizardController::kFirstStepDelayMs, nullptr);
}

WizardWindow::~WizardWindow() {
  if (window_ == nullptr) return;
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  ::DestroyWindow(window_);
}

void WizardWindow::Attach(WizardController& controller, WelcomePage& welcome, Win32RichText& report) {
  controller_ = &controller;
  welcome_ = &welcome;
  report_ = &report;
  SetButtons(controller.Buttons());
}

void WizardWindow::Show() {
  ::ShowWindow(window_, SW_SHOW);
  ::UpdateWindow(window_);
  if (controller_ != nullptr) controller_->Shown();
}

// ---------------------------------------------------------------------------------------------
// The view

void WizardWindow::SetCaption(const std::string& caption) {
  ::SetWindowTextW(window_, Wide(caption).c_str());
}

void WizardWindow::SetTitle(const std::string& title) {
  ::SetWindowTextW(title_, Wide(title).c_str());
  ::InvalidateRect(title_, nullptr, TRUE);
}

void WizardWindow::SetVersionText(const std::string& text) {
  ::SetWindowTextW(version_, Wide(text).c_str());
  ::InvalidateRect(version_, nullptr, TRUE);
}

void WizardWindow::BringToFront() {
  ForceForegroundWindow(reinterpret_cast<WindowHandle>(window_));
}

void WizardWindow::SetWelcomeTexts(const std::string& title, const std::string& description) {
  welcome_->SetTexts(title, description);
}

void WizardWindow::ShowStep(WizardStep& step, const std::vector<WizardStep*>& steps) {
  for (WizardStep* shown : steps) {
    auto* page = dynamic_cast<Win32Page*>(shown);
    if (page == nullptr || !::IsWindowVisible(page->Handle())) continue;
    ::ShowWindow(page->Handle(), SW_HIDE);
    page->Left();
  }
  current_ = dynamic_cast<Win32Page*>(&step);
  if (current_ == nullptr) throw Error("Cannot get current step");
  Layout();
  // First in the tab order, as the page area comes before the button bar.
  ::SetWindowPos(current_->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ::ShowWindow(current_->Handle(), SW_SHOW);
  current_->Entered();
  KeepFocus();
}

void WizardWindow::SetButtons(const WizardButtons& buttons) {
  const struct {
    HWND button;
    const WizardButton& state;
  } bound[] = {{prev_, buttons.back}, {next_, buttons.next}, {cancel_, buttons.cancel}};
  for (const auto& b : bound) {
    const std::wstring caption = Wide(b.state.caption);
    // Unchanged captions are not set again: the button would flicker at every refresh.
    if (Wide(winui::WindowText(b.button)) != caption) ::SetWindowTextW(b.button, caption.c_str());
    ::EnableWindow(b.button, b.state.enabled);
  }
  KeepFocus();
}

void WizardWindow::StopFirstStepTimer() {
  ::KillTimer(window_, kFirstStepTimer);
}

void WizardWindow::ScrollReportToEnd() {
  report_->ScrollToEnd();
}

void WizardWindow::CloseWindow() {
  ::SendMessageW(window_, WM_CLOSE, 0, 0);
}

// ---------------------------------------------------------------------------------------------

LRESULT CALLBACK WizardWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* wizard = reinterpret_cast<WizardWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (wizard == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    wizard->window_ = nullptr;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
  return wizard->Message(message, wParam, lParam);
}

LRESULT WizardWindow::Message(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wParam));
      return 0;
    case WM_TIMER:
      if (wParam == kFirstStepTimer && controller_ != nullptr) controller_->FirstStepTimer();
      return 0;
    case WM_CLOSE:
      // The window stays while an updater works; afterwards, and before the run, it closes unasked.
      if (controller_ != nullptr && !controller_->CanClose()) return 0;
      ::DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    case WM_SETCURSOR:
      if (Win32UserInterface::Busy()) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = ::BeginPaint(window_, &paint);
      Paint(dc);
      ::EndPaint(window_, &paint);
      return 0;
    }
    case WM_DRAWITEM:
      DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_SIZE:
      Layout();
      return 0;
    case WM_DPICHANGED: {
      // Moved to a monitor of another resolution: the system proposes the new window rectangle.
      dpi_ = HIWORD(wParam);
      CreateFonts();
      const RECT& proposed = *reinterpret_cast<const RECT*>(lParam);
      ::SetWindowPos(window_, nullptr, proposed.left, proposed.top, proposed.right - proposed.left,
                     proposed.bottom - proposed.top, SWP_NOZORDER | SWP_NOACTIVATE);
      Layout();
      ::InvalidateRect(window_, nullptr, TRUE);
      return 0;
    }
    case WM_ACTIVATE:
      // As a dialog: the focus leaves with the window and comes back where it was.
      if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = ::GetFocus();
        if (focus != nullptr && ::IsChild(window_, focus)) focus_ = focus;
        return 0;
      }
      if (focus_ != nullptr && ::IsWindow(focus_) && Usable(focus_)) {
        ::SetFocus(focus_);
      } else {
        focus_ = nullptr;
        KeepFocus();
      }
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window_, message, wParam, lParam);
}

void WizardWindow::Command(int id) {
  if (controller_ == nullptr) return;
  // Enter presses the button that has the focus (the dialog keys send IDOK for it); Escape
  // (IDCANCEL) does nothing.
  if (id == IDOK) {
    const HWND focus = ::GetFocus();
    if (focus != prev_ && focus != next_ && focus != cancel_) return;
    id = ::GetDlgCtrlID(focus);
  }
  switch (id) {
    case kIdButtonPrev:
      controller_->Back();
      break;
    case kIdButtonNext:
      controller_->Next();
      break;
    case kIdButtonCancel:
      controller_->Cancel();
      break;
    default:
      break;
  }
}

void WizardWindow::KeepFocus() {
  if (::GetActiveWindow() != window_) return;
  const HWND focus = ::GetFocus();
  if (focus != nullptr && ::IsChild(window_, focus) && Usable(focus)) return;
  for (HWND candidate : {next_, cancel_, prev_}) {
    if (Usable(candidate)) {
      ::SetFocus(candidate);
      return;
    }
  }
  if (current_ != nullptr) {
    if (const HWND first = ::GetNextDlgTabItem(window_, nullptr, FALSE); first != nullptr) ::SetFocus(first);
  }
}

void WizardWindow::CreateFonts() {
  windowFont_.Reset(winui::CreatePixelFont(L"MS Sans Serif", 10, dpi_));
  titleFont_.Reset(winui::CreatePixelFont(L"Arial", 15, dpi_, true));
  pageFont_.Reset(winui::CreatePixelFont(L"MS Sans Serif", 15, dpi_));
  for (HWND control : {title_, version_, prev_, next_, cancel_}) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(windowFont_.Get()), FALSE);
  }
}

ButtonPanel WizardWindow::ButtonBar(int width) const {
  ButtonPanel bar;
  bar.clientWidth = width;
  for (const DesignedButton& b : kButtons) {
    bar.children.push_back({true, true, Scaled(b.design.left), Scaled(b.design.top),
                            Scaled(b.design.right - b.design.left), Scaled(b.design.bottom - b.design.top), false});
  }
  ArrangeButtons(bar);
  return bar;
}

void WizardWindow::Layout() {
  RECT client;
  ::GetClientRect(window_, &client);
  const int w = client.right;
  const int h = client.bottom;

  // The button bar: the buttons right to left from the right edge, anchored there.
  const ButtonPanel bar = ButtonBar(w);
  const int barTop = h - bar.clientHeight;
  const HWND buttons[] = {prev_, next_, cancel_};
  for (std::size_t i = 0; i < std::size(buttons); ++i) {
    const ButtonRect& r = bar.children[i];
    ::MoveWindow(buttons[i], r.left, barTop + r.top, r.width, r.height, TRUE);
  }
  ::MoveWindow(version_, Scaled(kVersionLabel.left), barTop + Scaled(kVersionLabel.top),
               Scaled(kVersionLabel.right - kVersionLabel.left), Scaled(kVersionLabel.bottom - kVersionLabel.top), TRUE);

  const int column = Scaled(kImageColumnWidth);
  const int band = Scaled(kTitleBandHeight);
  ::MoveWindow(title_, column, 0, w - column, band, TRUE);
  if (current_ != nullptr) {
    current_->Place({column, band, w, barTop}, dpi_, pageFont_.Get());
  }
  ::InvalidateRect(window_, nullptr, TRUE);
}

void WizardWindow::Paint(HDC dc) {
  RECT client;
  ::GetClientRect(window_, &client);
  const int barTop = client.bottom - ButtonBar(client.right).clientHeight;

  // The left column: a sunken panel that continues the picture's background, the picture centred.
  RECT column{0, 0, Scaled(kImageColumnWidth), barTop};
  const winui::GdiObject<HBRUSH> background(::CreateSolidBrush(kPictureBackground));
  ::FillRect(dc, &column, background.Get());
  ::DrawEdge(dc, &column, BDR_SUNKENOUTER, BF_RECT);
  const HRGN inside = ::CreateRectRgn(column.left + 1, column.top + 1, column.right - 1, column.bottom - 1);
  ::SelectClipRgn(dc, inside);
  // Integer division truncates toward zero: a picture larger than the panel gets a negative offset.
  DrawCompanyPicture(dc, (column.right - Scaled(kPictureWidth)) / 2, (column.bottom - Scaled(kPictureHeight)) / 2,
                     dpi_);
  ::SelectClipRgn(dc, nullptr);
  ::DeleteObject(inside);

  // The bevel along the top of the button bar.
  RECT bevel{0, barTop, client.right, barTop + 2};
  ::DrawEdge(dc, &bevel, EDGE_ETCHED, BF_TOP);
}

void WizardWindow::DrawItem(const DRAWITEMSTRUCT& item) {
  RECT area = item.rcItem;
  const std::wstring text = Wide(winui::WindowText(item.hwndItem));
  ::SetBkMode(item.hDC, TRANSPARENT);
  if (item.CtlID == kIdTitle) {
    // White bold text, centred and word-wrapped, on the grey band.
    const winui::GdiObject<HBRUSH> band(::CreateSolidBrush(kClGray));
    ::FillRect(item.hDC, &area, band.Get());
    const HGDIOBJ previous = ::SelectObject(item.hDC, titleFont_.Get());
    RECT measured = area;
    ::DrawTextW(item.hDC, text.c_str(), -1, &measured, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
    const int offset = std::max(0, static_cast<int>((area.bottom - area.top) - (measured.bottom - measured.top)) / 2);
    RECT shown{area.left, area.top + offset, area.right, area.bottom};
    ::SetTextColor(item.hDC, RGB(255, 255, 255));
    ::DrawTextW(item.hDC, text.c_str(), -1, &shown, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
    ::SelectObject(item.hDC, previous);
    return;
  }
  // The version: text that stands out of the surface, a light copy below and right of it.
  ::FillRect(item.hDC, &area, ::GetSysColorBrush(COLOR_BTNFACE));
  const HGDIOBJ previous = ::SelectObject(item.hDC, windowFont_.Get());
  RECT light = area;
  ::OffsetRect(&light, 1, 1);
  ::SetTextColor(item.hDC, ::GetSysColor(COLOR_3DHILIGHT));
  ::DrawTextW(item.hDC, text.c_str(), -1, &light, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
  ::SetTextColor(item.hDC, ::GetSysColor(COLOR_BTNTEXT));
  ::DrawTextW(item.hDC, text.c_str(), -1, &area, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
  ::SelectObject(item.hDC, previous);
}

}  // namespace kv
