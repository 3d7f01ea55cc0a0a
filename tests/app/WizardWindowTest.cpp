// The wizard window driven as a user drives it, offscreen: one click-through of the whole wizard,
// the close box, the layout and texts as designed, the Enter and Escape keys, the welcome page's
// blinking warning and resize rule, the notice page, printing, and a screenshot of each page. The
// dialogue's rules (pages, buttons, cancel, run, exit code) are the controller's, tested in
// tests/wizard without a window.
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>

#include "wizard/InstanceGuard.h"
#include "app/qt/ScrollingLabel.h"
#include "wizard/UnattendedRunner.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "tests/app/AppTestSupport.h"

namespace kv::test {

namespace {

// A page a package may add through "Steps.txt".
class ExtraPage : public TFrmStep {
 public:
  ExtraPage() { setObjectName(QStringLiteral("frmExtra")); }
  std::string GetNextCaption() override { return "Continuer"; }
};

// Runs a program and answers its standard output; fails the test when it cannot run.
QString Run(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  if (!process.waitForFinished(30000) || process.exitCode() != 0) {
    qWarning().noquote() << program << "failed:" << process.readAllStandardError();
    return {};
  }
  return QString::fromUtf8(process.readAllStandardOutput());
}

QString PdfTitle(const QString& pdf) {
  const QString info = Run(QStringLiteral("pdfinfo"), {pdf});
  const QRegularExpressionMatch match =
      QRegularExpression(QStringLiteral("^Title:\\s*(.*)$"), QRegularExpression::MultilineOption).match(info);
  return match.hasMatch() ? match.captured(1).trimmed() : QString();
}

QRect GeometryIn(const QWidget* widget, const QWidget* ancestor) {
  return QRect(widget->mapTo(ancestor, QPoint(0, 0)), widget->size());
}

// The demo package's description, as the wizard reads it from "AppInfo2.txt".
std::string DemoDescription() {
  QFile file(QStringLiteral(KV_SOURCE_DIR "/demo/package/AppInfo2.txt"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return text::Cp1252ToUtf8(file.readAll().toStdString());
}

// A description that needs about twice the room the welcome page has.
const char* const kLongDescription =
    "Cette mise à jour remplace les bibliothèques PDF partagées par tous les produits de la suite, "
    "les dictionnaires orthographiques (anglais, français, allemand, italien) et les fichiers de "
    "langue de la visionneuse PDF.\r\n"
    "Les fichiers sont copiés dans le dossier Common\\Programs de votre installation ; les versions "
    "précédentes sont remplacées, même en lecture seule.\r\n"
    "Aucun redémarrage n'est nécessaire. Dernière ligne de la description.\r\n";

// The label's wrapped lines joined: its text without the line breaks.
QString JoinedLines(const ScrollingLabel& label) {
  QString joined;
  for (int i = 0; i < label.LineCount(); ++i) joined += label.LineText(i);
  return joined;
}

// Whether a band of rows of an image holds anything but the background colour.
bool HasInk(const QImage& image, int top, int bottom, int width) {
  const QRgb background = image.pixel(width - 1, image.height() - 1);
  for (int y = top; y < bottom; ++y) {
    for (int x = 0; x < width; ++x) {
      if (image.pixel(x, y) != background) return true;
    }
  }
  return false;
}

// Whether a rectangle of an image holds anything but the background colour.
bool HasInkIn(const QImage& image, const QRect& area) {
  const QRgb background = image.pixel(image.width() - 1, image.height() - 1);
  const QRect inside = area.intersected(image.rect());
  for (int y = inside.top(); y <= inside.bottom(); ++y) {
    for (int x = inside.left(); x <= inside.right(); ++x) {
      if (image.pixel(x, y) != background) return true;
    }
  }
  return false;
}

// Scrolls through the whole text, looking at the pixels: every line shown lies whole above the
// last whole line's bottom, nothing is drawn below it, and each line is shown at some position.
// Answers the number of lines seen.
int LinesSeenWhole(ScrollingLabel& label) {
  QScrollBar* bar = label.verticalScrollBar();
  const int height = label.LineHeight();
  const int shown = label.ShownLines();
  const int width = label.viewport()->width();
  QSet<int> seen;
  for (int value = bar->minimum(); value <= bar->maximum(); ++value) {
    bar->setValue(value);
    const QImage image = label.grab().toImage();
    if (HasInk(image, shown * height, label.viewport()->height(), width)) {
      qWarning() << "a line is cut below line" << shown << "at the scroll value" << value;
      return -1;
    }
    for (int i = 0; i < shown && label.FirstShownLine() + i < label.LineCount(); ++i) {
      const int line = label.FirstShownLine() + i;
      const bool blank = label.LineText(line).trimmed().isEmpty();
      if (HasInk(image, i * height, (i + 1) * height, width) == blank) {
        qWarning() << "line" << line << "is not drawn in its place at the scroll value" << value;
        return -1;
      }
      seen.insert(line);
    }
  }
  bar->setValue(bar->minimum());
  return static_cast<int>(seen.size());
}

}  // namespace

class WizardWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty(),
             "pdfinfo (poppler-utils) is needed: scripts/install-deps installs it");
  }

