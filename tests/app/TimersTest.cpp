// The timers port on Qt: the core's timers fire from the program's event loop, and the program
// installs them before its engine exists.
#include <QElapsedTimer>
#include <QTest>

#include "app/qt/QtTimers.h"
#include "platform/Timers.h"
#include "tests/app/AppTestSupport.h"

namespace kv::test {

class TimersTest : public QObject {
  Q_OBJECT

 private slots:
  // A periodic timer fires again and again while the event loop runs.
  void periodicTimerFiresRepeatedly() {
    QtTimerFactory qt;
    const ScopedTimers installed(qt);
    int fired = 0;
    const auto timer = CreateTimer(20, true, [&] { ++fired; });
    QTRY_VERIFY_WITH_TIMEOUT(fired >= 3, 5000);
  }

  void disabledTimerStaysSilent() {
    QtTimerFactory qt;
    const ScopedTimers installed(qt);
    int stopped = 0, running = 0;
    const auto idle = CreateTimer(10, false, [&] { ++stopped; });
    const auto reference = CreateTimer(10, true, [&] { ++running; });
    QTRY_VERIFY_WITH_TIMEOUT(running >= 5, 5000);
    QCOMPARE(stopped, 0);
  }

  // Disabling from inside the handler: one firing, none after it.
  void handlerStopsItsTimer() {
    QtTimerFactory qt;
    const ScopedTimers installed(qt);
    int once = 0, reference = 0;
    std::unique_ptr<Timer> timer;
    timer = CreateTimer(10, true, [&] {
      ++once;
      timer->SetEnabled(false);
    });
    const auto other = CreateTimer(10, true, [&] { ++reference; });
    QTRY_VERIFY_WITH_TIMEOUT(reference >= 5, 5000);
    QCOMPARE(once, 1);
    timer->SetEnabled(true);  // counts again
    QTRY_COMPARE_WITH_TIMEOUT(once, 2, 5000);
  }

  // The connection module's hour-long interval is kept as it is.
  void longIntervalIsKept() {
    QtTimerFactory qt;
    const ScopedTimers installed(qt);
    const auto disk = CreateTimer(3600000, true, [] {});
    QCOMPARE(disk->Interval(), 3600000u);
    QVERIFY(disk->Running());
  }

  // The program's forms install the Qt timers for their life.
  void programInstallsQtTimers() {
    TimerFactory& before = Timers();
    {
      Wizard wizard;
      WizardApplication& app = wizard.Create();
      QCOMPARE(&Timers(), static_cast<TimerFactory*>(&app.ProgramTimers));
      int fired = 0;
      const auto timer = CreateTimer(10, true, [&] { ++fired; });
      QTRY_VERIFY_WITH_TIMEOUT(fired >= 1, 5000);
    }
    QCOMPARE(&Timers(), &before);
  }
};

}  // namespace kv::test

QTEST_MAIN(kv::test::TimersTest)
#include "TimersTest.moc"
