#include "engine/UpdateCommon.h"
#include "products/EngineParts.h"

#include "app/win32/WizardApplication.h"
#include "app/win32/WizardPages.h"
#include "app/win32/WizardWindow.h"

namespace kv {

WizardApplication::WizardApplication(const ProductCatalog& products, UpdaterTable updaters)
    : Products(products), Updaters(std::move(updaters)) {
  frmMain = std::make_unique<WizardWindow>();
  frmWelcome = std::make_unique<WelcomePage>(frmMain->Handle());
  frmEndInstall = std::make_unique<ReportPage>(frmMain->Handle());
  InstallEngineParts();
  dmUpdateCommon = std::make_unique<TdmUpdateCommon>();
  frmDisplayFile = std::make_unique<NoticePage>(frmMain->Handle(), *frmEndInstall);
  Controller = std::make_unique<WizardController>(
      *frmMain, WizardParts{*frmWelcome, *frmDisplayFile, *frmEndInstall, frmDisplayFile->Text(),
                            frmEndInstall->Text(), *dmUpdateCommon, Products, Updaters});
  frmMain->Attach(*Controller, *frmWelcome, frmEndInstall->Text());
}

WizardApplication::~WizardApplication() = default;

}  // namespace kv
