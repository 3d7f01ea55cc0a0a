// korvane-update.exe: the update wizard on Windows, a program of the window subsystem. With /SILENT
// (--unattended) it runs the wizard without a window (wizard/UnattendedRunner.h) and writes its
// messages to the console it was started from. Otherwise it refuses to run twice, reads its
// package, creates the wizard window, its pages, the update engine and the wizard's controller in
// a fixed order, runs the message loop until the window closes and exits with the run's outcome.
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Messages.h"
#include "products/ProductCatalog.h"
#include "wizard/CommandLine.h"
#include "wizard/InstanceGuard.h"
#include "wizard/UnattendedRunner.h"

// The system's headers after the project's, whose names they would otherwise rename.
#include "app/win32/SystemApi.h"
#include "app/win32/Win32RichText.h"
#include "app/win32/Win32UserInterface.h"
#include "app/win32/WizardApplication.h"
#include "app/win32/WizardPages.h"
#include "app/win32/WizardWindow.h"

namespace {

using kv::winui::Utf8;
using kv::winui::Wide;

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

// The wizard in its window.
int RunWizard(const kv::CommandLine& commandLine) {
  // Held until the process ends; the system releases it then, however the process ends.
  kv::InstanceGuard guard;
  if (guard.IsAlreadyRunning()) return kv::kExitCompleted;
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);

  kv::Win32UserInterface windows;
  const kv::ScopedUi ui(windows);

  return kv::RunWithPackageAndLog(commandLine, [](std::optional<kv::ReportLog>& log) {
    const kv::SuiteProductCatalog products;
    kv::WizardApplication forms(products, kv::ProgramUpdaters());
    if (log) forms.frmEndInstall->Text().OnLine([&log](const std::string& line) { log->Append(line); });

    forms.frmMain->Show();
    kv::RunMessageLoop();
    return forms.Controller->ExitCode();
  });
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
  return RunWizard(commandLine);
}
