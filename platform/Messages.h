// Talking to the user and to the system in one way: message boxes, the busy cursor, the error
// texts of failed file operations, names, versions, the button bar layout, registry strings.
#pragma once

#include <string>
#include <vector>

#include "platform/UserInterface.h"
#include "platform/Win32.h"

namespace kv {

int ShowMessageBox(const std::string& text, MessageKind kind, unsigned buttons, int helpContext);
void ShowError(const std::string& text, int helpContext = 0);
void ShowWarning(const std::string& text, int helpContext = 0);
void ShowInformation(const std::string& text, int helpContext = 0);
bool AskWarning(const std::string& text, int helpContext = 0);
bool AskConfirmation(const std::string& text, int helpContext = 0);
// The window title of a box of this kind.
const char* MessageCaption(MessageKind kind);

void BeginBusyCursor();
void EndBusyCursor();
int BusyCursorDepth();

// The busy cursor for a scope, ended however the scope ends.
class BusyCursor {
 public:
  BusyCursor() { BeginBusyCursor(); }
  ~BusyCursor() { EndBusyCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

std::string GetWindowsFolder();
void AddTrailingBackslash(std::string& path);

std::string SystemErrorText(win::DWORD code);
std::string LastErrorText();
void ShowLastError(const std::string& text, bool continueAfter);
void FileCopyError(const std::string& source, const std::string& destination, bool continueAfter);
void FileDeleteError(const std::string& fileName, bool continueAfter);
void FileAttributesError(const std::string& fileName, bool continueAfter);

std::string GetComputerNameText();
std::string GetUserNameText();
std::string GetFileVersionString(const std::string& fileName);

// A control of a button bar, as the layout rule sees it.
struct ButtonRect {
  bool isButton = true;  // push button or speed button
  bool visible = true;
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool anchoredRightBottom = false;
};
struct ButtonPanel {
  int clientWidth = 0;
  int clientHeight = 0;
  std::vector<ButtonRect> children;
};
// Lays the visible buttons out right to left with a margin of 40 % of their height.
void ArrangeButtons(ButtonPanel& panel);

// The registry's message for a value read or written with the wrong type.
std::string RegistryTypeErrorText(const std::string& valueName);
std::string ReadRegistryString(win::HKEY root, const std::string& key, const std::string& name);
void WriteRegistryString(win::HKEY root, const std::string& key, const std::string& name,
                         const std::string& value);

}  // namespace kv
