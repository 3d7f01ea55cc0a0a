// kv_bench_extract: the speed and memory of extracting a large packaged file with
// ExtractResourceToFile, next to a plain zlib inflate loop over the same record.
//
// The packaged file is N MiB (default 100) of blocks: 85 % text (lines of words drawn with a
// skewed distribution from 4096 pseudo-words of 2 to 12 letters, with numbers here and there) and
// 15 % random bytes, blocks of 4 to 64 KiB, from a fixed seed. It is packaged the way kvpack
// packages it (zlib best level). Each phase runs in a fresh process (this program, re-executed)
// so that their memory figures start from the same point:
//   VmHWM    peak resident set of the process (includes the pages of the mapped package read);
//   +HWM     VmHWM minus the resident set just before the phase;
//   anon     peak anonymous resident memory (heap and stacks), sampled every millisecond;
//   +anon    that peak minus the anonymous memory just before the phase.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/Package.h"
#include "formats/PeImage.h"
#include "platform/MappedFile.h"
#include "platform/host/FileTimes.h"
#include "platform/host/Prefix.h"
#include "tools/kvpack/PackageBuilder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using kv::bench::AnonSampler;
using kv::bench::MakeContent;
using kv::bench::StatusKb;

constexpr const char* kResource = "BIG.BIN";
constexpr kv::win::FileTime kTime = 133000000001234567ULL;

struct PhaseResult {
  double seconds = 0;
  long hwmKb = 0;
  long baseKb = 0;
  long anonKb = 0;
  long anonBaseKb = 0;
};

void Print(const PhaseResult& r) {
  std::cout << r.seconds << " " << r.hwmKb << " " << r.baseKb << " " << r.anonKb << " " << r.anonBaseKb
            << "\n";
}

int PhaseEngine(const fs::path& package, const fs::path& out, const fs::path& prefix) {
  setenv("KORVANE_PREFIX", prefix.c_str(), 1);
  const std::string target = kv::host::Prefix::Current().ToWindows(out);
  const auto source = kv::OpenPackageFile(package.string());
  kv::SetCurrentPackage(source.get());
  PhaseResult r;
  r.baseKb = StatusKb("VmRSS");
  r.anonBaseKb = StatusKb("RssAnon");
  AnonSampler sampler;
  const auto start = Clock::now();
  std::string extracted;
  kv::ExtractResourceToFile(kResource, target, extracted);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.anonKb = sampler.Stop();
  r.hwmKb = StatusKb("VmHWM");
  kv::SetCurrentPackage(nullptr);
  if (extracted != target) throw kv::Error("resource not found");
  Print(r);
  return 0;
}

int PhaseZlib(const fs::path& package, const fs::path& out) {
  const kv::MappedFile file(package);
  const kv::PeImage image(file.Bytes());
  const auto entry = image.FindResource(kv::win::RT_RCDATA, kResource);
  if (!entry) throw kv::Error("resource not found");
  PhaseResult r;
  r.baseKb = StatusKb("VmRSS");
  r.anonBaseKb = StatusKb("RssAnon");
  AnonSampler sampler;
  const auto start = Clock::now();
  const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw kv::Error("cannot create " + out.string());
  z_stream z{};
  inflateInit(&z);
  z.next_in = const_cast<Bytef*>(entry->data.data());
  z.avail_in = static_cast<uInt>(entry->data.size());
  std::vector<unsigned char> buffer(64 * 1024);
  std::size_t header = 16;  // the length and time that precede the content
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    z.next_out = buffer.data();
    z.avail_out = static_cast<uInt>(buffer.size());
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) throw kv::Error("inflate failed");
    std::size_t produced = buffer.size() - z.avail_out, at = 0;
    const std::size_t skip = std::min(header, produced);
    header -= skip;
    at += skip;
    if (produced > at &&
        ::write(fd, buffer.data() + at, produced - at) != static_cast<ssize_t>(produced - at)) {
      throw kv::Error("write failed");
    }
  }
  inflateEnd(&z);
  ::close(fd);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.anonKb = sampler.Stop();
  r.hwmKb = StatusKb("VmHWM");
  Print(r);
  return 0;
}

