#include "wizard/InstanceGuard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "formats/Text.h"
#include "platform/Win32.h"
#include "platform/host/Prefix.h"

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

InstanceGuard::InstanceGuard() {
  try {
    lockFolder_ = host::Prefix::Current().Root() / "semaphores";
  } catch (const std::exception&) {
    // Without a prefix there is no lock to take: the program runs unguarded.
  }
}

InstanceGuard::InstanceGuard(std::filesystem::path lockFolder) : lockFolder_(std::move(lockFolder)) {}

InstanceGuard::~InstanceGuard() {
  if (InstanceSemaphore >= 0) ::close(InstanceSemaphore);
}

std::filesystem::path InstanceGuard::LockFile(const std::filesystem::path& folder, const std::string& name) {
  return folder / text::ToLower(name);
}

bool InstanceGuard::IsAlreadyRunning() {
  return IsAlreadyRunning(ApplicationTitle());
}

bool InstanceGuard::IsAlreadyRunning(const std::string& name) {
  if (name.empty() || lockFolder_.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(lockFolder_, ec);
  const std::filesystem::path file = LockFile(lockFolder_, name);
  // Close-on-exec: a program started from here must not keep the guard alive.
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  if (InstanceSemaphore >= 0) ::close(InstanceSemaphore);
  InstanceSemaphore = fd;
  // flock belongs to the open file description: the system drops it when the last descriptor
  // closes, which process exit does whatever ends the process.
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return false;
  return errno == EWOULDBLOCK;
}

}  // namespace kv
