// korvane-update: the update wizard. It refuses to run twice, reads its package, creates the
// wizard window, its pages and the update engine in a fixed order, and runs the event loop until
// the window closes; with --unattended it runs the same wizard without a window.
#include <QApplication>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/InstanceGuard.h"
#include "app/QtRichTextControl.h"
#include "app/QtTranslation.h"
#include "app/QtUserInterface.h"
#include "app/Unattended.h"
#include "app/UpdaterTable.h"
#include "app/WizardApplication.h"
#include "app/frmEndInstallUnit.h"
#include "app/frmMainUnit.h"
#include "engine/Package.h"
#include "platform/Messages.h"
#include "products/ProductCatalog.h"

namespace {

// Unattended mode's standard error holds the message boxes only: the toolkit's own notes are
// dropped, its critical and fatal messages kept.
void KeepToolkitQuiet(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) std::cerr << message.toStdString() << std::endl;
}

// The package named on the command line, else the one the program carries; nullptr with the
// error shown when there is none or it cannot be read.
std::unique_ptr<kv::PackageSource> OpenProgramPackage(const kv::CommandLine& commandLine) {
  try {
    if (commandLine.packageFile) return kv::OpenPackageFile(*commandLine.packageFile);
    if (auto package = kv::OpenRunningExecutablePackage()) return package;
    kv::ShowError(
        "Ce programme ne contient pas de paquet de mise à jour.\r\nIndiquez le paquet avec l'option "
        "--package "
        "FICHIER.");
  } catch (const std::exception& error) {
    kv::ShowError(std::string("Le paquet de mise à jour ne peut pas être lu :\r\n") + error.what());
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const kv::CommandLine commandLine = kv::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (commandLine.help) {
    std::cout << kv::UsageText("korvane-update");
    return kv::kExitCompleted;
  }
  if (!commandLine.error.empty()) {
    std::cerr << commandLine.error << "\n"
              << "Voir korvane-update --help.\n";
    return kv::kExitUsage;
  }
  // Unattended mode never shows a window and needs no display.
  if (commandLine.unattended) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(KeepToolkitQuiet);
  }

  // Held until the process ends; the system releases it then, however the process ends.
  kv::InstanceGuard guard;
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromStdString(kv::ApplicationTitle()));
  // The toolkit's own buttons and dialogs (printer, folder, file) in French, as the program's.
  const kv::QtTranslation qtFrench;
  if (guard.IsAlreadyRunning()) return commandLine.unattended ? kv::kExitAlreadyRunning : kv::kExitCompleted;

  kv::QtUserInterface windows;
  kv::ConsoleUserInterface console(commandLine.answerYes);
  const kv::ScopedUi ui(commandLine.unattended ? static_cast<kv::UserInterface&>(console) : windows);

  const std::unique_ptr<kv::PackageSource> package = OpenProgramPackage(commandLine);
  if (!package) return kv::kExitNoPackage;
  const kv::CurrentPackageScope packageScope(*package);

  std::optional<kv::ReportLog> log;
  if (commandLine.logFile) {
    try {
      log.emplace(*commandLine.logFile);
    } catch (const std::exception& error) {
      kv::ShowError(error.what());
      return kv::kExitCannotCreateLog;
    }
  }

  const kv::SuiteProductCatalog products;
  kv::WizardApplication forms(products, kv::ProgramUpdaters());
  if (log)
    forms.frmEndInstall->RichEditReport->OnLine([&log](const std::string& line) { log->Append(line); });

  if (commandLine.unattended) return kv::RunUnattended(forms);
  forms.frmMain->show();
  QApplication::exec();
  return kv::ExitCodeOfWindow(forms.frmMain->LastRun(), kv::Ui().TerminationRequested());
}