  // The whole wizard clicked through as a user does, on a package with an extra page: before the
  // first page, forward, back, Cancel answered "Non", the run, the report and "Quitter"; then
  // Cancel answered "Oui" on a second window. The rules themselves are the controller's
  // (tests/wizard); this shows that the window shows and forwards them.
  void clickThroughTheWholeWizard() {
    PackageTexts texts;
    texts.steps = "FRMEXTRA";
    Wizard wizard(texts);
    ExtraPage extra;
    wizard.Create();
    QCOMPARE(wizard.Current(), nullptr);
    QCOMPARE(wizard.Button("ButtonNext").text(), QString());
    QVERIFY(!wizard.Action("ActionNext").isEnabled());
    QVERIFY(!wizard.Action("ActionBack").isEnabled());
    QVERIFY(wizard.Action("ActionAnnuler").isEnabled());
    QCOMPARE(wizard.Button("ButtonPrev").text(), QStringLiteral("< Précédant"));
    QCOMPARE(wizard.Button("ButtonCancel").text(), QStringLiteral("Annuler"));
    QVERIFY(wizard.Window().TimerOneTime->isActive());
    QCOMPARE(wizard.Window().TimerOneTime->interval(), 10);
    wizard.Window().show();
    QVERIFY(QTest::qWaitFor([&] { return wizard.Controller().FirstStepShown; }, 5000));

    // One page shown at a time, inside the page area; Back disabled on the first page.
    auto shows = [&](TFrmStep* page, const QString& nextCaption, bool back) {
      if (wizard.Current() != page || !page->isVisible() || page->parentWidget() != wizard.Window().PanelCurrStep)
        return false;
      for (TFrmStep* other : std::initializer_list<TFrmStep*>{&wizard.Welcome(), &wizard.Notice(), &extra,
                                                              &wizard.ReportPage()}) {
        if (other != page && other->isVisible()) return false;
      }
      return wizard.Button("ButtonNext").text() == nextCaption && wizard.Button("ButtonPrev").isEnabled() == back &&
             wizard.Action("ActionBack").isEnabled() == back;
    };
    QVERIFY(shows(&wizard.Welcome(), QStringLiteral("Suivant >"), false));
    wizard.Click("ButtonNext");
    QVERIFY(shows(&wizard.Notice(), QStringLiteral("Démarrer"), true));
    wizard.Click("ButtonPrev");
    QVERIFY(shows(&wizard.Welcome(), QStringLiteral("Suivant >"), false));
    wizard.Click("ButtonNext");
    wizard.Click("ButtonNext");
    QVERIFY(shows(&extra, QStringLiteral("Continuer"), true));

    wizard.ui.Answer(mrNo);
    wizard.Click("ButtonCancel");
    QCOMPARE(wizard.ui.boxes.size(), std::size_t{1});
    QCOMPARE(Q(wizard.ui.boxes.front().text), QStringLiteral("Voulez-vous annuler cette mise à jour"));
    QVERIFY(wizard.Window().isVisible());
    QVERIFY(shows(&extra, QStringLiteral("Continuer"), true));

    wizard.Click("ButtonNext");  // the report page: the run
    QVERIFY(wizard.Controller().UpdateStarted);
    QVERIFY(shows(&wizard.ReportPage(), QStringLiteral("Quitter"), false));
    QVERIFY(!wizard.Button("ButtonCancel").isEnabled());
    QCOMPARE(Lines(wizard.Report()).size(), 2);
    QVERIFY(Lines(wizard.Report()).front().startsWith("Mise à jour : Fichiers communs  "));
    wizard.Click("ButtonNext");  // "Quitter"
    QVERIFY(!wizard.Window().isVisible());
    QCOMPARE(wizard.Controller().ExitCode(), 4);  // the program carries no updater for the test's table
    QCOMPARE(BusyCursorDepth(), 0);
    QCOMPARE(wizard.ui.cursor.back(), false);

    Wizard cancelled;
    QVERIFY(cancelled.Start());
    cancelled.ui.Answer(mrYes);
    cancelled.Click("ButtonCancel");
    QCOMPARE(cancelled.ui.boxes.size(), std::size_t{1});
    QVERIFY(!cancelled.Window().isVisible());
    QCOMPARE(cancelled.Controller().ExitCode(), 2);
  }

