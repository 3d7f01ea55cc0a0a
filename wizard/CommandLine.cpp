#include "wizard/CommandLine.h"

#include "formats/Text.h"

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

}  // namespace kv
