#include "app/qt/frmEndInstallUnit.h"

#include <QFrame>
#include <QLabel>
#include <QPrinter>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/qt/QtRichTextControl.h"
#include "app/qt/QtUserInterface.h"

namespace kv {

TPrinterSetupDialog::TPrinterSetupDialog(QWidget* owner) : QObject(owner), owner_(owner) {
  setObjectName(QStringLiteral("PrinterSetupDialog"));
}

TPrinterSetupDialog::~TPrinterSetupDialog() = default;

QPrinter& TPrinterSetupDialog::Printer() {
  // Made on first use: looking for printers takes time that a run without printing need not spend.
  if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  return *printer_;
}

bool TPrinterSetupDialog::Execute() {
  if (answer_) return answer_(Printer());
  return QtUserInterface::ShowPrinterSetup(Printer(), owner_);
}

TfrmEndInstall::TfrmEndInstall(QWidget* parent) : TFrmStep(parent) {
  setObjectName(QStringLiteral("frmEndInstall"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  const PrintBar bar = MakePrintBar(this, ScaleFromDesign(17, kDesignDpi));
  PanelButtons = bar.panel;
  SpeedButtonPrint = bar.button;
  layout->addWidget(PanelButtons);
  connect(SpeedButtonPrint, &QToolButton::clicked, this, &TfrmEndInstall::SpeedButtonPrintClick);

  PanelMain = new QFrame(this);
  PanelMain->setObjectName(QStringLiteral("PanelMain"));
  auto* mainLayout = new QVBoxLayout(PanelMain);
  mainLayout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(PanelMain, 1);

  RichEditReport = new QtRichTextControl(PanelMain);
  RichEditReport->setObjectName(QStringLiteral("RichEditReport"));
  RichEditReport->setReadOnly(true);
  RichEditReport->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont reportFont(QStringLiteral("MS Sans Serif"));
  reportFont.setPixelSize(ScaleFromDesign(13, kDesignDpi));
  RichEditReport->setFont(reportFont);
  mainLayout->addWidget(RichEditReport);
  // The page's active control.
  setFocusProxy(RichEditReport);

  PrinterSetupDialog = new TPrinterSetupDialog(this);
  FormCreate();
}

void TfrmEndInstall::FormCreate() {
  TFrmStep::FormCreate();
  PanelButtons->setFixedHeight(32);
  SpeedButtonPrint->setGeometry(4, 4, 24, 24);
}

void TfrmEndInstall::Init() {
  TFrmStep::Init();
  PanelButtons->setText(QStringLiteral("Rapport d'installation"));
}

void TfrmEndInstall::SpeedButtonPrintClick() {
  if (!PrinterSetupDialog->Execute()) return;
  RichEditReport->Print(PrinterSetupDialog->Printer(), kPrintTitle);
}

}  // namespace kv
