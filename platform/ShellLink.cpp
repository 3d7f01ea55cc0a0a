// The fields of a shell shortcut, the same on every backend; the backends load, save and resolve.
#include "platform/Win32Shell.h"

namespace kv::win {

HRESULT ShellLink::GetPath(std::string& path, DWORD /*flags*/) const {
  path = path_;  // as set or loaded: no short form is kept apart
  return path_.empty() ? S_FALSE : S_OK;
}

HRESULT ShellLink::GetArguments(std::string& arguments) const {
  arguments = arguments_;
  return S_OK;
}

HRESULT ShellLink::GetDescription(std::string& description) const {
  description = description_;
  return S_OK;
}

HRESULT ShellLink::GetWorkingDirectory(std::string& folder) const {
  folder = workingDirectory_;
  return S_OK;
}

HRESULT ShellLink::GetIconLocation(std::string& iconFile, int& iconIndex) const {
  iconFile = iconLocation_;
  iconIndex = iconIndex_;
  return S_OK;
}

HRESULT ShellLink::GetShowCmd(int& showCmd) const {
  showCmd = showCmd_;
  return S_OK;
}

HRESULT ShellLink::GetHotkey(std::uint16_t& hotKey) const {
  hotKey = hotKey_;
  return S_OK;
}

HRESULT ShellLink::SetPath(const std::string& path) {
  path_ = path;
  return S_OK;
}

HRESULT ShellLink::SetArguments(const std::string& arguments) {
  arguments_ = arguments;
  return S_OK;
}

HRESULT ShellLink::SetDescription(const std::string& description) {
  description_ = description;
  return S_OK;
}

HRESULT ShellLink::SetWorkingDirectory(const std::string& folder) {
  workingDirectory_ = folder;
  return S_OK;
}

HRESULT ShellLink::SetIconLocation(const std::string& iconFile, int iconIndex) {
  iconLocation_ = iconFile;
  iconIndex_ = iconIndex;
  return S_OK;
}

HRESULT ShellLink::SetShowCmd(int showCmd) {
  showCmd_ = showCmd;
  return S_OK;
}

HRESULT ShellLink::SetHotkey(std::uint16_t hotKey) {
  hotKey_ = hotKey;
  return S_OK;
}

}  // namespace kv::win
