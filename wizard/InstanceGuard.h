// Refuses to run a second copy of the same updater. The guard is a named semaphore named after the
// program's title, held for the life of the process; the system releases it when the process ends,
// however it ends, so a copy that crashed never blocks the next one.
#pragma once

#include <string>

#include "platform/Win32.h"

namespace kv {

// The application title an executable's file name gives: the name without its folder, cut at its
// first ".", the first character in upper case and every following one in lower case
// ("UPDATE_2013.EXE" gives "Update_2013", "korvane-update" gives "Korvane-update").
std::string ApplicationTitleFromFileName(const std::string& path);
// The title of the running program, from its own file name; it names the guard and captions the
// program's plain message boxes.
std::string ApplicationTitle();

class InstanceGuard {
 public:
  InstanceGuard() = default;
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

  // Takes the guard named after ApplicationTitle().
  bool IsAlreadyRunning();
  // Takes the guard of a name; true only when another holder has it. When the semaphore cannot be
  // created (or the name is empty, which names no object), false: the program runs unguarded.
  bool IsAlreadyRunning(const std::string& name);
  // Whether the semaphore was created (its handle is not null).
  bool HasHandle() const { return InstanceSemaphore.IsOpen(); }

 private:
  win::NamedSemaphore InstanceSemaphore;  // released by its destructor (CloseHandle)
};

}  // namespace kv
