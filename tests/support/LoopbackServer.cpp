#include "tests/support/LoopbackServer.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace kv::test {

namespace fs = std::filesystem;

namespace {

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

int RunScript(const std::string& arguments) {
  const std::string command = "KORVANE_FB_PORT=" + std::to_string(KV_FIREBIRD_PORT) +
                              " KORVANE_FIREBIRD_ROOT=" + ShellQuote(KV_FIREBIRD_ROOT) + " " +
                              ShellQuote(std::string(KV_SOURCE_DIR) + "/scripts/firebird-server") + " " +
                              arguments;
  const int status = std::system(command.c_str());
  return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void RunScriptOrThrow(const std::string& arguments) {
  if (RunScript(arguments) != 0) throw std::runtime_error("scripts/firebird-server " + arguments + " failed");
}

// Sets or removes one key of one section of an ini file, keeping the rest as it is.
void SetIniValue(const fs::path& file, const std::string& section, const std::string& key,
                 const std::optional<std::string>& value) {
  std::vector<std::string> lines;
  {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  const auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  const auto isSection = [&](const std::string& line) { return !line.empty() && line.front() == '['; };
  auto start = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return lower(line) == "[" + lower(section) + "]";
  });
  if (start == lines.end()) {
    if (value) lines.insert(lines.end(), {"[" + section + "]", key + "=" + *value});
  } else {
    const auto end = std::find_if(start + 1, lines.end(), isSection);
    const auto kept = std::remove_if(start + 1, end, [&](const std::string& line) {
      return lower(line.substr(0, line.find('='))) == lower(key);
    });
    lines.erase(kept, end);
    if (value) lines.insert(start + 1, key + "=" + *value);
  }
  const fs::path temp = file.string() + ".new";
  {
    std::ofstream o(temp, std::ios::trunc);
    for (const std::string& line : lines) o << line << "\n";
    if (!o.flush()) throw std::runtime_error("cannot write " + temp.string());
  }
  fs::rename(temp, file);
}

}  // namespace

int LoopbackServer::Port() {
  return KV_FIREBIRD_PORT;
}

fs::path LoopbackServer::Folder() {
  return KV_LOOPBACK_DIR;
}

std::string LoopbackServer::Address(const std::string& databasePath) {
  return "127.0.0.1:" + databasePath;
}

void LoopbackServer::AddAlias(const std::string& windowsPath, const fs::path& hostPath) {
  RunScriptOrThrow("alias " + ShellQuote(Folder().string()) + " " + ShellQuote(windowsPath) + " " +
                   ShellQuote(hostPath.string()));
}

void LoopbackServer::SetFreeSpace(char drive, std::optional<long long> bytes) {
  const std::string key =
      std::string("free_space_") + static_cast<char>(std::toupper(static_cast<unsigned char>(drive)));
  SetIniValue(Folder() / "prefix" / "prefix.ini", "udf", key,
              bytes ? std::optional<std::string>(std::to_string(*bytes)) : std::nullopt);
}

bool LoopbackServer::IsRunning() {
  return RunScript("status " + ShellQuote(Folder().string())) == 0;
}

void LoopbackServer::Start() {
  RunScriptOrThrow("start " + ShellQuote(Folder().string()));
}

void LoopbackServer::Stop() {
  RunScriptOrThrow("stop " + ShellQuote(Folder().string()));
}

StoppedLoopbackServer::StoppedLoopbackServer() {
  LoopbackServer::Stop();
}

StoppedLoopbackServer::~StoppedLoopbackServer() {
  try {
    LoopbackServer::Start();
  } catch (const std::exception& e) {
    std::cerr << "The loopback server did not start again: " << e.what() << "\n";
  }
}

FrozenLoopbackServer::FrozenLoopbackServer() {
  std::ifstream file(LoopbackServer::Folder() / "firebird.pid");
  if (!(file >> pid_) || pid_ <= 0) throw std::runtime_error("the loopback server has no pid");
  if (::kill(pid_, SIGSTOP) != 0) throw std::runtime_error("the loopback server cannot be stopped");
}

FrozenLoopbackServer::~FrozenLoopbackServer() {
  ::kill(pid_, SIGCONT);
}

}  // namespace kv::test
