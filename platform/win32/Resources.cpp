// The running program's own resources (FindResourceW / LoadResource on its own module): where a
// Windows update program carries its package.
#include "formats/Text.h"
#include "platform/Win32.h"
#include "platform/win32/Api.h"

namespace kv::win {

std::optional<std::vector<ModuleResource>> OwnModuleResources(std::uint16_t type) {
  const ::HMODULE self = ::GetModuleHandleW(nullptr);
  std::vector<std::wstring> names;
  // A module without resources of the type answers an error: then there are none.
  ::EnumResourceNamesW(
      self, MAKEINTRESOURCEW(type),
      [](::HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list) -> BOOL {
        if (!IS_INTRESOURCE(name)) reinterpret_cast<std::vector<std::wstring>*>(list)->emplace_back(name);
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&names));
  std::vector<ModuleResource> resources;
  for (const std::wstring& wideName : names) {
    std::string name = win32::Utf8(wideName);
    bool seen = false;
    for (const ModuleResource& known : resources) seen = seen || text::IEquals(known.name, name);
    if (seen) continue;
    const HRSRC found = ::FindResourceW(self, wideName.c_str(), MAKEINTRESOURCEW(type));
    const HGLOBAL loaded = found == nullptr ? nullptr : ::LoadResource(self, found);
    const void* bytes = loaded == nullptr ? nullptr : ::LockResource(loaded);
    if (bytes == nullptr) continue;
    resources.push_back(ModuleResource{
        std::move(name), std::span(static_cast<const std::uint8_t*>(bytes), ::SizeofResource(self, found))});
  }
  return resources;
}

}  // namespace kv::win
