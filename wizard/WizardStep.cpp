#include "wizard/WizardStep.h"

#include <algorithm>

namespace kv {

namespace {

std::vector<WizardStep*>& Steps() {
  static std::vector<WizardStep*> steps;
  return steps;
}

}  // namespace

WizardStep::WizardStep() {
  Steps().push_back(this);
}

WizardStep::~WizardStep() {
  std::erase(Steps(), this);
}

const std::vector<WizardStep*>& WizardStep::Instances() {
  return Steps();
}

std::string WelcomeWarningText() {
  return "Veuillez fermer les applications Korvane sur tous les postes de travail avant d'installer cette mise "
         "à jour !";
}

std::string WelcomeInfoText(const std::string& title, const std::string& description) {
  const std::string shown = title.empty() ? "?" : title;
  return "Cet assistant va mettre à jour " + shown + "." + "\r\n" + "\r\n" + "Aucune donnée existante ne sera supprimée." +
         "\r\n" + "\r\n" + description;
}

}  // namespace kv
