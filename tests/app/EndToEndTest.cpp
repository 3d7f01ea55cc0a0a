// The built korvane-update run as administrators and scripts run it: unattended on a package file,
// the exit codes a process sees, the boxes on standard error, the log, and the single-instance
// guard between real processes.
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/Package.h"
#include "formats/PeWriter.h"
#include "formats/Text.h"
#include "tests/app/AppTestSupport.h"

namespace kv::test {

namespace {

namespace fs = std::filesystem;

const QString kProgram = QStringLiteral(KV_APP_EXE);

struct Finished {
  int exitCode = -1;
  QString out;
  QString err;
};

// Qt's platform plugin: the tests' offscreen one unless another is given.
Finished RunToEnd(const QString& program, const QStringList& arguments, const QString& platform = {}) {
  QProcess process;
  if (!platform.isEmpty()) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    process.setProcessEnvironment(environment);
  }
  process.start(program, arguments);
  Finished result;
  if (!process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished();
    return result;
  }
  if (process.exitStatus() == QProcess::NormalExit) result.exitCode = process.exitCode();
  result.out = QString::fromUtf8(process.readAllStandardOutput());
  result.err = QString::fromUtf8(process.readAllStandardError());
  return result;
}

// A package file as a Windows update executable carries it: one RT_RCDATA resource per packaged
// file, stored under its name in upper case.
QString WritePackageFile(const QTemporaryDir& folder, const PackageTexts& texts) {
  PeWriter writer;
  auto add = [&](const char* name, const std::string& content) {
    if (content.empty()) return;
    writer.Add(ResourceId(std::uint32_t{win::RT_RCDATA}), ResourceId(name), kPackageLanguage,
               MakeRecord(content, kPackageTime));
  };
  add("UPDATES.TXT", text::Utf8ToCp1252(texts.keys));
  add("APPINFO1.TXT", text::Utf8ToCp1252(texts.title));
  add("APPINFO2.TXT", text::Utf8ToCp1252(texts.description));
  add("UPDATEINFO.TXT", texts.notice);
  const QString path = folder.filePath("package.exe");
  std::ofstream out(path.toStdString(), std::ios::binary);
  writer.Write(out);
  return path;
}

std::string ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("<missing>");
}

// Whether the process holds the lock of the file: /proc/locks lists each flock with the holder's
// process id and the file's inode. Looking there takes nothing from the holder.
bool HoldsLock(qint64 pid, const fs::path& file) {
  struct stat status {};
  if (::stat(file.c_str(), &status) != 0) return false;
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string id, kind, mode, access, holder, device;
    fields >> id >> kind >> mode >> access >> holder >> device;
    if (kind != "FLOCK" || holder != std::to_string(pid)) continue;
    if (device.substr(device.rfind(':') + 1) == std::to_string(status.st_ino)) return true;
  }
  return false;
}

// A copy of the program running interactively (offscreen), once it holds its guard.
class RunningCopy {
 public:
  RunningCopy(const QString& program, const QString& package, const fs::path& lockFile) {
    process_.start(program, {QStringLiteral("--package"), package});
    started_ = process_.waitForStarted(10000) &&
               QTest::qWaitFor([&] { return HoldsLock(process_.processId(), lockFile); }, 20000);
  }
  ~RunningCopy() {
    process_.kill();
    process_.waitForFinished(10000);
  }
  RunningCopy(const RunningCopy&) = delete;
  RunningCopy& operator=(const RunningCopy&) = delete;

  bool Started() const { return started_; }
  bool Running() const { return process_.state() == QProcess::Running; }
  // Ends the process the hardest way: no clean-up runs.
  void Kill() {
    process_.kill();
    process_.waitForFinished(10000);
  }

 private:
  QProcess process_;
  bool started_ = false;
};

}  // namespace

class EndToEndTest : public QObject {
  Q_OBJECT

