// A user interface for tests: records every box and beep, answers questions from a queue, and
// fails the test when a question comes that the script did not expect.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/UserInterface.h"

namespace kv::test {

struct RecordedBox {
  MessageKind kind;
  std::string caption;
  std::string text;
  unsigned buttons;
};

class ScriptedUi : public UserInterface {
 public:
  // Installs itself as the interface in effect; the previous one comes back on destruction.
  ScriptedUi();
  ~ScriptedUi() override;

  // The next question is answered with this result (mrYes, mrNo, mrNone for a closed box).
  void Answer(int result) { answers_.push_back(result); }
  void AnswerFolder(bool chosen, const std::string& folder = {});
  void AnswerFile(bool chosen, const std::string& file = {});

  const std::vector<RecordedBox>& Boxes() const { return boxes_; }
  const std::vector<std::uint32_t>& Beeps() const { return beeps_; }
  const std::vector<bool>& CursorChanges() const { return cursor_; }
  int ProcessEventsCalls() const { return processEvents_; }
  const std::vector<std::string>& BrowseTitles() const { return browseTitles_; }
  bool AllAnswersUsed() const { return answers_.empty() && folders_.empty() && files_.empty(); }

  int MessageBox(const std::string& caption, const std::string& text, MessageKind kind,
                 unsigned buttons) override;
  void MessageBeep(std::uint32_t type) override { beeps_.push_back(type); }
  void SetBusyCursor(bool busy) override { cursor_.push_back(busy); }
  bool BrowseForFolder(const std::string& title, std::string& folder, const std::string& root,
                       unsigned flags) override;
  bool OpenFile(FileOpenRequest& request) override;
  void ProcessEvents() override { ++processEvents_; }
  bool TerminationRequested() const override { return terminated_; }
  void RequestTermination() override { terminated_ = true; }
  bool ForceForegroundWindow(WindowHandle) override { return true; }

 private:
  std::deque<int> answers_;
  std::deque<std::pair<bool, std::string>> folders_;
  std::deque<std::pair<bool, std::string>> files_;
  std::vector<RecordedBox> boxes_;
  std::vector<std::uint32_t> beeps_;
  std::vector<bool> cursor_;
  std::vector<std::string> browseTitles_;
  int processEvents_ = 0;
  bool terminated_ = false;
  UserInterface* previous_;
};

}  // namespace kv::test
