#include "app/qt/frmDisplayFileUnit.h"

#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/qt/QtRichTextControl.h"
#include "app/qt/frmEndInstallUnit.h"

namespace kv {

TfrmDisplayFile::TfrmDisplayFile(TfrmEndInstall& reportPage, QWidget* parent)
    : TFrmStep(parent), reportPage_(reportPage) {
  setObjectName(QStringLiteral("frmDisplayFile"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  const PrintBar bar = MakePrintBar(this, 13);
  PanelButtons = bar.panel;
  SpeedButtonPrint = bar.button;
  layout->addWidget(PanelButtons);
  connect(SpeedButtonPrint, &QToolButton::clicked, this, &TfrmDisplayFile::SpeedButtonPrintClick);

  RichEditFile = new QtRichTextControl(this);
  RichEditFile->setObjectName(QStringLiteral("RichEditFile"));
  RichEditFile->setReadOnly(true);
  RichEditFile->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  RichEditFile->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  QFont noticeFont(QStringLiteral("MS Sans Serif"));
  noticeFont.setPixelSize(11);
  RichEditFile->setFont(noticeFont);
  layout->addWidget(RichEditFile, 1);
  FormCreate();
}

void TfrmDisplayFile::FormCreate() {
  TFrmStep::FormCreate();
  PanelButtons->setFixedHeight(32);
  SpeedButtonPrint->setGeometry(4, 4, 24, 24);
  PanelButtons->setText(QStringLiteral("La liste des modifications"));
}

void TfrmDisplayFile::SpeedButtonPrintClick() {
  TPrinterSetupDialog& dialog = *reportPage_.PrinterSetupDialog;
  if (!dialog.Execute()) return;
  RichEditFile->Print(dialog.Printer(), PanelButtons->text());
}

}  // namespace kv