  void closeBoxAsksNothing() {
    Wizard wizard;
    QVERIFY(wizard.Start());
    QVERIFY(wizard.Window().close());
    QVERIFY(!wizard.Window().isVisible());
    QVERIFY(wizard.ui.boxes.empty());
    QVERIFY(!wizard.Welcome().TimerBlink->isActive());
  }

  void windowLaidOutAsDesigned() {
    Wizard wizard;
    QVERIFY(wizard.Start());
    TfrmMain& window = wizard.Window();
    QCOMPARE(window.size(), QSize(579, 383));
    QCOMPARE(window.windowTitle(), QStringLiteral("Mise à jour Korvane"));
    QVERIFY(window.minimumWidth() <= 500 && window.minimumHeight() <= 383);
    QCOMPARE(window.font().pixelSize(), 10);

    auto* title = window.findChild<QLabel*>("RzLabelTitle");
    QCOMPARE(title->text(), QStringLiteral("Fichiers communs"));
    QCOMPARE(GeometryIn(title, &window), QRect(154, 0, 425, 37));
    QCOMPARE(title->palette().color(QPalette::Window), QColor(128, 128, 128));
    QCOMPARE(title->palette().color(QPalette::WindowText), QColor(Qt::white));
    QVERIFY(title->font().bold());
    QCOMPARE(title->font().pixelSize(), 15);
    QCOMPARE(title->font().family(), QStringLiteral("Arial"));
    QCOMPARE(title->alignment(), Qt::AlignCenter);

    // The button bar as the layout rule leaves it: 45 high, buttons right-aligned 10 apart.
    auto* bar = window.findChild<QFrame*>("PanelButtons");
    QCOMPARE(GeometryIn(bar, &window), QRect(0, 338, 579, 45));
    const QRect prev = wizard.Button("ButtonPrev").geometry();
    const QRect next = wizard.Button("ButtonNext").geometry();
    const QRect cancel = wizard.Button("ButtonCancel").geometry();
    QCOMPARE(cancel, QRect(579 - 10 - 61, 10, 61, 25));
    QCOMPARE(next.right() + 1 + 10, cancel.left());
    QCOMPARE(prev.right() + 1 + 10, next.left());
    QCOMPARE(prev.size(), QSize(73, 25));
    auto* version = window.findChild<QLabel*>("RzLabelVersion");
    QCOMPARE(version->pos(), QPoint(10, 10));
    const std::string fileVersion = ReadFileVersionInfo("").FileVersion;
    QVERIFY(!fileVersion.empty());
    QCOMPARE(version->text(), "Version : " + Q(fileVersion));

    // The left column continues the picture's background; the picture is centred in it.
    auto* column = window.findChild<QFrame*>("PanelImage");
    auto* image = window.findChild<QLabel*>("ImageStep");
    QCOMPARE(GeometryIn(column, &window), QRect(0, 0, 154, 338));
    QCOMPARE(image->size(), QSize(150, 245));
    QCOMPARE(image->pos(), QPoint((154 - 150) / 2, (338 - 245) / 2));
    const QImage picture = image->pixmap().toImage();
    QCOMPARE(picture.size(), QSize(150, 245));
    QCOMPARE(column->palette().color(QPalette::Window), picture.pixelColor(0, 244));

    // The page fills the page area below the title band, in the page area's font.
    auto* area = window.findChild<QFrame*>("PanelCurrStep");
    QCOMPARE(GeometryIn(area, &window), QRect(154, 37, 425, 301));
    QCOMPARE(wizard.Welcome().geometry(), QRect(0, 0, 425, 301));
    QCOMPARE(wizard.Welcome().LabelInfo->font().pixelSize(), 15);
    QCOMPARE(wizard.Welcome().palette().color(QPalette::Window),
             wizard.Welcome().palette().color(QPalette::Base));
  }

