// Memory maps on the host: mmap of the host file.
#include "platform/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "platform/host/Prefix.h"

namespace kv {

std::uint32_t MappedFile::Map(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return host::WindowsErrorFromErrno(errno);
  struct stat st {};
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
  } else if (S_ISDIR(st.st_mode)) {
    err = EISDIR;
  } else if (!S_ISREG(st.st_mode)) {
    err = EINVAL;  // devices and pipes have no size to map
  } else if (static_cast<std::uintmax_t>(st.st_size) > std::numeric_limits<std::size_t>::max()) {
    err = EFBIG;
  } else if (st.st_size > 0) {
    // mmap refuses a length of 0, so an empty file keeps a null span.
    void* p = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) {
      err = errno;
    } else {
      data_ = static_cast<const std::uint8_t*>(p);
      size_ = static_cast<std::size_t>(st.st_size);
    }
  }
  // The mapping stays valid once the descriptor is closed.
  ::close(fd);
  return err == 0 ? 0 : host::WindowsErrorFromErrno(err);
}

void MappedFile::Unmap() noexcept {
  if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace kv
