#include "wizard/InstanceGuard.h"

#include <algorithm>
#include <utility>

#include "formats/Text.h"
#include "platform/Win32.h"

namespace kv {

namespace {

// The length of the UTF-8 sequence that starts with this byte (1 for a stray continuation byte).
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

}  // namespace

std::string ApplicationTitleFromFileName(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  name = name.substr(0, name.find('.'));
  if (name.empty()) return name;
  const std::size_t first = std::min(name.size(), SequenceLength(static_cast<unsigned char>(name[0])));
  return text::ToUpper(name.substr(0, first)) + text::ToLower(name.substr(first));
}

std::string ApplicationTitle() {
  return ApplicationTitleFromFileName(win::GetModuleFileName());
}

bool InstanceGuard::IsAlreadyRunning() {
  return IsAlreadyRunning(ApplicationTitle());
}

bool InstanceGuard::IsAlreadyRunning(const std::string& name) {
  if (name.empty()) return false;
  win::NamedSemaphore semaphore = win::NamedSemaphore::Create(name);
  // Read before a semaphore taken earlier is closed, which could set the last error again.
  const bool heldElsewhere = semaphore.IsOpen() && win::GetLastError() == win::ERROR_ALREADY_EXISTS;
  InstanceSemaphore = std::move(semaphore);
  return heldElsewhere;
}

}  // namespace kv