  void welcomeTexts() {
    PackageTexts texts;
    texts.description = "Première ligne\r\nSeconde ligne";
    Wizard wizard(texts);
    QVERIFY(wizard.Start());
    TfrmWelcome& welcome = wizard.Welcome();
    QCOMPARE(welcome.LabelWarning->text(),
             QStringLiteral("Veuillez fermer les applications Korvane sur tous les postes de travail avant "
                            "d'installer cette mise à jour !"));
    QCOMPARE(
        welcome.LabelInfo->text(),
        QStringLiteral("Cet assistant va mettre à jour Fichiers communs.\r\n\r\nAucune donnée existante ne "
                       "sera supprimée.\r\n\r\nPremière ligne\r\nSeconde ligne\r\n"));
    QVERIFY(welcome.LabelWarning->font().bold());
    QCOMPARE(welcome.LabelWarning->font().pixelSize(), 15);
    QVERIFY(welcome.LabelWarning->wordWrap());

    // An empty title names the product "?"; a description without final line break stays as it is.
    welcome.SetTexts("", "Sans fin de ligne");
    QCOMPARE(welcome.LabelInfo->text(),
             QStringLiteral("Cet assistant va mettre à jour ?.\r\n\r\nAucune donnée existante ne sera "
                            "supprimée.\r\n\r\nSans fin de ligne"));
  }

  void missingTitleShowsQuestionMark() {
    PackageTexts texts;
    texts.title.clear();
    texts.description.clear();
    Wizard wizard(texts);
    QVERIFY(wizard.Start());
    QCOMPARE(wizard.Window().RzLabelTitle->text(), QString());
    QVERIFY(wizard.Welcome().LabelInfo->text().startsWith("Cet assistant va mettre à jour ?.\r\n"));
    QVERIFY(wizard.Welcome().LabelInfo->text().endsWith("supprimée.\r\n\r\n"));
  }

