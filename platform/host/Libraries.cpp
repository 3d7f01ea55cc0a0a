// The loader on the host: a few built-in modules whose entries the host implements, and the error
// mode. No foreign code is ever run: a library file that is not a built-in module loads, when it
// exists, as a module without entries.
//
// prefix.ini [libraries] changes a module: "<file name>=missing" makes it fail to load, any other
// value is the comma-separated list of the entries it exports (empty: none).
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <set>

#include "formats/Text.h"
#include "platform/FileUtils.h"
#include "platform/Win32.h"
#include "platform/Win32Shell.h"
#include "platform/host/Prefix.h"

namespace kv::win {

namespace {

std::atomic<unsigned> errorMode{0};

HRESULT SHGetFolderPathAEntry(std::uintptr_t window, int folder, std::uintptr_t token, DWORD flags,
                              char* path) {
  return SHGetFolderPath(window, folder, token, flags, path);
}

int ProcessIdToSessionIdEntry(DWORD processId, DWORD* sessionId) {
  if (sessionId == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Every process of the host runs in the session the prefix names.
  (void)processId;
  *sessionId = GetSessionInfo().sessionId;
  return 1;
}

struct BuiltinEntry {
  const char* module;
  const char* name;
  FARPROC address;
};

const BuiltinEntry kBuiltinEntries[] = {
    {"shell32.dll", "SHGetFolderPathA", reinterpret_cast<FARPROC>(&SHGetFolderPathAEntry)},
    {"shfolder.dll", "SHGetFolderPathA", reinterpret_cast<FARPROC>(&SHGetFolderPathAEntry)},
    {"kernel32.dll", "ProcessIdToSessionId", reinterpret_cast<FARPROC>(&ProcessIdToSessionIdEntry)},
};

bool IsBuiltinModule(const std::string& fileName) {
  return std::any_of(std::begin(kBuiltinEntries), std::end(kBuiltinEntries),
                     [&](const BuiltinEntry& e) { return text::IEquals(e.module, fileName); });
}

FARPROC BuiltinAddress(const std::string& module, const std::string& entry) {
  for (const BuiltinEntry& e : kBuiltinEntries) {
    if (text::IEquals(e.module, module) && e.name == entry) return e.address;
  }
  return nullptr;
}

struct Module {
  std::string key;       // upper-case file name, or upper-case full path for a named file
  std::string fileName;  // lower-case file name, what [libraries] and the built-ins know it by
  std::set<std::string> entries;
  unsigned references = 0;
};

constexpr HMODULE kKernelHandle = 0x77000000;

struct Loader {
  std::mutex mutex;
  std::map<HMODULE, Module> modules;
  HMODULE next = 0x10000000;
};

Loader& TheLoader() {
  static Loader loader;
  return loader;
}

std::string FileNamePart(const std::string& name) {
  const auto cut = name.find_last_of("\\/:");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

// The entries a module exports now, after prefix.ini's changes; nullopt when it cannot be loaded.
std::optional<std::set<std::string>> ExportsOf(const std::string& fileName) {
  std::set<std::string> entries;
  const auto changed = host::Prefix::Current().Ini("libraries", fileName);
  if (changed) {
    if (text::IEquals(text::Trim(*changed), "missing")) return std::nullopt;
    for (const std::string& e : text::Split(*changed, ',')) {
      if (const std::string t = text::Trim(e); !t.empty()) entries.insert(t);
    }
    return entries;
  }
  for (const BuiltinEntry& e : kBuiltinEntries) {
    if (!text::IEquals(e.module, fileName)) continue;
    // The kernel of the 9x family has no terminal-services entries.
    if (text::IEquals(e.name, "ProcessIdToSessionId") && !GetVersion().nt) continue;
    entries.insert(e.name);
  }
  return entries;
}

}  // namespace

unsigned SetErrorMode(unsigned mode) {
  return errorMode.exchange(mode);
}

HMODULE LoadLibrary(const std::string& name) {
  const std::string fileName = text::ToLower(FileNamePart(name));
  if (fileName.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  const bool hasFolder = fileName.size() != name.size();
  std::string key;
  if (hasFolder) {
    if (!IsExistingFile(name)) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    key = text::ToUpper(name);
  } else if (IsBuiltinModule(fileName)) {
    key = text::ToUpper(fileName);
  } else {
    const std::string found = SearchLibrary(name);
    if (found.empty()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    key = text::ToUpper(found);
  }
  const auto exports = ExportsOf(fileName);
  if (!exports) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (text::IEquals(fileName, "kernel32.dll")) return kKernelHandle;
  Loader& loader = TheLoader();
  std::lock_guard lock(loader.mutex);
  for (auto& [handle, module] : loader.modules) {
    if (module.key == key) {
      ++module.references;
      return handle;
    }
  }
  const HMODULE handle = loader.next;
  loader.next += 0x10000;
  loader.modules[handle] = Module{key, fileName, *exports, 1};
  return handle;
}

bool FreeLibrary(HMODULE module) {
  if (module == kKernelHandle) return true;
  Loader& loader = TheLoader();
  std::lock_guard lock(loader.mutex);
  const auto it = loader.modules.find(module);
  if (it == loader.modules.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (--it->second.references == 0) loader.modules.erase(it);
  return true;
}

HMODULE GetModuleHandle(const std::string& name) {
  const std::string fileName = text::ToLower(FileNamePart(name));
  if (fileName == "kernel32.dll" || fileName == "kernel32") return kKernelHandle;
  Loader& loader = TheLoader();
  std::lock_guard lock(loader.mutex);
  const bool hasFolder = fileName.size() != name.size();
  for (const auto& [handle, module] : loader.modules) {
    if (hasFolder ? module.key == text::ToUpper(name) : module.fileName == fileName) return handle;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return 0;
}

FARPROC GetProcAddress(HMODULE module, const std::string& name) {
  std::string fileName;
  std::set<std::string> entries;
  if (module == kKernelHandle) {
    fileName = "kernel32.dll";
    if (auto exports = ExportsOf(fileName)) entries = std::move(*exports);
  } else {
    Loader& loader = TheLoader();
    std::lock_guard lock(loader.mutex);
    const auto it = loader.modules.find(module);
    if (it == loader.modules.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    fileName = it->second.fileName;
    entries = it->second.entries;
  }
  // An entry listed for a module the host does not implement has nothing behind it.
  const FARPROC address = entries.contains(name) ? BuiltinAddress(fileName, name) : nullptr;
  if (address == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
  return address;
}

DWORD GetCurrentProcessId() {
  return static_cast<DWORD>(::getpid());
}

bool IsProcessRunning(DWORD processId) {
  const auto pid = static_cast<pid_t>(processId);
  // 0 and negative ids name process groups for kill, never one process.
  if (pid <= 0 || static_cast<DWORD>(pid) != processId) return false;
  // EPERM: it exists but belongs to another user.
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace kv::win
