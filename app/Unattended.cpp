#include "app/Unattended.h"

#include <QAction>

#include "app/WizardApplication.h"
#include "app/frmBaseStepUnit.h"
#include "formats/Text.h"
#include "platform/Errors.h"
#include "platform/UserInterface.h"

namespace kv {

namespace {

// "--name=value" or "/NAME=value" (the slash form without regard to case, as Windows installers
// read it): the value when the argument has this form.
std::optional<std::string> InlineValue(const std::string& argument, const std::string& name, bool slashForm) {
  const std::string prefix = name + "=";
  if (slashForm ? text::IStartsWith(argument, prefix) : argument.starts_with(prefix)) {
    return argument.substr(prefix.size());
  }
  return std::nullopt;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine result;
  bool answerGiven = false;
  auto fail = [&](const std::string& message) {
    if (result.error.empty()) result.error = message;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    // The value of an option that takes one, inline or as the next argument.
    auto value = [&](const std::string& name) -> std::optional<std::string> {
      if (auto inlineValue = InlineValue(argument, name, false)) return inlineValue;
      if (argument != name) return std::nullopt;
      if (i + 1 >= arguments.size()) {
        fail("L'option " + name + " attend une valeur.");
        return std::string();
      }
      return arguments[++i];
    };
    if (argument == "--help" || argument == "-h" || argument == "/?") {
      result.help = true;
    } else if (argument == "--unattended" || text::IEquals(argument, "/SILENT")) {
      result.unattended = true;
    } else if (auto answer = value("--answer")) {
      answerGiven = true;
      if (text::IEquals(*answer, "yes")) {
        result.answerYes = true;
      } else if (text::IEquals(*answer, "no")) {
        result.answerYes = false;
      } else {
        fail("L'option --answer attend yes ou no, pas « " + *answer + " ».");
      }
    } else if (auto log = value("--log")) {
      result.logFile = *log;
    } else if (auto slashLog = InlineValue(argument, "/LOG", true)) {
      result.logFile = *slashLog;
    } else if (auto package = value("--package")) {
      result.packageFile = *package;
    } else {
      fail("Option inconnue : " + argument);
    }
  }
  if (result.logFile && result.logFile->empty()) fail("Le nom du journal est vide.");
  if (result.packageFile && result.packageFile->empty()) fail("Le nom du paquet est vide.");
  if (answerGiven && !result.unattended) fail("L'option --answer ne s'emploie qu'avec --unattended.");
  return result;
}

std::string UsageText(const std::string& programName) {
  return "Utilisation : " + programName +
         " [--unattended [--answer yes|no]] [--log FICHIER] [--package FICHIER]\n"
         "\n"
         "Met à jour une installation Korvane avec le paquet de mise à jour que contient ce programme.\n"
         "\n"
         "Options :\n"
         "  --unattended, /SILENT         exécute la mise à jour sans fenêtre ni intervention : chaque\n"
         "                                question reçoit la réponse de --answer, chaque message est écrit\n"
         "                                sur la sortie d'erreur sous la forme « [titre] texte »\n"
         "  --answer yes|no               la réponse à chaque question en mode sans surveillance\n"
         "                                (par défaut : no, le fichier installé est conservé)\n"
         "  --log FICHIER, /LOG=FICHIER   écrit le rapport d'installation dans FICHIER (UTF-8), ligne par\n"
         "                                ligne, au fur et à mesure de la mise à jour\n"
         "  --package FICHIER             lit le paquet de mise à jour dans FICHIER au lieu du programme\n"
         "  --help                        affiche cette aide\n"
         "\n"
         "Codes de sortie du mode sans surveillance :\n"
         "   0  la mise à jour est terminée avec succès\n"
         "   1  la mise à jour a échoué\n"
         "   2  la mise à jour n'a pas été effectuée (un fichier installé a été conservé)\n"
         "   3  la mise à jour a été effectuée avec des avertissements\n"
         "   4  aucune mise à jour n'a été exécutée (aucune clé reconnue, ou produit sans mise à jour)\n"
         "   5  les contrôles de compatibilité ont arrêté la mise à jour\n"
         "   6  une autre copie du programme est en cours d'exécution\n"
         "   7  le paquet de mise à jour est absent ou illisible\n"
         "  64  la ligne de commande est incorrecte\n"
         "  73  le journal ne peut pas être créé\n";
}

int ExitCodeOf(const TfrmMain::RunResult& run) {
  if (!run.started) return kExitNoUpdate;
  if (run.errorEscaped) return kExitFailed;
  switch (run.outcome) {
    case UpdateOutcome::Completed:
      return kExitCompleted;
    case UpdateOutcome::Failed:
      return kExitFailed;
    case UpdateOutcome::NotPerformed:
      return kExitNotPerformed;
    case UpdateOutcome::CompletedWithWarnings:
      return kExitCompletedWithWarnings;
    case UpdateOutcome::NoOutcome:
      break;
  }
  // Any other value behaves like no outcome.
  return kExitNoUpdate;
}

ReportLog::ReportLog(const std::string& hostPath) : out_(hostPath, std::ios::binary | std::ios::trunc) {
  if (!out_) throw Error("Le journal " + hostPath + " ne peut pas être créé.");
}

void ReportLog::Append(const std::string& line) {
  // The separator goes before a line, so the file never ends with one the report lacks.
  if (!first_) out_ << '\n';
  first_ = false;
  out_ << line;
  out_.flush();
}

int RunUnattended(WizardApplication& application) {
  TfrmMain& window = *application.frmMain;
  try {
    window.FormShow();
    if (Ui().TerminationRequested()) return kExitStoppedByChecks;
    window.TimerOneTimeTimer();
    window.ActionListMainUpdate();
    // Every page allows Next, and the report page is always a step: the run starts within as many
    // presses as there are steps.
    for (std::size_t press = 0; !window.UpdateStarted; ++press) {
      if (press > window.Steps->size() || !window.ActionNext->isEnabled()) {
        const TFrmStep* page = window.GetCurrentStep();
        throw Error("La page \"" + (page ? page->objectName().toStdString() : std::string("?")) +
                    "\" ne permet pas de continuer.");
      }
      window.ActionNextExecute();
      window.ActionListMainUpdate();
    }
    const int code = ExitCodeOf(window.LastRun());
    window.ActionNextExecute();  // "Quitter"
    return code;
  } catch (const std::exception& error) {
    ShowException(error);
    return kExitFailed;
  }
}

}  // namespace kv