 private slots:
  void unattendedRunOnAPackageFile_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("platform");
    QTest::newRow("long options") << QStringList{"--unattended", "--log", "@LOG@", "--package", "@PACKAGE@"}
                                  << QString();
    QTest::newRow("installer spelling") << QStringList{"/SILENT", "/LOG=@LOG@", "--package", "@PACKAGE@"}
                                        << QString();
    // Unattended mode never starts the toolkit: a platform plugin that does not exist is no matter.
    QTest::newRow("no Qt platform") << QStringList{"--unattended", "--log", "@LOG@", "--package", "@PACKAGE@"}
                                    << "nonexistent";
  }

  // A key whose product has no updater: the header is the whole report, exit code 4, no box.
  void unattendedRunOnAPackageFile() {
    QFETCH(QStringList, options);
    QFETCH(QString, platform);
    TempPrefix prefix;
    QTemporaryDir folder;
    PackageTexts texts;
    texts.keys = "PDFDLL";
    const QString package = WritePackageFile(folder, texts);
    const QString log = folder.filePath("rapport.log");
    options.replaceInStrings("@LOG@", log).replaceInStrings("@PACKAGE@", package);
    const Finished run = RunToEnd(kProgram, options, platform);
    QCOMPARE(run.exitCode, 4);
    QCOMPARE(run.err, QString());
    const QString written = Q(ReadAll(log));
    const QStringList lines = written.split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(QRegularExpression(QStringLiteral("^Mise à jour : Fichiers communs  \\d\\d\\.\\d\\d\\.\\d{4} "
                                               "\\d\\d:\\d\\d:\\d\\d$"))
                 .match(lines[0])
                 .hasMatch(),
             qPrintable(written));
    QCOMPARE(lines[1], QString());
  }

  void preflightChecksStopTheProgram() {
    TempPrefix prefix;
    QTemporaryDir folder;
    PackageTexts texts;
    texts.keys = "WinTessivo";
    const Finished run = RunToEnd(kProgram, {"--unattended", "--package", WritePackageFile(folder, texts)});
    QCOMPARE(run.exitCode, 5);
    QVERIFY2(run.err.startsWith("[Avertissement] ATTENTION !!!\n"), qPrintable(run.err));
  }

  void packageMissingOrUnreadable_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("the program carries none")
        << QStringList{"--unattended"} << "[Erreur] Ce programme ne contient pas de paquet de mise à jour.";
    QTest::newRow("no such file") << QStringList{"--unattended", "--package", "@DIR@/absent.exe"}
                                  << "[Erreur] Le paquet de mise à jour ne peut pas être lu :";
    QTest::newRow("not a package") << QStringList{"--unattended", "--package", "@DIR@/garbage.exe"}
                                   << "[Erreur] Le paquet de mise à jour ne peut pas être lu :";
  }

  void packageMissingOrUnreadable() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    TempPrefix prefix;
    QTemporaryDir folder;
    QFile garbage(folder.filePath("garbage.exe"));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write("MZ, but nothing after it");
    garbage.close();
    arguments.replaceInStrings("@DIR@", folder.path());
    const Finished run = RunToEnd(kProgram, arguments);
    QCOMPARE(run.exitCode, 7);
    QVERIFY2(run.err.startsWith(message), qPrintable(run.err));
  }

  void helpAndUsage() {
    const Finished help = RunToEnd(kProgram, {"--help"});
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.contains("--unattended") && help.out.contains("Codes de sortie"));
    const Finished wrong = RunToEnd(kProgram, {"--unattended", "--answer", "toujours"});
    QCOMPARE(wrong.exitCode, 64);
    QVERIFY(wrong.err.contains("--answer"));
  }

  // While one copy runs, a second ends at once: silently with 0, or with 6 when unattended. Once the
  // first has ended, however it ended, a new copy runs.
  void secondCopyEndsAtOnce() {
    TempPrefix prefix;
    QTemporaryDir folder;
    PackageTexts texts;
    texts.keys = "PDFDLL";
    const QString package = WritePackageFile(folder, texts);
    RunningCopy first(kProgram, package, prefix.Root() / "semaphores" / "korvane-update");
    QVERIFY(first.Started());

    // Window mode, offscreen: the one way it ends without a person, as every other way opens a box.
    const Finished interactive = RunToEnd(kProgram, {"--package", package}, QStringLiteral("offscreen"));
    QCOMPARE(interactive.exitCode, 0);
    const Finished unattended = RunToEnd(kProgram, {"--unattended", "--package", package});
    QCOMPARE(unattended.exitCode, 6);
    QCOMPARE(unattended.err, QString());
    QVERIFY(first.Running());

    first.Kill();
    const Finished next = RunToEnd(kProgram, {"--unattended", "--package", package});
    QCOMPARE(next.exitCode, 4);
  }

  // The guard is named after the program's file name, whatever its letter case.
  void guardFollowsTheFileName() {
    TempPrefix prefix;
    QTemporaryDir folder;
    PackageTexts texts;
    texts.keys = "PDFDLL";
    const QString package = WritePackageFile(folder, texts);
    for (const char* name : {"UPDATE.EXE", "update.exe", "other.exe"}) {
      const QString copy = folder.filePath(QString::fromLatin1(name));
      QVERIFY(QFile::copy(kProgram, copy));
      QVERIFY(QFile::setPermissions(copy, QFile::permissions(kProgram)));
    }
    RunningCopy first(folder.filePath("UPDATE.EXE"), package, prefix.Root() / "semaphores" / "update");
    QVERIFY(first.Started());
    QCOMPARE(RunToEnd(folder.filePath("update.exe"), {"--unattended", "--package", package}).exitCode, 6);
    QCOMPARE(RunToEnd(folder.filePath("other.exe"), {"--unattended", "--package", package}).exitCode, 4);
  }
};

}  // namespace kv::test

QTEST_MAIN(kv::test::EndToEndTest)
#include "EndToEndTest.moc"
