#include "tests/support/ScriptedUi.h"

#include <gtest/gtest.h>

namespace kv::test {

ScriptedUi::ScriptedUi() : previous_(&Ui()) {
  SetUi(this);
}

ScriptedUi::~ScriptedUi() {
  SetUi(previous_);
  EXPECT_TRUE(AllAnswersUsed()) << "the script holds answers that no dialog asked for";
}

void ScriptedUi::AnswerFolder(bool chosen, const std::string& folder) {
  folders_.emplace_back(chosen, folder);
}

void ScriptedUi::AnswerFile(bool chosen, const std::string& file) {
  files_.emplace_back(chosen, file);
}

int ScriptedUi::MessageBox(const std::string& caption, const std::string& text, MessageKind kind,
                           unsigned buttons) {
  boxes_.push_back({kind, caption, text, buttons});
  const bool question = (buttons & (mbYes | mbNo | mbCancel)) != 0;
  if (!question) return mrOk;
  if (answers_.empty()) {
    ADD_FAILURE() << "unexpected question [" << caption << "] " << text;
    return mrNo;
  }
  const int answer = answers_.front();
  answers_.pop_front();
  return answer;
}

bool ScriptedUi::BrowseForFolder(const std::string& title, std::string& folder, const std::string&,
                                 unsigned) {
  browseTitles_.push_back(title);
  if (folders_.empty()) {
    ADD_FAILURE() << "unexpected folder dialog " << title;
    return false;
  }
  const auto [chosen, answer] = folders_.front();
  folders_.pop_front();
  if (chosen) folder = answer;
  return chosen;
}

bool ScriptedUi::OpenFile(FileOpenRequest& request) {
  if (files_.empty()) {
    ADD_FAILURE() << "unexpected file dialog " << request.title;
    return false;
  }
  const auto [chosen, answer] = files_.front();
  files_.pop_front();
  if (chosen) request.fileName = answer;
  return chosen;
}

}  // namespace kv::test
