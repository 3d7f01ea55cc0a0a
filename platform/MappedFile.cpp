#include "platform/MappedFile.h"

#include <string>

#include "platform/Errors.h"

namespace kv {

MappedFile::MappedFile(const std::filesystem::path& path) {
  if (const std::uint32_t code = Map(path); code != 0) {
    throw SystemError(code, "Impossible de lire le fichier " + Utf8Text(path) + ".\r\n" +
                                SystemError::FromCode(code).what());
  }
}

std::optional<MappedFile> MappedFile::TryOpen(const std::filesystem::path& path, std::uint32_t& error) {
  MappedFile file;
  if (const std::uint32_t code = file.Map(path); code != 0) {
    error = code;
    return std::nullopt;
  }
  error = 0;
  return file;
}

MappedFile::MappedFile(MappedFile&& other) noexcept : data_(other.data_), size_(other.size_) {
  other.data_ = nullptr;
  other.size_ = 0;
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Unmap();
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

MappedFile::~MappedFile() {
  Unmap();
}

}  // namespace kv
