// korvane-update.exe: the update wizard on Windows, a program of the window subsystem. With /SILENT
// (--unattended) it runs the wizard without a window (wizard/UnattendedRunner.h) and writes its
// messages to the console it was started from. The wizard's window is not part of the Windows
// program yet: started without /SILENT, the program says so and ends.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "wizard/CommandLine.h"
#include "wizard/InstanceGuard.h"
#include "wizard/UnattendedRunner.h"

// The system's headers after the project's, whose names they would otherwise rename.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

namespace {

std::string Utf8(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string utf8(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  utf8.pop_back();  // the terminating null
  return utf8;
}

std::wstring Wide(const std::string& utf8) {
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 1), L'\0');
  if (size > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), size);
  wide.pop_back();
  return wide;
}

// The arguments after the program's name, in UTF-8.
std::vector<std::string> Arguments() {
  int count = 0;
  wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> utf8;
  for (int i = 1; i < count; ++i) utf8.push_back(Utf8(arguments[i]));
  ::LocalFree(arguments);
  return utf8;
}

// A program of the window subsystem gets standard handles only when its caller gave it some (a
// redirection, or Wine's own); otherwise it writes to the console of the command prompt that
// started it, if there is one. False when the program has nowhere to write.
bool UseCallersConsole() {
  const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) {
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return false;
    if (!std::freopen("CONOUT$", "w", stdout) || !std::freopen("CONOUT$", "w", stderr)) return false;
  }
  // The program's texts are UTF-8.
  ::SetConsoleOutputCP(CP_UTF8);
  return true;
}

void ShowMessage(const std::string& text, UINT icon) {
  ::MessageBoxW(nullptr, Wide(text).c_str(), Wide(kv::ApplicationTitle()).c_str(), MB_OK | icon);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const kv::CommandLine commandLine = kv::ParseCommandLine(Arguments());
  const bool console = UseCallersConsole();
  if (commandLine.help) {
    if (console)
      std::cout << kv::UsageText("korvane-update");
    else
      ShowMessage(kv::UsageText("korvane-update"), MB_ICONINFORMATION);
    return kv::kExitCompleted;
  }
  if (!commandLine.error.empty()) {
    if (console)
      std::cerr << commandLine.error << "\nVoir korvane-update --help.\n";
    else
      ShowMessage(commandLine.error, MB_ICONERROR);
    return kv::kExitUsage;
  }
  if (commandLine.unattended) return kv::RunUnattendedProgram(commandLine);
  ShowMessage(
      "La fenêtre de l'assistant n'est pas encore disponible dans cette version pour Windows.\r\n"
      "Lancez la mise à jour sans surveillance avec l'option /SILENT.",
      MB_ICONINFORMATION);
  return kv::kExitUsage;
}
