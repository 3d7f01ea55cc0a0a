// The report page: the installation report as it is written during the run, printable, and the
// printer set-up dialog that both pages' print buttons use.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "app/qt/frmBaseStepUnit.h"

class QFrame;
class QLabel;
class QPrinter;
class QToolButton;

namespace kv {

class QtRichTextControl;

// The printer set-up dialog as a component: Execute shows the system's dialog on the page's
// printer, unless an answer is installed (tests confirm or cancel it without a dialog).
class TPrinterSetupDialog : public QObject {
  Q_OBJECT

 public:
  // Answers the dialog for `printer`: true to confirm it, with the printer set up.
  using Answer = std::function<bool(QPrinter& printer)>;

  explicit TPrinterSetupDialog(QWidget* owner);
  ~TPrinterSetupDialog() override;

  // True when the set-up was confirmed.
  bool Execute();
  QPrinter& Printer();
  // An empty answer brings the system's dialog back.
  void SetAnswer(Answer answer) { answer_ = std::move(answer); }

 private:
  QWidget* owner_;
  std::unique_ptr<QPrinter> printer_;
  Answer answer_;
};

class TfrmEndInstall : public TFrmStep {
  Q_OBJECT

 public:
  // The document title the print queue shows.
  static inline const QString kPrintTitle = QStringLiteral("Update report");

  explicit TfrmEndInstall(QWidget* parent = nullptr);

  std::string GetNextCaption() override { return kQuitCaption; }
  void Init() override;

  void FormCreate();
  void SpeedButtonPrintClick();

  QLabel* PanelButtons;
  QToolButton* SpeedButtonPrint;
  QFrame* PanelMain;
  QtRichTextControl* RichEditReport;
  TPrinterSetupDialog* PrinterSetupDialog;
};

}  // namespace kv
