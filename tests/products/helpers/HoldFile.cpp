// kv_hold_file PATH: another program that holds a file, for the end-to-end runs of the update
// programs on Linux and under Wine. It opens the Windows path through the port for reading and
// writing, sharing nothing, prints "held" once the file is open and keeps it open until its
// standard input ends. Exit code 1 (with the Windows error) when the file cannot be opened.
#include <iostream>
#include <string>

#include "platform/Win32.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: kv_hold_file PATH\n";
    return 2;
  }
  using namespace kv::win;
  const auto file = File::Create(argv[1], GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
  if (!file) {
    std::cerr << "kv_hold_file: " << argv[1] << ": error " << GetLastError() << "\n";
    return 1;
  }
  std::cout << "held" << std::endl;
  for (std::string line; std::getline(std::cin, line);) {
  }
  return 0;
}
