// The loader on the real API. The port's module handles are 32-bit numbers: each module the
// program loads or looks up gets one, kept with the system's handle for the life of the process.
#include <map>
#include <mutex>

#include "platform/Win32.h"
#include "platform/Win32Shell.h"
#include "platform/win32/Api.h"

namespace kv::win {

namespace {

struct Modules {
  std::mutex mutex;
  std::map<HMODULE, ::HMODULE> byNumber;
  HMODULE next = 0x10000000;

  // The number of a system handle, given on first sight and kept.
  HMODULE NumberOf(::HMODULE module) {
    std::lock_guard lock(mutex);
    for (const auto& [number, system] : byNumber) {
      if (system == module) return number;
    }
    byNumber.emplace(next, module);
    return next++;
  }

  ::HMODULE SystemHandle(HMODULE number) {
    std::lock_guard lock(mutex);
    const auto it = byNumber.find(number);
    return it == byNumber.end() ? nullptr : it->second;
  }
};

Modules& TheModules() {
  static Modules modules;
  return modules;
}

}  // namespace

unsigned SetErrorMode(unsigned mode) {
  return ::SetErrorMode(mode);
}

HMODULE LoadLibrary(const std::string& name) {
  const ::HMODULE module = ::LoadLibraryW(win32::WidePath(name).c_str());
  return module == nullptr ? 0 : TheModules().NumberOf(module);
}

bool FreeLibrary(HMODULE module) {
  // The number stays the module's: a later load of the same library gets the same handle back.
  const ::HMODULE system = TheModules().SystemHandle(module);
  if (system == nullptr) return win32::Fail(ERROR_INVALID_HANDLE);
  return ::FreeLibrary(system) != 0;
}

HMODULE GetModuleHandle(const std::string& name) {
  const ::HMODULE module = ::GetModuleHandleW(win32::WidePath(name).c_str());
  return module == nullptr ? 0 : TheModules().NumberOf(module);
}

FARPROC GetProcAddress(HMODULE module, const std::string& name) {
  const ::HMODULE system = TheModules().SystemHandle(module);
  if (system == nullptr) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(::GetProcAddress(system, name.c_str())));
}

DWORD GetCurrentProcessId() {
  return ::GetCurrentProcessId();
}

bool IsProcessRunning(DWORD processId) {
  const win32::Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process.Valid()) {
    // A process of another user cannot be opened, yet it runs.
    return ::GetLastError() == ERROR_ACCESS_DENIED;
  }
  ::DWORD code = 0;
  return ::GetExitCodeProcess(process.Get(), &code) && code == STILL_ACTIVE;
}

}  // namespace kv::win
