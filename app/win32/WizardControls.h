// The names by which the wizard window and its controls are found: the window classes, the
// pages' window texts (their step names) and the controls' identifiers. The window's tests find
// and drive it by these, with window messages only.
#pragma once

namespace kv {

inline constexpr wchar_t kWizardClass[] = L"KorvaneUpdateWizard";
inline constexpr wchar_t kPageClass[] = L"KorvaneWizardPage";

enum WizardControlId : int {
  kIdButtonPrev = 101,
  kIdButtonNext = 102,
  kIdButtonCancel = 103,
  kIdTitle = 110,
  kIdVersion = 111,
  kIdWarning = 120,
  kIdInfo = 121,
  kIdHeading = 130,
  kIdPrint = 131,
  kIdRichText = 132,
};

}  // namespace kv
