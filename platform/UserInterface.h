// The user-interface port: everything the core asks of the screen. The Qt program fills it with
// real dialogs, unattended mode answers by policy, tests answer from a script.
#pragma once

#include <cstdint>
#include <string>

namespace kv {

// Plain: no icon, the caller gives the caption (the application title).
enum class MessageKind { Error, Warning, Information, Confirmation, Plain };

// Button sets and results of a message box, with the values of the toolkit's message dialog.
enum MessageButton : unsigned { mbYes = 0x1, mbNo = 0x2, mbOK = 0x4, mbCancel = 0x8 };
enum ModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// MessageBeep types.
inline constexpr std::uint32_t MB_OK = 0x0;
inline constexpr std::uint32_t MB_ICONQUESTION = 0x20;
inline constexpr std::uint32_t MB_ICONEXCLAMATION = 0x30;

// An opaque window handle; 0 is no window.
using WindowHandle = std::uintptr_t;

struct FileOpenRequest {
  std::string title;
  std::string filter;      // "Programmes (*.exe)|*.exe" style
  std::string initialDir;  // Windows path
  std::string fileName;    // in: proposed name; out: the chosen file
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // Shows a modal box and answers the pressed button (mrNone when closed otherwise).
  virtual int MessageBox(const std::string& caption, const std::string& text, MessageKind kind,
                         unsigned buttons) = 0;
  virtual void MessageBeep(std::uint32_t type) = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  // The folder-selection dialog; folder is the initial selection and, on true, the choice.
  virtual bool BrowseForFolder(const std::string& title, std::string& folder, const std::string& root,
                               unsigned flags) = 0;
  virtual bool OpenFile(FileOpenRequest& request) = 0;
  // Processes pending window messages once.
  virtual void ProcessEvents() = 0;
  virtual bool TerminationRequested() const = 0;
  virtual void RequestTermination() = 0;
  // Brings the window to the foreground; true when it is the foreground window afterwards.
  virtual bool ForceForegroundWindow(WindowHandle window) = 0;
};

// The interface in effect. Until one is installed, a console one answers No to every question
// and writes every box to standard error.
UserInterface& Ui();
// Installs an interface (not owned); nullptr restores the console one.
void SetUi(UserInterface* ui);

// Installs an interface for the guard's life and restores the console one afterwards.
class ScopedUi {
 public:
  explicit ScopedUi(UserInterface& ui) { SetUi(&ui); }
  ~ScopedUi() { SetUi(nullptr); }
  ScopedUi(const ScopedUi&) = delete;
  ScopedUi& operator=(const ScopedUi&) = delete;
};

// The console interface: writes "[caption] text" to standard error and answers questions by a
// fixed policy. Unattended mode and the command-line tools use it.
class ConsoleUserInterface : public UserInterface {
 public:
  explicit ConsoleUserInterface(bool answerYes = false) : answerYes_(answerYes) {}

  int MessageBox(const std::string& caption, const std::string& text, MessageKind kind,
                 unsigned buttons) override;
  void MessageBeep(std::uint32_t) override {}
  void SetBusyCursor(bool) override {}
  bool BrowseForFolder(const std::string&, std::string&, const std::string&, unsigned) override {
    return false;
  }
  bool OpenFile(FileOpenRequest&) override { return false; }
  void ProcessEvents() override {}
  bool TerminationRequested() const override { return terminated_; }
  void RequestTermination() override { terminated_ = true; }
  bool ForceForegroundWindow(WindowHandle) override { return true; }

 private:
  bool answerYes_;
  bool terminated_ = false;
};

}  // namespace kv
