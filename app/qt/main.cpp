// korvane-update: the update wizard. With --unattended it runs the wizard without a window and
// without Qt (wizard/UnattendedRunner.h). Otherwise it refuses to run twice, reads its package,
// creates the wizard window, its pages, the update engine and the wizard's controller in a fixed
// order, runs the event loop until the window closes and exits with the run's outcome.
#include <QApplication>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/QtRichTextControl.h"
#include "app/qt/QtTranslation.h"
#include "app/qt/QtUserInterface.h"
#include "app/qt/WizardApplication.h"
#include "app/qt/frmEndInstallUnit.h"
#include "app/qt/frmMainUnit.h"
#include "platform/Messages.h"
#include "products/ProductCatalog.h"
#include "wizard/CommandLine.h"
#include "wizard/InstanceGuard.h"
#include "wizard/UnattendedRunner.h"

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
  // Unattended mode never starts the toolkit: it runs where no display or platform plugin exists.
  if (commandLine.unattended) return kv::RunUnattendedProgram(commandLine);

  // Held until the process ends; the system releases it then, however the process ends.
  kv::InstanceGuard guard;
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromStdString(kv::ApplicationTitle()));
  // The toolkit's own buttons and dialogs (printer, folder, file) in French, as the program's.
  const kv::QtTranslation qtFrench;
  if (guard.IsAlreadyRunning()) return kv::kExitCompleted;

  kv::QtUserInterface windows;
  const kv::ScopedUi ui(windows);

  return kv::RunWithPackageAndLog(commandLine, [](std::optional<kv::ReportLog>& log) {
    const kv::SuiteProductCatalog products;
    kv::WizardApplication forms(products, kv::ProgramUpdaters());
    if (log)
      forms.frmEndInstall->RichEditReport->OnLine([&log](const std::string& line) { log->Append(line); });

    forms.frmMain->show();
    QApplication::exec();
    return forms.Controller->ExitCode();
  });
}