  // Leaving the page while the warning is red and coming back: maroon again, then blinking.
  void warningBlinks() {
    Wizard wizard;
    QVERIFY(wizard.Start());
    TfrmWelcome& welcome = wizard.Welcome();
    QVERIFY(welcome.TimerBlink->isActive());
    QCOMPARE(welcome.TimerBlink->interval(), 500);
    QCOMPARE(welcome.WarningColour(), QColor(0x80, 0, 0));
    QTRY_COMPARE_WITH_TIMEOUT(welcome.WarningColour(), QColor(0xFF, 0, 0), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(welcome.WarningColour(), QColor(0x80, 0, 0), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(welcome.WarningColour(), QColor(0xFF, 0, 0), 2000);

    wizard.Click("ButtonNext");
    QVERIFY(!welcome.TimerBlink->isActive());
    QCOMPARE(welcome.WarningColour(), QColor(0xFF, 0, 0));
    wizard.Click("ButtonPrev");
    QCOMPARE(welcome.WarningColour(), QColor(0x80, 0, 0));
    QVERIFY(welcome.TimerBlink->isActive());
    QTRY_COMPARE_WITH_TIMEOUT(welcome.WarningColour(), QColor(0xFF, 0, 0), 2000);
  }

  void welcomeResize_data() {
    QTest::addColumn<int>("height");
    QTest::addColumn<QRect>("warning");
    QTest::addColumn<QRect>("info");
    QTest::newRow("282") << 282 << QRect(20, 70, 385, 62) << QRect(20, 152, 385, 102);
    QTest::newRow("the window's page area") << 301 << QRect(20, 75, 385, 71) << QRect(20, 166, 385, 111);
  }

  void welcomeResize() {
    QFETCH(int, height);
    QFETCH(QRect, warning);
    QFETCH(QRect, info);
    Wizard wizard;
    QVERIFY(wizard.Start());
    TfrmWelcome& welcome = wizard.Welcome();
    welcome.resize(425, height);
    QCOMPARE(welcome.LabelWarning->geometry(), warning);
    QCOMPARE(welcome.LabelInfo->geometry(), info);
  }

  // At every window size from the minimum up the warning is whole: its rectangle holds every line
  // it wraps into, and the description starts 20 pixels below it and ends where it was designed to.
  void warningIsWholeAtEverySize_data() {
    QTest::addColumn<QSize>("window");
    QTest::addColumn<int>("warningLines");
    QTest::newRow("minimum") << QSize(494, 371) << 4;
    QTest::newRow("design") << QSize(579, 383) << 3;
  }

  void warningIsWholeAtEverySize() {
    QFETCH(QSize, window);
    QFETCH(int, warningLines);
    Wizard wizard;
    QVERIFY(wizard.Start());
    QCOMPARE(wizard.Window().minimumSize(), QSize(494, 371));
    wizard.Window().resize(window);
    QCOMPARE(wizard.Window().size(), window);
    const TfrmWelcome& welcome = wizard.Welcome();
    const QLabel& warning = *welcome.LabelWarning;
    const int h = welcome.height();
    const int q = h / 4;
    const QRect needed = warning.fontMetrics().boundingRect(QRect(0, 0, warning.contentsRect().width(), 10000),
                                                            Qt::TextWordWrap, warning.text());
    QCOMPARE(needed.height() / warning.fontMetrics().lineSpacing(), warningLines);
    QCOMPARE(warning.geometry().top(), q);
    QVERIFY2(warning.contentsRect().height() >= needed.height(),
             qPrintable(QStringLiteral("%1 < %2").arg(warning.contentsRect().height()).arg(needed.height())));
    const QRect info = welcome.LabelInfo->geometry();
    QCOMPARE(info.top(), std::max(h - q - 60, warning.geometry().bottom() + 1 + 20));
    QCOMPARE(info.bottom() + 1, 2 * h - 3 * q - 100);
    // The last line of the warning is drawn whole: ink in its band, none below the label.
    const QImage page = wizard.Window().PanelCurrStep->grab().toImage();
    const QRect lastLine(warning.x(), warning.y() + needed.height() - warning.fontMetrics().lineSpacing(),
                         warning.width(), warning.fontMetrics().lineSpacing());
    QVERIFY(HasInkIn(page, lastLine));
    QVERIFY(!HasInkIn(page, QRect(warning.x(), warning.geometry().bottom() + 1, warning.width(),
                                  info.top() - warning.geometry().bottom() - 1)));
  }

  // Enter presses the button that has the focus, as Space does; Escape presses nothing.
  void enterPressesTheFocusedButton_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter of the keypad") << int(Qt::Key_Enter);
  }

  void enterPressesTheFocusedButton() {
    QFETCH(int, key);
    const Qt::KeyboardModifiers modifiers = key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
    Wizard wizard;
    QVERIFY(wizard.Start());
    wizard.Button("ButtonNext").setFocus();
    QTest::keyClick(&wizard.Button("ButtonNext"), Qt::Key(key), modifiers);
    QCOMPARE(wizard.Current(), &wizard.Notice());
    wizard.Button("ButtonPrev").setFocus();
    QTest::keyClick(&wizard.Button("ButtonPrev"), Qt::Key(key), modifiers);
    QCOMPARE(wizard.Current(), &wizard.Welcome());
    // A disabled button stays unpressed.
    QTest::keyClick(&wizard.Button("ButtonPrev"), Qt::Key(key), modifiers);
    QCOMPARE(wizard.Current(), &wizard.Welcome());
    wizard.ui.Answer(mrNo);
    wizard.Button("ButtonCancel").setFocus();
    QTest::keyClick(&wizard.Button("ButtonCancel"), Qt::Key(key), modifiers);
    QCOMPARE(wizard.ui.boxes.size(), std::size_t{1});
    QVERIFY(wizard.Window().isVisible());
  }

  void escapePressesNothing() {
    Wizard wizard;
    QVERIFY(wizard.Start());
    wizard.Click("ButtonNext");
    for (const char* name : {"ButtonPrev", "ButtonNext", "ButtonCancel"}) {
      wizard.Button(name).setFocus();
      QTest::keyClick(&wizard.Button(name), Qt::Key_Escape);
      QTest::keyClick(&wizard.Window(), Qt::Key_Escape);
    }
    QCOMPARE(wizard.Current(), &wizard.Notice());
    QVERIFY(wizard.ui.boxes.empty());
    QVERIFY(wizard.Window().isVisible());
    QVERIFY(!wizard.Button("ButtonNext").isDefault());
  }

  // Line breaks at the end of the text open no line of their own.
  void scrollingLabelLines_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("one line and two breaks") << "Une ligne\r\n\r\n" << QStringList{"Une ligne"};
    QTest::newRow("one line") << "Une ligne" << QStringList{"Une ligne"};
    QTest::newRow("a blank line inside") << "Une\r\n\r\nligne\n" << QStringList{"Une", "", "ligne"};
    QTest::newRow("CR alone") << "Une\rligne\r" << QStringList{"Une", "ligne"};
  }

