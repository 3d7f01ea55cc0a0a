// The error types of the whole program. Every message is French UTF-8 text, ready to show.
#pragma once

#include <cstdint>
#include <string>

#include "formats/Error.h"

namespace kv {

// An operating-system failure, carrying the Windows error code.
class SystemError : public Error {
 public:
  SystemError(std::uint32_t code, const std::string& message) : Error(message), code_(code) {}
  std::uint32_t code() const noexcept { return code_; }

  // "Erreur système.  Code : %d.\r\n%s" for the given code.
  static SystemError FromCode(std::uint32_t code);
  // The same for the calling thread's last error.
  static SystemError FromLastError();

 private:
  std::uint32_t code_;
};

// Ends the current operation without any further message: an error box has already been shown.
class SilentAbort : public Error {
 public:
  SilentAbort() : Error("Opération abandonnée") {}
};

[[noreturn]] void Abort();
[[noreturn]] void RaiseLastOSError();

}  // namespace kv
