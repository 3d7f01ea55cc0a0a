// The Windows API for the wizard's window. <windows.h> defines macros under names the project's
// headers use (MessageBox, MB_OK...): every file of this folder includes the project's headers
// first and this one after them, and the macros that would rename the project's names are
// undefined here.
#pragma once

#include <string>
#include <string_view>

// The project's headers whose names the system's macros would rename, before the system's headers.
#include "platform/Messages.h"
#include "platform/UserInterface.h"
#include "platform/Win32.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <richedit.h>
#include <shellapi.h>
#include <shlobj.h>
// clang-format on

#undef MessageBox

namespace kv::winui {

// UTF-8 <-> UTF-16 at the edge of the system.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view utf16);

// The text of a window, in UTF-8.
std::string WindowText(HWND window);

// A length designed at 96 dots per inch, at `dpi` (rounded as MulDiv rounds).
inline int Scale(int value, int dpi) {
  return ::MulDiv(value, dpi, USER_DEFAULT_SCREEN_DPI);
}

// A GDI object (font, brush, pen) deleted with its owner.
template <typename Object>
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(Object object) : object_(object) {}
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  ~GdiObject() { Reset(); }
  void Reset(Object object = nullptr) {
    if (object_ != nullptr) ::DeleteObject(object_);
    object_ = object;
  }
  Object Get() const { return object_; }

 private:
  Object object_ = nullptr;
};

// A font of `family` whose em is `pixels` high at 96 dpi, at `dpi`.
HFONT CreatePixelFont(const wchar_t* family, int pixels, int dpi, bool bold = false);

// Registers a window class of the program (once; again does nothing) with the arrow cursor, the
// background of the system colour `background` (COLOR_...) and the default window procedure: the
// window replaces it with its own once it is made and knows its object.
void RegisterWindowClass(const wchar_t* name, int background, HICON icon = nullptr);

// A visible child window (a control) of `parent` with the identifier `id`.
HWND CreateChild(HWND parent, const wchar_t* windowClass, const wchar_t* text, DWORD style, int id,
                 DWORD exStyle = 0);

// The dots per inch of the monitor the window is on (per-monitor awareness), else the system's.
int WindowDpi(HWND window);

}  // namespace kv::winui
