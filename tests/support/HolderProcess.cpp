#include "tests/support/HolderProcess.h"

#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace kv::test {

HolderProcess::HolderProcess(const std::string& windowsPath, win::DWORD access, win::DWORD shareMode) {
  int ready[2], stop[2];
  if (pipe(ready) != 0) throw std::runtime_error("pipe failed");
  if (pipe(stop) != 0) {
    close(ready[0]);
    close(ready[1]);
    throw std::runtime_error("pipe failed");
  }
  pid_ = fork();
  if (pid_ == 0) {
    close(ready[0]);
    close(stop[1]);
    auto file = win::File::Create(windowsPath, access, shareMode, win::OPEN_EXISTING);
    const char ok = file ? '1' : '0';
    (void)!write(ready[1], &ok, 1);
    char c;
    (void)!read(stop[0], &c, 1);  // returns when the parent writes or closes its end
    _exit(0);
  }
  close(ready[1]);
  close(stop[0]);
  char ok = '0';
  holding_ = pid_ > 0 && read(ready[0], &ok, 1) == 1 && ok == '1';
  close(ready[0]);
  stop_ = stop[1];
}

HolderProcess::~HolderProcess() {
  Release();
}

void HolderProcess::Release() {
  if (stop_ >= 0) {
    close(stop_);
    stop_ = -1;
  }
  if (pid_ > 0) {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  holding_ = false;
}

}  // namespace kv::test
