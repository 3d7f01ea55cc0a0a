// The shell's file operation on the real shell (SHFileOperationW).
#include "platform/Win32.h"
#include "platform/win32/Api.h"

namespace kv::win {

namespace {

// A list of paths, each ended by a null, the list by one more: the same in UTF-16, with
// backslashes.
std::wstring WideList(const std::string& list) {
  std::wstring wide = win32::WidePath(list);
  if (wide.empty() || wide.back() != L'\0') wide += L'\0';
  wide += L'\0';
  return wide;
}

}  // namespace

int SHFileOperation(ShFileOperation& operation) {
  const std::wstring from = WideList(operation.from);
  const std::wstring to = WideList(operation.to);
  const std::wstring title = win32::Wide(operation.progressTitle);
  SHFILEOPSTRUCTW request{};
  request.hwnd = reinterpret_cast<HWND>(operation.window);
  request.wFunc = operation.func;
  request.pFrom = from.c_str();
  request.pTo = operation.to.empty() ? nullptr : to.c_str();
  request.fFlags = static_cast<FILEOP_FLAGS>(operation.flags);
  request.lpszProgressTitle = title.c_str();
  const int result = ::SHFileOperationW(&request);
  operation.anyOperationsAborted = request.fAnyOperationsAborted != FALSE;
  return result;
}

}  // namespace kv::win
