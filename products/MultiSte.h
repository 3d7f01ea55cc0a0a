// The installation's company list: one company name per line of "multiste.txt", in the file's
// order; an empty name is the default company ("Default" in the registry and the report).
#pragma once

#include <string>
#include <vector>

namespace kv {

class TFMultiSte {
 public:
  // The company list is loaded (ChargeFichier) when the form is made.
  TFMultiSte();

  // Fills ComboBoxCompanies from the company list file and selects the company last chosen
  // ("LastCompany" of HKCU "Software\KORVANE S.A.\Multiste"), or the first. Raises the registry's
  // error when that key exists but cannot be read; a file that exists but cannot be read leaves
  // the list empty and its error in FReadError.
  void ChargeFichier();
  // The company list file: C:\korvane\multiste.txt, C:\korvane\multiste.txt.txt,
  // C:\wkorvane\multiste.txt, C:\wkorvane\multiste.txt.txt, the suite's Common\Programs\ folder +
  // multiste.txt, then the same on the Windows folder's drive; empty when there is none. Deletes
  // the obsolete HKLM key "Software\KORVANE S.A.\MultiSte" first (failures ignored).
  std::string GetMultisteFilename();

  // The combo box of the company selection: its items and the selected one (-1: none).
  struct TComboBox {
    std::vector<std::string> Items;
    int ItemIndex = -1;
    std::string Text;
  } ComboBoxCompanies;
  std::string FFilename;
  // Why the company list file could not be read (the system's text); empty when it was read or
  // there is none. The list is then empty.
  std::string FReadError;
};

}  // namespace kv
