// The single-instance guard of the Windows program across processes: while another process holds
// the semaphore of the program's name, korvane-update.exe ends at once with its own exit code; once
// it is released, the program runs (and, carrying no package, ends with the code of a missing one).
#include <gtest/gtest.h>

#include <string>

#include "formats/Text.h"
#include "platform/FileUtils.h"
#include "platform/Win32.h"
#include "wizard/CommandLine.h"
#include "wizard/InstanceGuard.h"

// After the project's headers, whose names it would rename.
#include <windows.h>
#undef GetModuleFileName

namespace kv {
namespace {

// Runs a program with its arguments and answers its exit code (-1 when it cannot be started).
int RunProgram(const std::string& program, const std::string& arguments) {
  const std::u16string command = text::Utf8ToUtf16("\"" + program + "\" " + arguments);
  std::wstring line(command.begin(), command.end());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return -1;
  }
  ::WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

TEST(Win32SecondCopy, EndsAtOnceWhileAnotherProcessHoldsTheGuard) {
  const std::string program = ExtractFilePath(win::GetModuleFileName()) + "korvane-update.exe";
  ASSERT_EQ(ApplicationTitleFromFileName(program), "Korvane-update");
  {
    InstanceGuard first;
    ASSERT_FALSE(first.IsAlreadyRunning("Korvane-update"));
    EXPECT_EQ(RunProgram(program, "/SILENT"), kExitAlreadyRunning);
  }
  EXPECT_EQ(RunProgram(program, "/SILENT"), kExitNoPackage);
}

}  // namespace
}  // namespace kv
