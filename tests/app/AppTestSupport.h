// Fixtures of the Qt program's tests: a user interface that records every box and answers from a
// script, packages built in memory, and the whole wizard (window, pages, engine) on a fresh host
// prefix, shown offscreen.
#pragma once

#include <QAction>
#include <QCoreApplication>
#include <QPushButton>
#include <QTest>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/qt/QtRichTextControl.h"
#include "app/qt/QtUserInterface.h"
#include "wizard/UpdaterTable.h"
#include "app/qt/WizardApplication.h"
#include "app/qt/frmDisplayFileUnit.h"
#include "app/qt/frmEndInstallUnit.h"
#include "app/qt/frmMainUnit.h"
#include "app/qt/frmWelcomeUnit.h"
#include "engine/Package.h"
#include "engine/UpdateCommon.h"
#include "formats/Text.h"
#include "platform/UserInterface.h"
#include "products/ProductCatalog.h"
#include "tests/support/TempPrefix.h"
#include "tests/support/WizardPackage.h"

namespace kv::test {

struct Box {
  MessageKind kind;
  std::string caption;
  std::string text;
  unsigned buttons;
};

// Records boxes, beeps and cursor changes; answers questions from a queue (No when it is empty,
// which the test sees as an unexpected question). Window messages are really processed, so the
// wizard keeps working during the program's waits.
class RecordingUi : public UserInterface {
 public:
  RecordingUi() { SetUi(this); }
  ~RecordingUi() override { SetUi(nullptr); }
  RecordingUi(const RecordingUi&) = delete;
  RecordingUi& operator=(const RecordingUi&) = delete;

  void Answer(int result) { answers_.push_back(result); }

  int MessageBox(const std::string& caption, const std::string& text, MessageKind kind,
                 unsigned buttons) override {
    boxes.push_back({kind, caption, text, buttons});
    if (onBox) onBox();
    if ((buttons & (mbYes | mbNo | mbCancel)) == 0) return mrOk;
    if (answers_.empty()) {
      unexpectedQuestions.push_back(text);
      return mrNo;
    }
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  void MessageBeep(std::uint32_t type) override { beeps.push_back(type); }
  void SetBusyCursor(bool busy) override { cursor.push_back(busy); }
  bool BrowseForFolder(const std::string&, std::string&, const std::string&, unsigned) override {
    return false;
  }
  bool OpenFile(FileOpenRequest&) override { return false; }
  void ProcessEvents() override {
    ++processEventsCalls;
    QCoreApplication::processEvents();
  }
  bool TerminationRequested() const override { return terminated; }
  void RequestTermination() override { terminated = true; }
  bool ForceForegroundWindow(WindowHandle) override { return true; }

  // Runs while a box is open, as a modal box runs the event loop.
  std::function<void()> onBox;
  std::vector<Box> boxes;
  std::vector<std::uint32_t> beeps;
  std::vector<bool> cursor;
  std::vector<std::string> unexpectedQuestions;
  int processEventsCalls = 0;
  bool terminated = false;

 private:
  std::deque<int> answers_;
};

// The whole wizard on a fresh prefix with a package in memory.
class Wizard {
 public:
  explicit Wizard(const PackageTexts& texts = {}, UpdaterTable updaters = {})
      : package_(MakeWizardPackage(texts)), updaters_(std::move(updaters)) {
    SetCurrentPackage(package_.get());
  }
  ~Wizard() {
    app_.reset();
    SetCurrentPackage(nullptr);
  }
  Wizard(const Wizard&) = delete;
  Wizard& operator=(const Wizard&) = delete;

  // Creates the forms and the engine in the program's order.
  WizardApplication& Create() {
    app_ = std::make_unique<WizardApplication>(catalog_, std::move(updaters_));
    return *app_;
  }
  // Creates, shows the window and waits for the one-shot timer to show the first page.
  bool Start() {
    Create();
    Window().show();
    return QTest::qWaitFor([this] { return Controller().FirstStepShown; }, 5000);
  }

  WizardApplication& App() { return *app_; }
  TfrmMain& Window() { return *app_->frmMain; }
  TfrmWelcome& Welcome() { return *app_->frmWelcome; }
  TfrmDisplayFile& Notice() { return *app_->frmDisplayFile; }
  TfrmEndInstall& ReportPage() { return *app_->frmEndInstall; }
  QtRichTextControl& Report() { return *app_->frmEndInstall->RichEditReport; }
  TdmUpdateCommon& Engine() { return *app_->dmUpdateCommon; }
  WizardController& Controller() { return *app_->Controller; }
  TFrmStep* Current() { return dynamic_cast<TFrmStep*>(Controller().GetCurrentStep()); }

  QPushButton& Button(const char* name) { return *Window().findChild<QPushButton*>(name); }
  QAction& Action(const char* name) { return *Window().findChild<QAction*>(name); }
  // Presses a button as the user does.
  void Click(const char* name) { QTest::mouseClick(&Button(name), Qt::LeftButton); }

  RecordingUi ui;

 private:
  TempPrefix prefix_;
  std::unique_ptr<MemoryPackage> package_;
  SuiteProductCatalog catalog_;
  UpdaterTable updaters_;
  std::unique_ptr<WizardApplication> app_;
};

inline QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// The report's lines.
inline QStringList Lines(const RichTextControl& control) {
  return Q(control.PlainText()).split('\n');
}

}  // namespace kv::test
