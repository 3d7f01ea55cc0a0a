// A read-only memory map of a whole host file, so that large files (PE images holding packages of
// several hundred MB) are read without copying them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kv {

// The path of UTF-8 text. (A path made from a std::string reads it in the system's ANSI code
// page on Windows, which cannot hold every name.)
inline std::filesystem::path Utf8Path(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
// The UTF-8 text of a path.
inline std::string Utf8Text(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

class MappedFile {
 public:
  // Maps the file; an empty file gives an empty span. Throws kv::SystemError carrying the Windows
  // error code (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED...) when the file cannot be mapped.
  explicit MappedFile(const std::filesystem::path& path);
  // The same without exception: nullopt with the Windows error code in `error`.
  static std::optional<MappedFile> TryOpen(const std::filesystem::path& path, std::uint32_t& error);

  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  std::span<const std::uint8_t> Bytes() const { return {data_, size_}; }
  const std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }

 private:
  MappedFile() = default;
  // The backend's part: answers 0 or the Windows error code of the failed step.
  std::uint32_t Map(const std::filesystem::path& path);
  void Unmap() noexcept;

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace kv
