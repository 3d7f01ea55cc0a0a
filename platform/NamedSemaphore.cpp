// The named semaphore's ownership; each backend creates and closes the object itself.
#include <utility>

#include "platform/Win32.h"

namespace kv::win {

NamedSemaphore::NamedSemaphore(NamedSemaphore&& other) noexcept : handle_(std::exchange(other.handle_, kNone)) {}

NamedSemaphore& NamedSemaphore::operator=(NamedSemaphore&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kNone);
  }
  return *this;
}

NamedSemaphore::~NamedSemaphore() {
  Close();
}

}  // namespace kv::win
