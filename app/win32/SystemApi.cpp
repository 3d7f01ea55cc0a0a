#include "app/win32/SystemApi.h"

#include "formats/Text.h"

namespace kv::winui {

// The same conversions as the Win32 backend's, so that a text reaches the window as it reaches
// the file system.
std::wstring Wide(std::string_view utf8) {
  const std::u16string units = text::Utf8ToUtf16(utf8);
  return std::wstring(units.begin(), units.end());
}

std::string Utf8(std::wstring_view utf16) {
  return text::Utf16ToUtf8(std::u16string(utf16.begin(), utf16.end()));
}

std::string WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return Utf8(text);
}

HFONT CreatePixelFont(const wchar_t* family, int pixels, int dpi, bool bold) {
  // A negative height is the em's: the size the font is designed at, without its leading.
  return ::CreateFontW(-Scale(pixels, dpi), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, family);
}

void RegisterWindowClass(const wchar_t* name, int background, HICON icon) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = ::DefWindowProcW;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hIcon = icon;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(background + 1));
  windowClass.lpszClassName = name;
  // A class registered already answers ERROR_CLASS_ALREADY_EXISTS, which is no failure here.
  ::RegisterClassExW(&windowClass);
}

HWND CreateChild(HWND parent, const wchar_t* windowClass, const wchar_t* text, DWORD style, int id, DWORD exStyle) {
  return ::CreateWindowExW(exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
}

int WindowDpi(HWND window) {
  // GetDpiForWindow exists from Windows 10 1607: looked up, so that older systems still run.
  using GetDpiForWindowEntry = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowEntry>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr && window != nullptr) {
    if (const UINT dpi = getDpiForWindow(window); dpi != 0) return static_cast<int>(dpi);
  }
  const HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

}  // namespace kv::winui
