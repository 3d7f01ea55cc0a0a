#include "app/win32/Win32UserInterface.h"

#include <algorithm>
#include <vector>

#include "app/win32/SystemApi.h"

namespace kv {

namespace {

using winui::Utf8;
using winui::Wide;

int busyDepth = 0;

// The window a dialog belongs to: the active window of the program, which the dialog disables
// while it is open.
HWND DialogOwner() {
  return ::GetActiveWindow();
}

UINT IconFlags(MessageKind kind) {
  switch (kind) {
    case MessageKind::Error:
      return MB_ICONERROR;
    case MessageKind::Warning:
      return MB_ICONWARNING;
    case MessageKind::Information:
      return MB_ICONINFORMATION;
    case MessageKind::Confirmation:
      return MB_ICONQUESTION;
    case MessageKind::Plain:
      return 0;
  }
  return 0;
}

// The system's button set for the port's buttons; a set the system has no box for gets OK.
UINT ButtonFlags(unsigned buttons) {
  const bool yesNo = (buttons & (mbYes | mbNo)) == (mbYes | mbNo);
  if (yesNo && (buttons & mbCancel) != 0) return MB_YESNOCANCEL;
  if (yesNo) return MB_YESNO;
  if ((buttons & (mbOK | mbCancel)) == (mbOK | mbCancel)) return MB_OKCANCEL;
  return MB_OK;
}

int ResultOf(int pressed) {
  switch (pressed) {
    case IDOK:
      return mrOk;
    case IDCANCEL:
      return mrCancel;
    case IDYES:
      return mrYes;
    case IDNO:
      return mrNo;
    default:
      return mrNone;
  }
}

// Gives a message to the dialog navigation of its top-level window (Tab, the arrows, Enter,
// Escape), else translates and dispatches it.
void Deliver(MSG& message) {
  HWND top = message.hwnd != nullptr ? ::GetAncestor(message.hwnd, GA_ROOT) : nullptr;
  if (top != nullptr && ::IsDialogMessageW(top, &message)) return;
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

// Selects the initial folder once the folder browser is up.
int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED && data != 0) ::SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

}  // namespace

Win32UserInterface::Win32UserInterface() {
  // The folder browser's new dialog style needs COM in a single-threaded apartment.
  comInitialised_ = SUCCEEDED(::OleInitialize(nullptr));
}

Win32UserInterface::~Win32UserInterface() {
  if (comInitialised_) ::OleUninitialize();
}

int Win32UserInterface::MessageBox(const std::string& caption, const std::string& text, MessageKind kind,
                                   unsigned buttons) {
  return ResultOf(::MessageBoxW(DialogOwner(), Wide(text).c_str(), Wide(caption).c_str(),
                                ButtonFlags(buttons) | IconFlags(kind) | MB_SETFOREGROUND));
}

void Win32UserInterface::MessageBeep(std::uint32_t type) {
  ::MessageBeep(type);
}

bool Win32UserInterface::Busy() {
  return busyDepth > 0;
}

void Win32UserInterface::SetBusyCursor(bool busy) {
  busyDepth += busy ? 1 : (busyDepth > 0 ? -1 : 0);
  // The cursor changes at once; the window keeps it over itself while busy (WM_SETCURSOR).
  ::SetCursor(::LoadCursorW(nullptr, busyDepth > 0 ? IDC_WAIT : IDC_ARROW));
}

bool Win32UserInterface::BrowseForFolder(const std::string& title, std::string& folder, const std::string& root,
                                         unsigned flags) {
  const std::wstring wideTitle = Wide(title);
  const std::wstring initial = Wide(folder);
  PIDLIST_ABSOLUTE rootList = nullptr;
  if (!root.empty()) ::SHParseDisplayName(Wide(root).c_str(), nullptr, &rootList, 0, nullptr);
  BROWSEINFOW info{};
  info.hwndOwner = DialogOwner();
  info.pidlRoot = rootList;
  info.lpszTitle = wideTitle.c_str();
  info.ulFlags = flags | BIF_RETURNONLYFSDIRS;
  info.lpfn = BrowseCallback;
  info.lParam = initial.empty() ? 0 : reinterpret_cast<LPARAM>(initial.c_str());
  PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&info);
  if (rootList != nullptr) ::CoTaskMemFree(rootList);
  if (chosen == nullptr) return false;
  std::wstring path(MAX_PATH, L'\0');
  const bool isFolder = ::SHGetPathFromIDListW(chosen, path.data()) != FALSE;
  ::CoTaskMemFree(chosen);
  if (!isFolder) return false;
  path.resize(path.find(L'\0'));
  folder = Utf8(path);
  return true;
}

bool Win32UserInterface::OpenFile(FileOpenRequest& request) {
  // "Programmes (*.exe)|*.exe|Tous (*.*)|*.*" as the system writes filters: pairs ended by nulls.
  std::wstring filter = Wide(request.filter);
  for (wchar_t& c : filter) {
    if (c == L'|') c = L'\0';
  }
  filter.append(2, L'\0');
  const std::wstring title = Wide(request.title);
  const std::wstring initialDir = Wide(request.initialDir);
  std::vector<wchar_t> file(32768, L'\0');
  const std::wstring proposed = Wide(request.fileName);
  proposed.copy(file.data(), std::min(proposed.size(), file.size() - 1));

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = DialogOwner();
  dialog.lpstrFilter = request.filter.empty() ? nullptr : filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = initialDir.empty() ? nullptr : initialDir.c_str();
  dialog.lpstrTitle = title.empty() ? nullptr : title.c_str();
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
  if (!::GetOpenFileNameW(&dialog)) return false;
  request.fileName = Utf8(file.data());
  return true;
}

void Win32UserInterface::ProcessEvents() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // The end of the program belongs to the message loop: posted again for it.
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    Deliver(message);
  }
}

void Win32UserInterface::RequestTermination() {
  terminated_ = true;
  ::PostQuitMessage(0);
}

bool Win32UserInterface::ForceForegroundWindow(WindowHandle window) {
  const HWND handle = reinterpret_cast<HWND>(window);
  if (!::IsWindow(handle)) return false;
  ::SetForegroundWindow(handle);
  return ::GetForegroundWindow() == handle;
}

int RunMessageLoop() {
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) Deliver(message);
  return static_cast<int>(message.wParam);
}

}  // namespace kv
