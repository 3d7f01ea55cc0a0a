// The user-interface port on Qt Widgets: message boxes with the French titles and buttons of the
// system's dialogs, beeps, the busy cursor, the folder browser, the file-open dialog, the event
// processing of the program's waits, the foreground window and the termination request.
#pragma once

#include <QString>
#include <string>

#include "platform/UserInterface.h"

class QPrinter;
class QWidget;

namespace kv {

class QtUserInterface : public UserInterface {
 public:
  // The button texts of a French system.
  static QString ButtonText(MessageButton button);
  // The handle the port knows a window by, and back (nullptr when it names no top-level window).
  static WindowHandle HandleOf(const QWidget* window);
  static QWidget* WindowOf(WindowHandle handle);
  // The printer set-up dialog on `printer`; true when the user confirmed it.
  static bool ShowPrinterSetup(QPrinter& printer, QWidget* parent);

  int MessageBox(const std::string& caption, const std::string& text, MessageKind kind,
                 unsigned buttons) override;
  void MessageBeep(std::uint32_t type) override;
  void SetBusyCursor(bool busy) override;
  // `folder` and `root` are Windows paths of the host prefix, and so is the choice.
  bool BrowseForFolder(const std::string& title, std::string& folder, const std::string& root,
                       unsigned flags) override;
  bool OpenFile(FileOpenRequest& request) override;
  void ProcessEvents() override;
  bool TerminationRequested() const override { return terminated_; }
  // Ends the event loop once control is back in it (a request made before the loop runs, from the
  // window's show handler, still ends it).
  void RequestTermination() override;
  bool ForceForegroundWindow(WindowHandle window) override;

 private:
  bool terminated_ = false;
};

}  // namespace kv
