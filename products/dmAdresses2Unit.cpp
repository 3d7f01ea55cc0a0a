#include "products/dmAdresses2Unit.h"

#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/InstallTools2.h"
#include "platform/Messages.h"
#include "platform/Win32.h"

namespace kv {

std::string StripLastFolder(const std::string& path) {
  std::string result = path;
  if (!result.empty() && result.back() == '\\') result.pop_back();
  const auto last = result.find_last_of('\\');
  if (last != std::string::npos) result.erase(last + 1);
  return result;
}

TdmAdresses2::~TdmAdresses2() {
  try {
    UnloadAddressLibrary();
  } catch (...) {
    // A failing error box must not escape a destructor; the library stays held.
  }
}

std::string TdmAdresses2::LocateAddressLibrary() {
  return LocateAddressLibrary(ExtractFilePath(win::GetModuleFileName()));
}

std::string TdmAdresses2::LocateAddressLibrary(const std::string& programFolder) {
  const std::string twoUp = StripLastFolder(StripLastFolder(programFolder));
  const std::string candidates[] = {
      programFolder + kLibraryName,
      twoUp + "Adresses\\Programs\\" + kLibraryName,
      twoUp + "Adresses_2\\Programs\\" + kLibraryName,
      StripLastFolder(programFolder) + "Common files\\" + kLibraryName,
  };
  for (const std::string& candidate : candidates) {
    if (TWindowsInstaller::FileExists(candidate)) return candidate;
  }
  return kLibraryName;
}

void TdmAdresses2::AttachLibrary(std::unique_ptr<LoadedLibrary> library, std::function<void()> shutdown,
                                 std::map<std::string, EntryPoint> entryPoints) {
  if (library_) throw Error("Le module d'adresses est déjà chargé.");
  library_ = std::move(library);
  shutdown_ = std::move(shutdown);
  entryPoints_ = std::move(entryPoints);
}

void TdmAdresses2::UnloadAddressLibrary() {
  if (!library_) return;
  if (shutdown_) shutdown_();
  if (!library_->Release()) {
    ShowLastError("", true);
    return;
  }
  // The release is done; the object that stood for it goes without releasing again.
  library_.reset();
  shutdown_ = nullptr;
  entryPoints_.clear();
}

void TdmAdresses2::DataModuleDestroy() {
  UnloadAddressLibrary();
}

}  // namespace kv
