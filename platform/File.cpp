// The ownership of an open file, the same on every backend; each backend opens and closes it.
#include "platform/Win32.h"

namespace kv::win {

File::File(File&& other) noexcept : fd_(other.fd_), hostPath_(std::move(other.hostPath_)) {
  other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    hostPath_ = std::move(other.hostPath_);
    other.fd_ = -1;
  }
  return *this;
}

File::~File() {
  Close();
}

}  // namespace kv::win
