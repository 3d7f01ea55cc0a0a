#include "platform/Messages.h"

#include <algorithm>
#include <cmath>

#include "formats/VersionResource.h"
#include "platform/Errors.h"

namespace kv {

namespace {

int busyDepth = 0;

std::uint32_t BeepFor(MessageKind kind) {
  return kind == MessageKind::Confirmation ? MB_ICONQUESTION : MB_ICONEXCLAMATION;
}

}  // namespace

const char* MessageCaption(MessageKind kind) {
  switch (kind) {
    case MessageKind::Error:
      return "Erreur";
    case MessageKind::Warning:
      return "Avertissement";
    case MessageKind::Information:
      return "Informations";
    case MessageKind::Confirmation:
      return "Confirmer";
    case MessageKind::Plain:
      return "";
  }
  return "";
}

int ShowMessageBox(const std::string& text, MessageKind kind, unsigned buttons, int /*helpContext*/) {
  return Ui().MessageBox(MessageCaption(kind), text, kind, buttons);
}

namespace {

int ShowWithBeep(const std::string& text, MessageKind kind, unsigned buttons, int helpContext) {
  Ui().MessageBeep(BeepFor(kind));
  return ShowMessageBox(text, kind, buttons, helpContext);
}

}  // namespace

void ShowError(const std::string& text, int helpContext) {
  ShowWithBeep(text, MessageKind::Error, mbOK, helpContext);
}

void ShowWarning(const std::string& text, int helpContext) {
  ShowWithBeep(text, MessageKind::Warning, mbOK, helpContext);
}

void ShowInformation(const std::string& text, int helpContext) {
  ShowWithBeep(text, MessageKind::Information, mbOK, helpContext);
}

bool AskWarning(const std::string& text, int helpContext) {
  return ShowWithBeep(text, MessageKind::Warning, mbYes | mbNo, helpContext) == mrYes;
}

bool AskConfirmation(const std::string& text, int helpContext) {
  return ShowWithBeep(text, MessageKind::Confirmation, mbYes | mbNo, helpContext) == mrYes;
}

void BeginBusyCursor() {
  if (busyDepth == 0) Ui().SetBusyCursor(true);
  ++busyDepth;
}

void EndBusyCursor() {
  busyDepth = std::max(0, busyDepth - 1);
  if (busyDepth == 0) Ui().SetBusyCursor(false);
}

int BusyCursorDepth() {
  return busyDepth;
}

std::string GetWindowsFolder() {
  std::string folder = win::GetWindowsDirectory();
  if (folder.size() < 1 || folder.size() > 259) return {};
  AddTrailingBackslash(folder);
  return folder;
}

void AddTrailingBackslash(std::string& path) {
  if (!path.empty() && path.back() != '\\') path += '\\';
}

std::string SystemErrorText(win::DWORD code) {
  if (auto text = win::FormatMessage(code)) return text->substr(0, 512);
  return "code : " + std::to_string(code);
}

std::string LastErrorText() {
  return SystemErrorText(win::GetLastError());
}

void ShowLastError(const std::string& text, bool continueAfter) {
  ShowError(text + "\r\n" + LastErrorText());
  if (!continueAfter) Abort();
}

namespace {

void RaiseOrShow(const std::string& text, bool continueAfter) {
  if (!continueAfter) throw Error(text);
  ShowError(text);
}

}  // namespace

void FileCopyError(const std::string& source, const std::string& destination, bool continueAfter) {
  RaiseOrShow("Ne peut pas copier le fichier :\r\n" + source + "\r\nDestination :\r\n" + destination +
                  "\r\n" + LastErrorText(),
              continueAfter);
}

void FileDeleteError(const std::string& fileName, bool continueAfter) {
  RaiseOrShow("Ne peut pas supprimer le fichier :\r\n" + fileName + "\r\n" + LastErrorText(), continueAfter);
}

void FileAttributesError(const std::string& fileName, bool continueAfter) {
  ShowError("Ne peut pas modifier les attributs du fichier : \r\n" + fileName + "\r\n" + LastErrorText());
  if (!continueAfter) Abort();
}

std::string GetComputerNameText() {
  if (auto name = win::GetComputerName(16)) return *name;
  const win::DWORD code = win::GetLastError();
  if (code == win::ERROR_NOT_LOGGED_ON) return "?";
  ShowLastError("GetComputerName " + std::to_string(code), false);
  return {};
}

std::string GetUserNameText() {
  auto name = win::GetUserName(80);
  if (win::GetLastError() == win::ERROR_NOT_LOGGED_ON) return "?";
  if (!name) return {};  // the buffer stays zeroed
  return name->substr(0, name->find('\0'));
}

std::string GetFileVersionString(const std::string& fileName) {
  const auto info = win::GetFileVersionInfo(fileName);
  if (!info) return "?";
  if (info->translations.empty()) return "?";  // a resource without translation table reads as none
  return info->QueryString(win::TranslationKey(info->translations.front()), "FileVersion").value_or("");
}

void ArrangeButtons(ButtonPanel& panel) {
  std::vector<ButtonRect*> buttons;
  for (ButtonRect& child : panel.children) {
    if (child.isButton && child.visible) buttons.push_back(&child);
  }
  if (buttons.empty()) return;
  std::stable_sort(buttons.begin(), buttons.end(),
                   [](const ButtonRect* a, const ButtonRect* b) { return a->left < b->left; });
  const int height = buttons.back()->height;
  // 40 % of the height, rounded half to even as the toolkit's Round does.
  const int margin = static_cast<int>(std::nearbyint(height * 10 / 25.0));
  panel.clientHeight = height + 2 * margin;
  int position = panel.clientWidth;
  for (auto it = buttons.rbegin(); it != buttons.rend(); ++it) {
    ButtonRect& b = **it;
    position -= margin + b.width;
    b.left = position;
    b.top = margin;
    b.height = height;
    b.anchoredRightBottom = true;
  }
}

std::string RegistryTypeErrorText(const std::string& valueName) {
  return "Type de données incorrect pour '" + valueName + "'";
}

std::string ReadRegistryString(win::HKEY root, const std::string& key, const std::string& name) {
  if (!win::RegKey::Exists(root, key)) return {};
  win::RegKey k;
  if (win::RegKey::Open(root, key, win::KEY_READ, k) != win::ERROR_SUCCESS) {
    throw Error("Lecture d'une valeur de registre impossible : \r\nVeuillez contrôler vos droits d'accès.");
  }
  win::RegValue value;
  if (k.QueryValue(name, value) != win::ERROR_SUCCESS) return {};
  if (value.type != win::REG_SZ && value.type != win::REG_EXPAND_SZ) throw Error(RegistryTypeErrorText(name));
  return value.AsString();
}

void WriteRegistryString(win::HKEY root, const std::string& key, const std::string& name,
                         const std::string& value) {
  win::RegKey k;
  if (win::RegKey::Create(root, key, win::KEY_ALL_ACCESS, k) != win::ERROR_SUCCESS ||
      k.SetValue(name, win::RegValue::String(value)) != win::ERROR_SUCCESS) {
    throw Error("Écriture d'une valeur de registre impossible : \r\nVeuillez contrôler vos droits d'accès.");
  }
}

}  // namespace kv
