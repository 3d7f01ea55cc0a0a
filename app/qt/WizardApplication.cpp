#include "app/qt/WizardApplication.h"

#include "app/qt/frmDisplayFileUnit.h"
#include "app/qt/frmEndInstallUnit.h"
#include "app/qt/QtRichTextControl.h"
#include "app/qt/frmMainUnit.h"
#include "app/qt/frmWelcomeUnit.h"
#include "engine/UpdateCommon.h"
#include "products/EngineParts.h"

namespace kv {

WizardApplication::WizardApplication(const ProductCatalog& products, UpdaterTable updaters)
    : Products(products), Updaters(std::move(updaters)) {
  // The window's create handler runs before the pages and the engine exist.
  frmMain = std::make_unique<TfrmMain>();
  frmWelcome = std::make_unique<TfrmWelcome>();
  frmEndInstall = std::make_unique<TfrmEndInstall>();
  InstallEngineParts();
  dmUpdateCommon = std::make_unique<TdmUpdateCommon>();
  frmDisplayFile = std::make_unique<TfrmDisplayFile>(*frmEndInstall);
  Controller = std::make_unique<WizardController>(
      *frmMain, WizardParts{*frmWelcome, *frmDisplayFile, *frmEndInstall, *frmDisplayFile->RichEditFile,
                            *frmEndInstall->RichEditReport, *dmUpdateCommon, Products, Updaters});
  frmMain->Attach(*Controller, *frmWelcome, *frmEndInstall->RichEditReport);
}

WizardApplication::~WizardApplication() = default;

}  // namespace kv