  void scrollingLabelLines() {
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    ScrollingLabel label;
    label.resize(385, 111);
    label.setText(text);
    QStringList shown;
    for (int i = 0; i < label.LineCount(); ++i) shown << label.LineText(i);
    QCOMPARE(shown, lines);
    QCOMPARE(label.verticalScrollBar()->maximum(), 0);
  }

  // The demo's description fits the page: nothing to scroll, every line shown whole.
  void demoDescriptionFits() {
    PackageTexts texts;
    texts.description = DemoDescription();
    QVERIFY(!texts.description.empty());
    Wizard wizard(texts);
    QVERIFY(wizard.Start());
    ScrollingLabel& info = *wizard.Welcome().LabelInfo;
    QCOMPARE(info.geometry(), QRect(20, 166, 385, 111));
    QVERIFY2(info.LineCount() <= info.ShownLines(), qPrintable(JoinedLines(info)));
    QCOMPARE(info.verticalScrollBar()->maximum(), 0);
    QVERIFY(!info.verticalScrollBar()->isVisible());
    QCOMPARE(info.focusPolicy(), Qt::NoFocus);
    QCOMPARE(JoinedLines(info), QString(info.text()).remove("\r\n"));
    QCOMPARE(LinesSeenWhole(info), info.LineCount());
  }

  // A description longer than the room left keeps the designed rectangle and scrolls inside it,
  // one whole line at a time, down to its last line; the keyboard reaches it too.
  void longDescriptionScrolls_data() {
    QTest::addColumn<int>("height");
    QTest::newRow("the window's page area") << 301;
    QTest::newRow("282") << 282;
    QTest::newRow("a tall window") << 420;
  }

  void longDescriptionScrolls() {
    QFETCH(int, height);
    PackageTexts texts;
    texts.description = kLongDescription;
    Wizard wizard(texts);
    QVERIFY(wizard.Start());
    TfrmWelcome& welcome = wizard.Welcome();
    welcome.resize(425, height);
    const int q = height / 4;
    ScrollingLabel& info = *welcome.LabelInfo;
    QCOMPARE(info.geometry(), QRect(20, height - q - 60, 385, height - 2 * q - 40));
    QCOMPARE(info.font().pixelSize(), 15);
    QVERIFY(info.verticalScrollBar()->isVisible());
    QVERIFY(info.rect().contains(info.verticalScrollBar()->geometry()));
    // Whole lines only, and no more than one line's height left empty.
    QCOMPARE(info.ShownLines(), info.viewport()->height() / info.LineHeight());
    QCOMPARE(info.verticalScrollBar()->maximum(), info.LineCount() - info.ShownLines());
    if (height == 301) QVERIFY(info.LineCount() >= 2 * info.ShownLines());
    QCOMPARE(JoinedLines(info), QString(info.text()).remove("\r\n"));
    QVERIFY(info.LineText(info.LineCount() - 1).endsWith(QStringLiteral("de la description.")));
    QCOMPARE(LinesSeenWhole(info), info.LineCount());

    // Tab reaches the text, and the keys move through it.
    QCOMPARE(info.focusPolicy(), Qt::TabFocus);
    info.setFocus();
    QTest::keyClick(&info, Qt::Key_Down);
    QCOMPARE(info.FirstShownLine(), 1);
    QTest::keyClick(&info, Qt::Key_PageDown);
    QCOMPARE(info.FirstShownLine(), std::min(1 + info.ShownLines(), info.verticalScrollBar()->maximum()));
    QTest::keyClick(&info, Qt::Key_End);
    QCOMPARE(info.FirstShownLine() + info.ShownLines(), info.LineCount());
    QTest::keyClick(&info, Qt::Key_Home);
    QCOMPARE(info.FirstShownLine(), 0);
  }

