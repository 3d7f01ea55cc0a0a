// The notice page: the package's list of changes, printable.
#pragma once

#include "app/qt/frmBaseStepUnit.h"

class QLabel;
class QToolButton;

namespace kv {

class QtRichTextControl;
class TfrmEndInstall;

class TfrmDisplayFile : public TFrmStep {
  Q_OBJECT

 public:
  // The report page lends its printer set-up dialog; it is created before this page.
  explicit TfrmDisplayFile(TfrmEndInstall& reportPage, QWidget* parent = nullptr);

  std::string GetNextCaption() override { return kStartCaption; }

  void FormCreate();
  void SpeedButtonPrintClick();

  QLabel* PanelButtons;
  QToolButton* SpeedButtonPrint;
  QtRichTextControl* RichEditFile;

 private:
  TfrmEndInstall& reportPage_;
};

}  // namespace kv
