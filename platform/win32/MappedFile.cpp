// Memory maps on the real API: a read-only view of a file mapping (CreateFileMappingW).
#include "platform/MappedFile.h"

#include "platform/win32/Api.h"

namespace kv {

std::uint32_t MappedFile::Map(const std::filesystem::path& path) {
  // Shared with every other open, as the host's reader is: reading a version or a package never
  // keeps another program from its own file.
  const win32::Handle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return ::GetLastError();
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.Get(), &info)) return ::GetLastError();
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_ACCESS_DENIED;
  const std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  // A mapping of length 0 is refused, so an empty file keeps a null span.
  if (size == 0) return 0;
  const win32::Handle mapping(::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.Valid()) return ::GetLastError();
  // The view stays valid once both handles are closed.
  const void* view = ::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) return ::GetLastError();
  data_ = static_cast<const std::uint8_t*>(view);
  size_ = static_cast<std::size_t>(size);
  return 0;
}

void MappedFile::Unmap() noexcept {
  if (data_ != nullptr) ::UnmapViewOfFile(data_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace kv
