// The program's window, its pages, its engine and the wizard's controller, owned in one place:
// created in the order the program starts them (the window first, so that it is the main window;
// the engine once the report page exists; the controller last, when all it drives exists),
// destroyed in the reverse order. The engine's destruction removes the run's temporary files.
#pragma once

#include <memory>

#include "platform/Timers.h"
#include "wizard/UpdaterTable.h"
#include "wizard/WizardController.h"

#include "app/win32/Win32Timers.h"

namespace kv {

class NoticePage;
class ProductCatalog;
class ReportPage;
class TdmUpdateCommon;
class WelcomePage;
class WizardWindow;

struct WizardApplication {
  WizardApplication(const ProductCatalog& products, UpdaterTable updaters);
  ~WizardApplication();
  WizardApplication(const WizardApplication&) = delete;
  WizardApplication& operator=(const WizardApplication&) = delete;

  // What the wizard's pre-flight checks and update run consult.
  const ProductCatalog& Products;
  UpdaterTable Updaters;

  // The core's timers fire from the program's message loop: installed before the engine creates
  // any, removed after it is gone.
  Win32TimerFactory ProgramTimers;
  ScopedTimers ProgramTimersInstalled{ProgramTimers};

  // In creation order; members are destroyed in reverse.
  std::unique_ptr<WizardWindow> frmMain;
  std::unique_ptr<WelcomePage> frmWelcome;
  std::unique_ptr<ReportPage> frmEndInstall;
  std::unique_ptr<TdmUpdateCommon> dmUpdateCommon;
  std::unique_ptr<NoticePage> frmDisplayFile;
  std::unique_ptr<WizardController> Controller;
};

}  // namespace kv