PhaseResult RunPhase(const std::string& phase, const fs::path& package, const fs::path& out,
                     const fs::path& prefix) {
  const std::string command = "'/proc/" + std::to_string(::getpid()) + "/exe' --phase " + phase + " '" +
                              package.string() + "' '" + out.string() + "' '" + prefix.string() + "'";
  FILE* child = ::popen(command.c_str(), "r");
  if (child == nullptr) throw kv::Error("cannot run the phase " + phase);
  PhaseResult r;
  const int fields =
      std::fscanf(child, "%lf %ld %ld %ld %ld", &r.seconds, &r.hwmKb, &r.baseKb, &r.anonKb, &r.anonBaseKb);
  if (::pclose(child) != 0 || fields != 5) throw kv::Error("phase " + phase + " failed");
  return r;
}

bool SameContent(const fs::path& a, const fs::path& b) {
  const kv::MappedFile x(a), y(b);
  return x.Size() == y.Size() && std::equal(x.Bytes().begin(), x.Bytes().end(), y.Bytes().begin());
}

int Main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--phase") == 0) {
    if (std::strcmp(argv[2], "engine") == 0) return PhaseEngine(argv[3], argv[4], argv[5]);
    return PhaseZlib(argv[3], argv[4]);
  }
  std::uint64_t sizeMb = 100;
  int runs = 3;
  std::optional<fs::path> workArg;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--size-mb" && i + 1 < argc) {
      sizeMb = std::strtoull(argv[++i], nullptr, 10);
    } else if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--work" && i + 1 < argc) {
      workArg = argv[++i];
    } else {
      std::cerr << "usage: kv_bench_extract [--size-mb N] [--runs R] [--work DIR]\n";
      return 2;
    }
  }
  const kv::bench::WorkFolder workFolder(workArg.value_or(fs::path()));
  const fs::path& work = workFolder.Path();

  const std::uint64_t size = sizeMb << 20;
  const fs::path src = work / "src";
  fs::create_directories(src);
  const fs::path content = src / "big.bin";
  std::cout << "content: " << sizeMb << " MiB, 85 % word text / 15 % random bytes, fixed seed\n";
  MakeContent(content, size);
  const timespec times[2] = {{0, UTIME_OMIT}, kv::host::TimespecFromFileTime(kTime)};
  ::utimensat(AT_FDCWD, content.c_str(), times, 0);

  const fs::path package = work / "package.dll";
  auto start = Clock::now();
  kvpack::BuildPackage(kvpack::CollectInputs(src), package, std::nullopt);
  const double buildSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double mb = static_cast<double>(size) / 1e6;
  std::cout << "package: " << fs::file_size(package) << " bytes (" << 100.0 * fs::file_size(package) / size
            << " % of the content), built in " << buildSeconds << " s (" << mb / buildSeconds << " MB/s)\n";

  std::vector<PhaseResult> best(2);
  const char* phases[2] = {"engine", "zlib"};
  for (int run = 0; run < runs; ++run) {
    for (int p = 0; p < 2; ++p) {
      const fs::path out = work / (std::string("out-") + phases[p]);
      const PhaseResult r = RunPhase(phases[p], package, out, work / "prefix");
      if (!SameContent(out, content)) throw kv::Error(std::string(phases[p]) + ": the output differs");
      if (p == 0 && kv::host::FileTimeFromTimespec([&] {
                      struct stat st {};
                      ::stat(out.c_str(), &st);
                      return st.st_mtim;
                    }()) != kTime) {
        throw kv::Error("engine: the output's time differs from the record's");
      }
      fs::remove(out);
      if (run == 0 || r.seconds < best[p].seconds) best[p] = r;
    }
  }
  std::printf("%-24s %8s %8s %10s %10s %10s %10s\n", "phase (best run)", "seconds", "MB/s", "VmHWM KiB",
              "+HWM KiB", "anon KiB", "+anon KiB");
  const char* labels[2] = {"ExtractResourceToFile", "zlib inflate loop"};
  for (int p = 0; p < 2; ++p) {
    std::printf("%-24s %8.3f %8.1f %10ld %10ld %10ld %10ld\n", labels[p], best[p].seconds,
                mb / best[p].seconds, best[p].hwmKb, best[p].hwmKb - best[p].baseKb, best[p].anonKb,
                best[p].anonKb - best[p].anonBaseKb);
  }
  std::printf("MB/s counts 10^6 bytes of content per second; %d run(s) per phase\n", runs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "kv_bench_extract: " << e.what() << "\n";
    return 1;
  }
}
