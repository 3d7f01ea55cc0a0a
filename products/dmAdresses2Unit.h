// The address module of the suite, the library "TSAdresses2.dll" that the products bind at run
// time. The updater only looks the library up (for the version check before an update of the main
// product); binding it and its entry points is the business of the programs that use it, which
// hand the loaded library to an instance of this module.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace kv {

// "C:\Suite\Updater\" gives "C:\Suite\", "C:\" gives "C:": one trailing backslash goes, then
// everything after the last backslash that remains.
std::string StripLastFolder(const std::string& path);

class TdmAdresses2 {
 public:
  static constexpr const char* kLibraryName = "TSAdresses2.dll";

  // A loaded library as the loading side holds it. Only Release gives it back to the system; the
  // object's destruction does not.
  class LoadedLibrary {
   public:
    virtual ~LoadedLibrary() = default;
    // Releases the library (FreeLibrary); false with the thread's last error set.
    virtual bool Release() = 0;
  };

  // An entry point of the library, as the loading side found it.
  using EntryPoint = void*;

  TdmAdresses2() = default;
  TdmAdresses2(const TdmAdresses2&) = delete;
  TdmAdresses2& operator=(const TdmAdresses2&) = delete;
  virtual ~TdmAdresses2();

  // The first of these that exists, for the folder of the running program: that folder; two
  // levels up, then "Adresses\Programs\" or "Adresses_2\Programs\"; one level up, then
  // "Common files\". Otherwise the bare library name, which the system's library search resolves.
  static std::string LocateAddressLibrary();
  // The same for a program started from programFolder (with its trailing backslash).
  static std::string LocateAddressLibrary(const std::string& programFolder);

  // Takes over a library the loading side has bound, with its optional shutdown routine and its
  // other entry points. Throws kv::Error while another library is still held.
  void AttachLibrary(std::unique_ptr<LoadedLibrary> library, std::function<void()> shutdown,
                     std::map<std::string, EntryPoint> entryPoints);
  // Calls the shutdown routine, then releases the library and forgets its entry points. When the
  // release fails the system's error is shown, the library stays held and the work goes on.
  void UnloadAddressLibrary();
  void DataModuleDestroy();  // OnDestroy

  bool Loaded() const { return library_ != nullptr; }
  const std::map<std::string, EntryPoint>& EntryPoints() const { return entryPoints_; }

 private:
  std::unique_ptr<LoadedLibrary> library_;
  std::function<void()> shutdown_;
  std::map<std::string, EntryPoint> entryPoints_;
};

}  // namespace kv
