#include "platform/UserInterface.h"

#include <iostream>

namespace kv {

namespace {

UserInterface* installed = nullptr;

}  // namespace

UserInterface& Ui() {
  static ConsoleUserInterface console;
  return installed != nullptr ? *installed : console;
}

void SetUi(UserInterface* ui) {
  installed = ui;
}

int ConsoleUserInterface::MessageBox(const std::string& caption, const std::string& text, MessageKind,
                                     unsigned buttons) {
  std::string flat;
  flat.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    flat += text[i];
  }
  std::cerr << "[" << caption << "] " << flat << std::endl;
  if (buttons & mbYes) return answerYes_ ? mrYes : mrNo;
  return (buttons & mbOK) ? mrOk : mrCancel;
}

}  // namespace kv
