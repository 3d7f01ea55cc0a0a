#include "tests/support/CompanyDatabase.h"

#include "db/client/Attachment.h"
#include "tests/support/FirebirdRoot.h"

namespace kv::test {

namespace fs = std::filesystem;

CompanyDatabase::CompanyDatabase(const std::string& windowsPath)
    : ownPrefix_(std::make_unique<TempPrefix>()), prefix_(ownPrefix_.get()), windowsPath_(windowsPath) {
  Create();
}

CompanyDatabase::CompanyDatabase(const TempPrefix& prefix, const std::string& windowsPath)
    : prefix_(&prefix), windowsPath_(windowsPath) {
  Create();
}

void CompanyDatabase::Create() {
  UseTestFirebirdRoot();
  hostPath_ = prefix_->Host(windowsPath_);
  fs::create_directories(hostPath_.parent_path());
  fb::Attachment attachment;
  attachment.Create(windowsPath_, CreateParams());
  attachment.Detach();
}

CompanyDatabase::~CompanyDatabase() {
  try {
    fb::Attachment attachment;
    attachment.Attach(windowsPath_, AttachParams());
    attachment.Drop();
  } catch (...) {
    // Still attached elsewhere or already gone: the file goes with the prefix below.
  }
  std::error_code ec;
  fs::remove(hostPath_, ec);
}

std::vector<std::string> CompanyDatabase::CreateParams() {
  return {"USER 'KORVANE'", "PASSWORD '7392016458'", "PAGE_SIZE 4096", "DEFAULT CHARACTER SET ISO8859_1"};
}

std::vector<std::string> CompanyDatabase::AttachParams() {
  return {"user_name=KORVANE", "password=84736251", "lc_ctype=ISO8859_1"};
}

}  // namespace kv::test
