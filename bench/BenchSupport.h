// What the benchmarks share: memory figures of the running process and the generated content
// they package.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/Errors.h"

namespace kv::bench {

// A value of /proc/self/status in KiB ("VmHWM", "VmRSS", "RssAnon").
inline long StatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  const std::string prefix = std::string(key) + ":";
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(prefix)) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  }
  return -1;
}

// Samples the anonymous resident memory while it lives.
class AnonSampler {
 public:
  AnonSampler()
      : thread_([this] {
          while (!stop_.load()) {
            peak_ = std::max(peak_.load(), StatusKb("RssAnon"));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
        }) {}
  ~AnonSampler() { Stop(); }
  AnonSampler(const AnonSampler&) = delete;
  AnonSampler& operator=(const AnonSampler&) = delete;
  long Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return std::max(peak_.load(), StatusKb("RssAnon"));
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<long> peak_{0};
  std::thread thread_;
};

// `size` bytes of blocks from a fixed seed: 85 % text (lines of words drawn with a skewed
// distribution from 4096 pseudo-words of 2 to 12 letters, with numbers here and there) and 15 %
// random bytes, blocks of 4 to 64 KiB.
inline void MakeContent(const std::filesystem::path& path, std::uint64_t size,
                        std::uint64_t seed = 20240501) {
  std::mt19937_64 random(seed);
  std::vector<std::string> words(4096);
  for (std::string& w : words) {
    const std::size_t length = 2 + random() % 11;
    for (std::size_t i = 0; i < length; ++i) w += static_cast<char>('a' + random() % 26);
  }
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string block;
  std::uint64_t written = 0;
  while (written < size) {
    const std::size_t blockSize =
        static_cast<std::size_t>(std::min<std::uint64_t>(4096 + random() % (60 * 1024), size - written));
    block.clear();
    if (unit(random) < 0.85) {
      while (block.size() < blockSize) {
        const double u = unit(random);
        block += words[static_cast<std::size_t>(u * u * u * words.size())];  // common words come often
        const auto r = random() % 20;
        if (r == 0) {
          block += "\r\n";
        } else if (r == 1) {
          block.append(1, ' ').append(std::to_string(random() % 100000)).append(1, ' ');
        } else {
          block += ' ';
        }
      }
      block.resize(blockSize);
    } else {
      block.resize(blockSize);
      for (char& c : block) c = static_cast<char>(random() & 0xFF);
    }
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
    written += block.size();
  }
  if (!out.flush()) throw kv::Error("cannot write " + path.string());
}

// A fresh "kv-bench-XXXXXX" folder below parent (the system's temporary folder when empty),
// removed with everything in it when the benchmark ends.
class WorkFolder {
 public:
  explicit WorkFolder(const std::filesystem::path& parent) {
    std::string pattern =
        ((parent.empty() ? std::filesystem::temp_directory_path() : parent) / "kv-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw kv::Error("cannot create a work folder");
    path_ = pattern;
  }
  ~WorkFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace kv::bench
