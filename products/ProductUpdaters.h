// The updaters of the suite's products: the main application (WinTessivo, standard and
// engineering editions) and the family of the other products. Each extracts the product's main
// file, finds the installed copy, lets the replacement policy decide, installs the companion
// files and, for the products with company databases, brings the printing lists up to date.
#pragma once

#include "engine/UpdateOutcome.h"
#include "products/ProductTable.h"

namespace kv {

class TdmUpdateCommon;

// Product codes 1 and 2 (engine.ProductCode chooses the edition folder TSV or TSI): the executable
// by version, then TSV_DB_INTF.dll (when installed), Korvane.dll and WinTessivo.chm beside it, the
// printing lists of every company and the common PDF library. Raises "Cannot find WinTessivo.exe"
// when the package lacks it.
UpdateOutcome UpdateMainProduct(TdmUpdateCommon& engine);

// Code 3: TSAdresses2.dll in Adresses\Programs\ below the suite root, AcctCore.dll and
// Adresses.chm beside it, the library's path registered, then the printing lists.
UpdateOutcome UpdateAddressModule(TdmUpdateCommon& engine);
// Code 4: Zorbalt.exe (installed major version 3 only) in its registered base folder,
// Zorbalt.etf beside it and the other listed files into Data\. Raises its errors to the run.
UpdateOutcome UpdateZorbalt(TdmUpdateCommon& engine);
// Code 6: Brisklane.exe where registered (or chosen), BLE_INTF.dll, the installed sibling tools
// and the help file beside it, then the printing lists.
UpdateOutcome UpdateBrisklane(TdmUpdateCommon& engine);
// Code 7: TSVQuaymart.exe in Quaymart\Programs\ beside the main product's folder, copied only
// after every listed file and printing list was installed there.
UpdateOutcome UpdateQuaymart(TdmUpdateCommon& engine);
// Codes 8 (pls\SA-00.int) and 9 (gs\GS-00.int): the data of Korvane5, copied only after every
// listed file was installed; the product's path is registered.
UpdateOutcome UpdateKorvane5Data(TdmUpdateCommon& engine, ProductCode code);
// Code 10: ZRQ.exe where registered (or chosen), ZRQDOC.pdf and ZRQHELP.rtf beside it, then the
// printing lists.
UpdateOutcome UpdateZrq(TdmUpdateCommon& engine);
// Code 13: Optaris.exe in Common\Programs\ below the suite root, then the listed files there.
UpdateOutcome UpdateOptaris(TdmUpdateCommon& engine);

}  // namespace kv
