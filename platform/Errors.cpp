#include "platform/Errors.h"

#include "platform/Messages.h"
#include "platform/Win32.h"

namespace kv {

SystemError SystemError::FromCode(std::uint32_t code) {
  return SystemError(code,
                     "Erreur système.  Code : " + std::to_string(code) + ".\r\n" + SystemErrorText(code));
}

SystemError SystemError::FromLastError() {
  return FromCode(win::GetLastError());
}

void Abort() {
  throw SilentAbort();
}

void RaiseLastOSError() {
  throw SystemError::FromLastError();
}

}  // namespace kv