  void noticePageShowsThePackageNotice() {
    Wizard wizard;
    QVERIFY(wizard.Start());
    wizard.Click("ButtonNext");
    TfrmDisplayFile& notice = wizard.Notice();
    QCOMPARE(notice.PanelButtons->text(), QStringLiteral("La liste des modifications"));
    QCOMPARE(notice.PanelButtons->height(), 32);
    QCOMPARE(notice.SpeedButtonPrint->geometry(), QRect(4, 4, 24, 24));
    QVERIFY(notice.RichEditFile->isReadOnly());
    QCOMPARE(Lines(*notice.RichEditFile), (QStringList{"Liste des modifications", "Nouveautés",
                                                       "Correction de l'impression des listes", ""}));
    QCOMPARE(notice.RichEditFile->LineCount(), 4);
    // The model's formats reach the document: the second paragraph is bold, 10 points.
    const QTextBlock bold = notice.RichEditFile->document()->findBlockByNumber(1);
    QTextCursor inside(bold);
    inside.movePosition(QTextCursor::NextCharacter);
    QCOMPARE(inside.charFormat().fontWeight(), int(QFont::Bold));
    QCOMPARE(inside.charFormat().fontPointSize(), 10.0);
  }

  void missingNoticeSaysSoAndShowsInternalCorrections() {
    PackageTexts texts;
    texts.notice.clear();
    Wizard wizard(texts);
    // The box is open longer than the one-shot timer's interval: the first page waits for it.
    bool pageShownDuringBox = true;
    wizard.ui.onBox = [&] {
      QTest::qWait(100);
      pageShownDuringBox = wizard.Controller().FirstStepShown;
    };
    QVERIFY(wizard.Start());
    QVERIFY(!pageShownDuringBox);
    QCOMPARE(wizard.ui.boxes.size(), std::size_t{1});
    QCOMPARE(Q(wizard.ui.boxes.front().caption), Q(ApplicationTitle()));
    QCOMPARE(Q(wizard.ui.boxes.front().text), QStringLiteral("Cannot load resource file UpdateInfo.txt"));
    QCOMPARE(wizard.ui.boxes.front().buttons, unsigned(mbOK));
    QCOMPARE(Lines(*wizard.Notice().RichEditFile),
             (QStringList{"", "Cette mise à jour comporte uniquement des corrections internes."}));
    QCOMPARE(wizard.Controller().Steps.size(), std::size_t{3});
  }

  void printing_data() {
    QTest::addColumn<bool>("reportPage");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("notice") << false << "La liste des modifications"
                            << "Correction de l'impression des listes";
    QTest::newRow("report") << true << "Update report"
                            << "Mise à jour : Fichiers communs";
  }

  // Both print buttons go through the report page's printer set-up dialog; the document carries the
  // page's title and its text. A cancelled dialog prints nothing.
  void printing() {
    QFETCH(bool, reportPage);
    QFETCH(QString, title);
    QFETCH(QString, text);
    Wizard wizard;
    QVERIFY(wizard.Start());
    wizard.Click("ButtonNext");
    if (reportPage) wizard.Click("ButtonNext");
    TFrmStep* page = wizard.Current();
    QCOMPARE(page, reportPage ? static_cast<TFrmStep*>(&wizard.ReportPage()) : &wizard.Notice());

    QTemporaryDir folder;
    const QString pdf = folder.filePath("printed.pdf");
    auto* dialog = wizard.ReportPage().findChild<TPrinterSetupDialog*>("PrinterSetupDialog");
    QVERIFY(dialog != nullptr);
    int asked = 0;
    dialog->SetAnswer([&](QPrinter&) {
      ++asked;
      return false;
    });
    auto* button = page->findChild<QToolButton*>("SpeedButtonPrint");
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(asked, 1);
    QVERIFY(!QFile::exists(pdf));

    dialog->SetAnswer([&](QPrinter& printer) {
      ++asked;
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(pdf);
      return true;
    });
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(asked, 2);
    QVERIFY(QFile::exists(pdf));
    QCOMPARE(PdfTitle(pdf), title);
    const QString printed = Run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    QVERIFY2(printed.contains(text), qPrintable(printed));
  }

