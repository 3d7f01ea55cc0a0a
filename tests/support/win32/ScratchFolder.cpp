#include "tests/support/win32/ScratchFolder.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/FileUtils.h"
#include "platform/Win32.h"
#include "platform/Win32Shell.h"

namespace kv::test {

namespace {

void RemoveTree(const std::string& folder) {
  for (const win::FindData& entry : win::FindFiles(folder + "*")) {
    const std::string path = folder + entry.name;
    if (entry.attributes & win::FILE_ATTRIBUTE_DIRECTORY) {
      RemoveTree(path + "\\");
    } else {
      win::SetFileAttributes(path, win::FILE_ATTRIBUTE_NORMAL);
      win::DeleteFile(path);
    }
  }
  win::RemoveDirectory(folder);
}

}  // namespace

ScratchFolder::ScratchFolder() {
  static std::atomic<unsigned> counter{0};
  path_ = win::GetTempPath() + "kv-test-" + std::to_string(win::GetCurrentProcessId()) + "-" +
          std::to_string(counter++) + "\\";
  if (!win::CreateDirectory(path_)) ADD_FAILURE() << "cannot create " << path_ << ": " << win::GetLastError();
}

ScratchFolder::~ScratchFolder() {
  RemoveTree(path_);
}

std::string ScratchFolder::Write(const std::string& name, const std::string& content) const {
  const std::string path = path_ + name;
  auto file = win::File::Create(path, win::GENERIC_WRITE, 0, win::CREATE_ALWAYS);
  EXPECT_TRUE(file && file->Write(content.data(), content.size())) << path << ": " << win::GetLastError();
  return path;
}

std::string ScratchFolder::Read(const std::string& name) const {
  std::string content;
  auto file = win::File::Create(path_ + name, win::GENERIC_READ, win::FILE_SHARE_READ, win::OPEN_EXISTING);
  if (!file) {
    ADD_FAILURE() << "cannot open " << path_ + name << ": " << win::GetLastError();
    return content;
  }
  char buffer[4096];
  for (long long got; (got = file->Read(buffer, sizeof buffer)) > 0;)
    content.append(buffer, static_cast<std::size_t>(got));
  return content;
}

}  // namespace kv::test
