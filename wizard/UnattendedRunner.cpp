#include "wizard/UnattendedRunner.h"

#include <optional>

#include "engine/Package.h"
#include "engine/UpdateCommon.h"
#include "platform/Errors.h"
#include "platform/MappedFile.h"
#include "platform/Messages.h"
#include "platform/UserInterface.h"
#include "products/EngineParts.h"
#include "products/ProductCatalog.h"
#include "wizard/CommandLine.h"
#include "wizard/InstanceGuard.h"

namespace kv {

ReportLog::ReportLog(const std::string& hostPath) : out_(Utf8Path(hostPath), std::ios::binary | std::ios::trunc) {
  if (!out_) throw Error("Le journal " + hostPath + " ne peut pas être créé.");
}

void ReportLog::Append(const std::string& line) {
  // The separator goes before a line, so the file never ends with one the report lacks.
  if (!first_) out_ << '\n';
  first_ = false;
  out_ << line;
  out_.flush();
}

WindowlessWizard::WindowlessWizard(WizardView& view, const ProductCatalog& products, UpdaterTable updaters)
    : Updaters(std::move(updaters)) {
  InstallEngineParts();
  Engine = std::make_unique<TdmUpdateCommon>();
  Controller = std::make_unique<WizardController>(
      view, WizardParts{Welcome, Notice, Report, NoticeText, ReportText, *Engine, products, Updaters});
}

WindowlessWizard::~WindowlessWizard() = default;

int RunUnattended(WizardController& wizard) {
  try {
    wizard.FormShow();
    if (Ui().TerminationRequested()) return kExitStoppedByChecks;
    wizard.TimerOneTimeTimer();
    wizard.ActionListMainUpdate();
    // Every page allows Next, and the report page is always a step: the run starts within as many
    // presses as there are steps.
    for (std::size_t press = 0; !wizard.UpdateStarted; ++press) {
      if (press > wizard.Steps.size() || !wizard.Buttons().next.enabled) {
        const WizardStep* page = wizard.GetCurrentStep();
        throw Error("La page \"" + (page ? page->StepName() : std::string("?")) + "\" ne permet pas de continuer.");
      }
      wizard.ActionNextExecute();
      wizard.ActionListMainUpdate();
    }
    const int code = wizard.ExitCode();
    wizard.ActionNextExecute();  // "Quitter"
    return code;
  } catch (const std::exception& error) {
    ShowException(error);
    return kExitFailed;
  }
}

namespace {

// nullptr with the error shown when there is no package or it cannot be read.
std::unique_ptr<PackageSource> OpenProgramPackage(const CommandLine& commandLine) {
  try {
    if (commandLine.packageFile) return OpenPackageFile(*commandLine.packageFile);
    if (auto package = OpenRunningExecutablePackage()) return package;
    ShowError(
        "Ce programme ne contient pas de paquet de mise à jour.\r\nIndiquez le paquet avec l'option --package "
        "FICHIER.");
  } catch (const std::exception& error) {
    ShowError(std::string("Le paquet de mise à jour ne peut pas être lu :\r\n") + error.what());
  }
  return nullptr;
}

}  // namespace

int RunWithPackageAndLog(const CommandLine& commandLine,
                         const std::function<int(std::optional<ReportLog>& log)>& run) {
  const std::unique_ptr<PackageSource> package = OpenProgramPackage(commandLine);
  if (!package) return kExitNoPackage;
  const CurrentPackageScope packageScope(*package);

  std::optional<ReportLog> log;
  if (commandLine.logFile) {
    try {
      log.emplace(*commandLine.logFile);
    } catch (const std::exception& error) {
      ShowError(error.what());
      return kExitCannotCreateLog;
    }
  }
  return run(log);
}

int RunUnattendedProgram(const CommandLine& commandLine) {
  // Held until the program ends.
  InstanceGuard guard;
  if (guard.IsAlreadyRunning()) return kExitAlreadyRunning;
  ConsoleUserInterface console(commandLine.answerYes);
  const ScopedUi ui(console);

  return RunWithPackageAndLog(commandLine, [](std::optional<ReportLog>& log) {
    const SuiteProductCatalog products;
    HiddenWizardView hidden;
    WindowlessWizard wizard(hidden, products, ProgramUpdaters());
    if (log) wizard.ReportText.OnLine([&log](const std::string& line) { log->Append(line); });
    return RunUnattended(*wizard.Controller);
  });
}

}  // namespace kv
