// A child process that keeps a file open through the host backend until it is released, so that
// the test process meets the file "in use by another process".
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/Win32.h"

namespace kv::test {

class HolderProcess {
 public:
  // Exclusive by default, as a program that shares nothing; a loaded library is better imitated
  // with GENERIC_READ and FILE_SHARE_READ | FILE_SHARE_WRITE (readable, not deletable).
  explicit HolderProcess(const std::string& windowsPath,
                         win::DWORD access = win::GENERIC_READ | win::GENERIC_WRITE,
                         win::DWORD shareMode = 0);
  ~HolderProcess();
  HolderProcess(const HolderProcess&) = delete;
  HolderProcess& operator=(const HolderProcess&) = delete;

  // Whether the child managed to open the file.
  bool Holding() const { return holding_; }
  // Closes the file and waits for the child to end.
  void Release();

 private:
  pid_t pid_ = -1;
  int stop_ = -1;
  bool holding_ = false;
};

}  // namespace kv::test
