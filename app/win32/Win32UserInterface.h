// The user-interface port on the Windows API: the system's message boxes, folder browser and
// file-open dialog (in the system's language), beeps, the busy cursor, the message pumping of the
// program's waits, the foreground window and the termination request, which ends the message loop.
#pragma once

#include <string>

#include "platform/UserInterface.h"

namespace kv {

class Win32UserInterface : public UserInterface {
 public:
  Win32UserInterface();
  ~Win32UserInterface() override;
  Win32UserInterface(const Win32UserInterface&) = delete;
  Win32UserInterface& operator=(const Win32UserInterface&) = delete;

  int MessageBox(const std::string& caption, const std::string& text, MessageKind kind,
                 unsigned buttons) override;
  void MessageBeep(std::uint32_t type) override;
  void SetBusyCursor(bool busy) override;
  bool BrowseForFolder(const std::string& title, std::string& folder, const std::string& root,
                       unsigned flags) override;
  bool OpenFile(FileOpenRequest& request) override;
  void ProcessEvents() override;
  bool TerminationRequested() const override { return terminated_; }
  void RequestTermination() override;
  bool ForceForegroundWindow(WindowHandle window) override;

  // Whether the busy cursor is on (the window shows it over itself).
  static bool Busy();

 private:
  bool terminated_ = false;
  bool comInitialised_ = false;
};

// Runs the thread's message loop until the program's end is requested; the dialog keys (Tab,
// Enter, Escape) go to the active window's controls as in a dialog. Answers the exit code posted.
int RunMessageLoop();

}  // namespace kv