  void reportPageAsDesigned() {
    Wizard wizard;
    QVERIFY(wizard.Start());
    wizard.Click("ButtonNext");
    wizard.Click("ButtonNext");
    TfrmEndInstall& page = wizard.ReportPage();
    QCOMPARE(wizard.Current(), &page);
    QCOMPARE(page.PanelButtons->text(), QStringLiteral("Rapport d'installation"));
    QCOMPARE(page.PanelButtons->height(), 32);
    QCOMPARE(page.SpeedButtonPrint->geometry(), QRect(4, 4, 24, 24));
    QVERIFY(page.RichEditReport->isReadOnly());
    QCOMPARE(page.RichEditReport->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(page.RichEditReport->hasFocus());
    QCOMPARE(page.findChild<QtRichTextControl*>("RichEditReport"), page.RichEditReport);
  }

  // A picture of each page inside the window at its designed size, for the documentation.
  void screenshots() {
    PackageTexts texts;
    texts.description = DemoDescription();
    texts.notice =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 \\b Version 2013\\b0\\par "
        "\\par - Nouvelle biblioth\\'e8que PDF : impression plus rapide des listes\\par "
        "- Dictionnaires fran\\'e7ais et allemand mis \\'e0 jour\\par "
        "- Correction de l'affichage des caract\\'e8res accentu\\'e9s\\par}";
    UpdaterTable updaters;
    updaters.Set(pcCommon, [](TdmUpdateCommon& engine, ProductCode) {
      for (const char* file : {"wPDF300A.dll", "Francais.dic"}) {
        engine.ReportLine(std::string("Copie de C:\\Temp\\Update4711.tmp"));
        engine.ReportLine(std::string("vers C:\\WKorvane\\Common\\Programs\\") + file + "\r\n");
      }
      return UpdateOutcome::Completed;
    });
    Wizard wizard(texts, std::move(updaters));
    QVERIFY(wizard.Start());
    const QDir folder(QStringLiteral(KV_SCREENSHOT_DIR));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    const char* names[] = {"welcome", "notice", "report"};
    for (int i = 0; i < 3; ++i) {
      if (i > 0) wizard.Click("ButtonNext");
      if (i == 0) wizard.Welcome().TimerBlink->stop();  // the warning in its first colour
      QTest::qWait(50);
      const QImage shot = wizard.Window().grab().toImage();
      QCOMPARE(shot.size() / shot.devicePixelRatio(), QSize(579, 383));
      // The title band is grey, the left column the picture's background.
      QCOMPARE(shot.pixelColor(160, 2), QColor(128, 128, 128));
      QCOMPARE(shot.pixelColor(3, 3), wizard.Window().PanelImage->palette().color(QPalette::Window));
      QVERIFY(shot.save(folder.filePath(QString::fromLatin1(names[i]) + ".png")));
    }
    QCOMPARE(wizard.Button("ButtonNext").text(), QStringLiteral("Quitter"));

    // The welcome page with a description twice as long as the room it has.
    texts.description = kLongDescription;
    Wizard longer(texts);
    QVERIFY(longer.Start());
    longer.Welcome().TimerBlink->stop();
    QTRY_VERIFY(longer.Welcome().LabelInfo->verticalScrollBar()->isVisible());
    QTest::qWait(50);
    const QImage shot = longer.Window().grab().toImage();
    QVERIFY(shot.save(folder.filePath(QStringLiteral("welcome-long-description.png"))));
  }
};

}  // namespace kv::test

QTEST_MAIN(kv::test::WizardWindowTest)
#include "WizardWindowTest.moc"
