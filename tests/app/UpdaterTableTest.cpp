// The program's updater table: every product of the suite with an updater is run by its own, the
// products without one (PDFDLL, Calderix, VLX) end the run without outcome.
#include <QTest>

#include "wizard/UpdaterTable.h"

namespace kv::test {

class UpdaterTableTest : public QObject {
  Q_OBJECT

 private slots:
  void everyProductWithAnUpdaterHasItsEntry() {
    const UpdaterTable table = ProgramUpdaters();
    for (ProductCode code = 1; code <= kLastProductCode; ++code) {
      const bool without = code == pcPdfDll || code == pcCalderix || code == pcVlx;
      QVERIFY2((table.Find(code) == nullptr) == without, qPrintable(QString::number(code)));
    }
    QVERIFY(table.Find(pcNone) == nullptr);
  }
};

}  // namespace kv::test

QTEST_MAIN(kv::test::UpdaterTableTest)
#include "UpdaterTableTest.moc"
