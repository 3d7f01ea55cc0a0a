#include "platform/UserInterface.h"

#include <cstdio>

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
  // stdio rather than iostreams: a Windows program would carry the streams' locale machinery
  // (several hundred KB) for this line alone.
  const std::string line = "[" + caption + "] " + flat + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  if (buttons & mbYes) return answerYes_ ? mrYes : mrNo;
  return (buttons & mbOK) ? mrOk : mrCancel;
}

}  // namespace kv
