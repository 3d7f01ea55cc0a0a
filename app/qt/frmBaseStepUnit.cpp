#include "app/qt/frmBaseStepUnit.h"

#include <QEvent>
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <algorithm>
#include <cmath>

namespace kv {

namespace {

// The picture's background; the left column takes it from the bottom-left pixel.
const QColor kPictureBackground(31, 78, 121);

void DrawCompanyPicture(QImage& image) {
  image.fill(kPictureBackground);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor light(235, 242, 250);
  const QColor accent(242, 169, 0);

  // The mark: a ring of two arrows around a K, the sign of an update.
  const QRectF ring(25, 38, 100, 100);
  QPen arc(light, 7, Qt::SolidLine, Qt::FlatCap);
  painter.setPen(arc);
  painter.drawArc(ring, 100 * 16, 150 * 16);
  arc.setColor(accent);
  painter.setPen(arc);
  painter.drawArc(ring, 280 * 16, 150 * 16);
  painter.setPen(Qt::NoPen);
  auto arrowHead = [&](double degrees, const QColor& colour) {
    const double a = degrees * M_PI / 180.0;
    const QPointF centre = ring.center();
    const double r = ring.width() / 2;
    const QPointF tip = centre + QPointF(r * std::cos(a), -r * std::sin(a));
    // Tangent pointing the way the arc runs (clockwise on screen).
    const QPointF along(std::sin(a), std::cos(a));
    const QPointF across(std::cos(a), -std::sin(a));
    QPainterPath head;
    head.moveTo(tip + along * 12);
    head.lineTo(tip - across * 10);
    head.lineTo(tip + across * 10);
    head.closeSubpath();
    painter.setBrush(colour);
    painter.drawPath(head);
  };
  arrowHead(100, light);
  arrowHead(280, accent);

  QFont mark("DejaVu Sans");
  mark.setPixelSize(56);
  mark.setBold(true);
  painter.setFont(mark);
  painter.setPen(light);
  painter.drawText(ring, Qt::AlignCenter, QStringLiteral("K"));

  QFont name("DejaVu Sans");
  name.setPixelSize(17);
  name.setBold(true);
  name.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
  painter.setFont(name);
  painter.drawText(QRectF(0, 160, 150, 24), Qt::AlignCenter, QStringLiteral("KORVANE"));
  painter.setPen(QPen(accent, 2));
  painter.drawLine(QPointF(40, 190), QPointF(110, 190));
  QFont line("DejaVu Sans");
  line.setPixelSize(11);
  painter.setFont(line);
  painter.setPen(light);
  painter.drawText(QRectF(0, 196, 150, 18), Qt::AlignCenter, QStringLiteral("Mise à jour"));
}

}  // namespace

int ScaleFromDesign(int value, int designDpi) {
  // MulDiv: the exact quotient rounded half away from zero.
  const long long product = static_cast<long long>(value) * kScreenDpi;
  const long long half = designDpi / 2;
  return static_cast<int>(product >= 0 ? (product + half) / designDpi : -((-product + half) / designDpi));
}

QPixmap CompanyPicture() {
  QImage image(150, 245, QImage::Format_RGB888);
  DrawCompanyPicture(image);
  return QPixmap::fromImage(image);
}

QIcon PrinterGlyph() {
  QPixmap glyph(16, 16);
  glyph.fill(Qt::transparent);
  QPainter painter(&glyph);
  painter.setPen(QColor(64, 64, 64));
  painter.setBrush(Qt::white);
  painter.drawRect(4, 1, 7, 5);  // paper in
  painter.setBrush(QColor(160, 160, 160));
  painter.drawRect(1, 6, 13, 6);  // body
  painter.setBrush(Qt::white);
  painter.drawRect(4, 10, 7, 5);  // paper out
  painter.setPen(QColor(0, 160, 0));
  painter.drawPoint(12, 8);
  return QIcon(glyph);
}

PrintBar MakePrintBar(QWidget* page, int headingPixels) {
  auto* panel = new QLabel(page);
  panel->setObjectName(QStringLiteral("PanelButtons"));
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setAlignment(Qt::AlignCenter);
  QFont headingFont(QStringLiteral("MS Sans Serif"));
  headingFont.setPixelSize(headingPixels);
  panel->setFont(headingFont);
  auto* button = new QToolButton(panel);
  button->setObjectName(QStringLiteral("SpeedButtonPrint"));
  button->setAutoRaise(true);
  button->setIcon(PrinterGlyph());
  button->setToolTip(QStringLiteral("Imprimer"));
  return {panel, button};
}

TFrmStep::TFrmStep(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("FrmStep"));
  setWindowTitle(QStringLiteral("Step"));
  resize(ScaleFromDesign(kDesignClientWidth, kDesignDpi), ScaleFromDesign(kDesignClientHeight, kDesignDpi));
  // The page's own font; a page placed in the wizard takes the wizard's page font instead.
  designFont_ = QFont(QStringLiteral("MS Sans Serif"));
  designFont_.setPixelSize(ScaleFromDesign(kDesignFontPixels, kDesignDpi));
  setFont(designFont_);

  // Carries the picture of the left column; the page never shows it itself.
  ImageCompany = new QLabel(this);
  ImageCompany->setObjectName(QStringLiteral("ImageCompany"));
  ImageCompany->setGeometry(ScaleFromDesign(12, kDesignDpi), ScaleFromDesign(20, kDesignDpi),
                            ScaleFromDesign(153, kDesignDpi), ScaleFromDesign(225, kDesignDpi));
  ImageCompany->setPixmap(CompanyPicture());
  ImageCompany->setVisible(false);
}

TFrmStep::~TFrmStep() = default;

// The pages' create handlers call it first; the base page has nothing to set up.
void TFrmStep::FormCreate() {}

void TFrmStep::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ParentChange) {
    // An empty font sets nothing, so every attribute comes from the parent.
    setFont(parentWidget() != nullptr ? QFont() : designFont_);
  }
  QWidget::changeEvent(event);
}

std::string TFrmStep::StepName() const {
  return objectName().toStdString();
}

QPixmap TFrmStep::GetBitmap() {
  return ImageCompany->pixmap();
}

}  // namespace kv
