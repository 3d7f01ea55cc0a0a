// kv_bench_build: the speed and memory of building a package (kvpack build) with one worker and
// with one worker per core, on the same folder.
//
// The folder holds N files (default 16) of M MiB each (default 16, so 256 MiB), each made of the
// content kv_bench_extract packages, from its own fixed seed. Each build runs in a fresh process
// (this program, re-executed) so that their memory figures start from the same point:
//   VmHWM    peak resident set of the process (includes the pages of the mapped scratch files
//            while the package image is written);
//   anon     peak anonymous resident memory (heap and stacks: zlib streams and buffers),
//            sampled every millisecond;
//   +anon    that peak minus the anonymous memory just before the build.
// It also gives the CPU time of each build: on a machine that other programs keep busy, the
// elapsed times say little, while CPU time over elapsed time shows how many cores the build used.
// The two packages are compared byte for byte.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "platform/MappedFile.h"
#include "platform/host/FileTimes.h"
#include "tools/kvpack/PackageBuilder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using kv::bench::AnonSampler;
using kv::bench::MakeContent;
using kv::bench::StatusKb;

struct PhaseResult {
  double seconds = 0;
  double cpuSeconds = 0;  // user and system time of all the process's threads
  long hwmKb = 0;
  long anonKb = 0;
  long anonBaseKb = 0;
};

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int PhaseBuild(unsigned workers, const fs::path& src, const fs::path& out) {
  const auto inputs = kvpack::CollectInputs(src);
  PhaseResult r;
  r.anonBaseKb = StatusKb("RssAnon");
  AnonSampler sampler;
  const double cpuStart = CpuSeconds();
  const auto start = Clock::now();
  kvpack::BuildPackage(inputs, out, std::nullopt, workers);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.cpuSeconds = CpuSeconds() - cpuStart;
  r.anonKb = sampler.Stop();
  r.hwmKb = StatusKb("VmHWM");
  std::cout << r.seconds << " " << r.cpuSeconds << " " << r.hwmKb << " " << r.anonKb << " " << r.anonBaseKb
            << "\n";
  return 0;
}

PhaseResult RunPhase(unsigned workers, const fs::path& src, const fs::path& out) {
  const std::string command = "'/proc/" + std::to_string(::getpid()) + "/exe' --phase " +
                              std::to_string(workers) + " '" + src.string() + "' '" + out.string() + "'";
  FILE* child = ::popen(command.c_str(), "r");
  if (child == nullptr) throw kv::Error("cannot run the build with " + std::to_string(workers) + " workers");
  PhaseResult r;
  const int fields = std::fscanf(child, "%lf %lf %ld %ld %ld", &r.seconds, &r.cpuSeconds, &r.hwmKb, &r.anonKb,
                                 &r.anonBaseKb);
  if (::pclose(child) != 0 || fields != 5) {
    throw kv::Error("the build with " + std::to_string(workers) + " workers failed");
  }
  return r;
}

bool SameContent(const fs::path& a, const fs::path& b) {
  const kv::MappedFile x(a), y(b);
  return x.Size() == y.Size() && std::equal(x.Bytes().begin(), x.Bytes().end(), y.Bytes().begin());
}

int Main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--phase") == 0) {
    return PhaseBuild(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)), argv[3], argv[4]);
  }
  unsigned files = 16;
  std::uint64_t fileMb = 16;
  unsigned workers = std::max(1u, std::thread::hardware_concurrency());
  int runs = 1;
  std::optional<fs::path> workArg;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--files" && i + 1 < argc) {
      files = std::max(1u, static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10)));
    } else if (a == "--file-mb" && i + 1 < argc) {
      fileMb = std::strtoull(argv[++i], nullptr, 10);
    } else if (a == "--workers" && i + 1 < argc) {
      workers = std::max(1u, static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10)));
    } else if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--work" && i + 1 < argc) {
      workArg = argv[++i];
    } else {
      std::cerr << "usage: kv_bench_build [--files N] [--file-mb M] [--workers W] [--runs R] [--work DIR]\n";
      return 2;
    }
  }
  const kv::bench::WorkFolder workFolder(workArg.value_or(fs::path()));
  const fs::path& work = workFolder.Path();

  const fs::path src = work / "src";
  fs::create_directories(src);
  for (unsigned i = 0; i < files; ++i) {
    const fs::path file = src / ("file" + std::to_string(i) + ".bin");
    MakeContent(file, fileMb << 20, 20240501 + i);
    const timespec times[2] = {{0, UTIME_OMIT}, kv::host::TimespecFromFileTime(133000000000000000ULL + i)};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
  }
  const std::uint64_t size = static_cast<std::uint64_t>(files) * (fileMb << 20);
  const double mb = static_cast<double>(size) / 1e6;
  std::cout << "content: " << files << " files of " << fileMb << " MiB (" << (size >> 20)
            << " MiB), 85 % word text / 15 % random bytes, fixed seeds; "
            << std::thread::hardware_concurrency() << " core(s)\n";

  const unsigned counts[2] = {1, workers};
  std::vector<PhaseResult> best(2);
  for (int run = 0; run < runs; ++run) {
    for (int p = 0; p < 2; ++p) {
      const PhaseResult r = RunPhase(counts[p], src, work / ("package-" + std::to_string(p) + ".dll"));
      if (run == 0 || r.seconds < best[p].seconds) best[p] = r;
    }
  }
  const fs::path one = work / "package-0.dll", many = work / "package-1.dll";
  if (!SameContent(one, many))
    throw kv::Error("the packages of 1 and " + std::to_string(workers) + " workers differ");
  std::cout << "package: " << fs::file_size(one) << " bytes (" << 100.0 * fs::file_size(one) / size
            << " % of the content), identical with 1 and " << workers << " workers\n";

  std::printf("%-22s %8s %8s %8s %8s %6s %10s %10s %10s\n", "build (best run)", "seconds", "MB/s", "speed-up",
              "CPU s", "cores", "VmHWM KiB", "anon KiB", "+anon KiB");
  for (int p = 0; p < 2; ++p) {
    const std::string label = std::to_string(counts[p]) + (counts[p] == 1 ? " worker" : " workers");
    std::printf("%-22s %8.3f %8.1f %8.2f %8.3f %6.2f %10ld %10ld %10ld\n", label.c_str(), best[p].seconds,
                mb / best[p].seconds, best[0].seconds / best[p].seconds, best[p].cpuSeconds,
                best[p].cpuSeconds / best[p].seconds, best[p].hwmKb, best[p].anonKb,
                best[p].anonKb - best[p].anonBaseKb);
  }
  std::printf(
      "MB/s counts 10^6 bytes of content per second; cores: CPU time over elapsed time (below the\n"
      "worker count when other programs share the machine); %d run(s) per build\n",
      runs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "kv_bench_build: " << e.what() << "\n";
    return 1;
  }
}
