#include "app/WizardApplication.h"

#include "app/frmDisplayFileUnit.h"
#include "app/frmEndInstallUnit.h"
#include "app/frmMainUnit.h"
#include "app/frmWelcomeUnit.h"
#include "engine/UpdateCommon.h"
#include "products/EngineParts.h"

namespace kv {

WizardApplication::WizardApplication(const ProductCatalog& products, UpdaterTable updaters)
    : Products(products), Updaters(std::move(updaters)) {
  // The window's create handler runs before the pages and the engine exist.
  frmMain = std::make_unique<TfrmMain>(*this);
  frmWelcome = std::make_unique<TfrmWelcome>();
  frmEndInstall = std::make_unique<TfrmEndInstall>();
  InstallEngineParts();
  dmUpdateCommon = std::make_unique<TdmUpdateCommon>();
  frmDisplayFile = std::make_unique<TfrmDisplayFile>(*frmEndInstall);
}

WizardApplication::~WizardApplication() = default;

}  // namespace kv
