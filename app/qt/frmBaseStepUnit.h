// The base of the wizard's pages: a borderless form whose overridable operations tell the wizard
// whether Next is allowed, what Next is called, which picture the left column shows, and what to
// do when the page is entered or left. It also carries the design scaling and the pictures the
// pages share.
#pragma once

#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <string>

#include "wizard/WizardStep.h"

class QLabel;
class QToolButton;

namespace kv {

// The screen resolution the program lays itself out for; forms designed for another resolution
// are scaled to it when they are created.
inline constexpr int kScreenDpi = 96;
// A design length of a form laid out at designDpi, on the screen (rounded as MulDiv rounds).
int ScaleFromDesign(int value, int designDpi);

// The picture of the left column: 150 x 245, 24-bit colour, on a plain background whose colour
// the column continues.
QPixmap CompanyPicture();
// The printer glyph of the pages' print buttons.
QIcon PrinterGlyph();

// The heading along the top of a printable page (a panel shows its caption centred) and its flat
// print button, under their designed names.
struct PrintBar {
  QLabel* panel;
  QToolButton* button;
};
PrintBar MakePrintBar(QWidget* page, int headingPixels);

class TFrmStep : public QWidget, public WizardStep {
  Q_OBJECT

 public:
  // Design values, at 120 pixels per inch.
  static constexpr int kDesignDpi = 120;
  static constexpr int kDesignClientWidth = 610;
  static constexpr int kDesignClientHeight = 360;
  static constexpr int kDesignFontPixels = 17;

  explicit TFrmStep(QWidget* parent = nullptr);
  ~TFrmStep() override;

  // The component name.
  std::string StepName() const override;
  // The picture of the wizard's left column; a null pixmap for none.
  virtual QPixmap GetBitmap();

  QLabel* ImageCompany;

 protected:
  void FormCreate();
  // A page placed inside another widget takes that widget's font, as the pages are designed to.
  void changeEvent(QEvent* event) override;

 private:
  QFont designFont_;
};

}  // namespace kv
