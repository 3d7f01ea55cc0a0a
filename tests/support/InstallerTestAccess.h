// Reaches the private routines and seams of TWindowsInstaller from its tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/InstallTools2.h"

namespace kv {

struct TWindowsInstallerTestAccess {
  static std::string EncodeBase32Digits(std::uint32_t n) { return TWindowsInstaller::EncodeBase32Digits(n); }
  static std::string MakeTempNameInDir(const std::string& dir, const std::string& ext) {
    return TWindowsInstaller::MakeTempNameInDir(dir, ext);
  }
  static std::string MakeNumberedFileName(const std::string& f) {
    return TWindowsInstaller::MakeNumberedFileName(f);
  }
  static void ScheduleReplaceAtRestart(const std::string& source, const std::string& target) {
    TWindowsInstaller::ScheduleReplaceAtRestart(source, target);
  }
  static void ReplaceTargetFile(const std::string& source, const std::string& target, bool& mustReboot) {
    TWindowsInstaller::ReplaceTargetFile(source, target, mustReboot);
  }
  static std::string StripTrailingBackslash(const std::string& p) {
    return TWindowsInstaller::StripTrailingBackslash(p);
  }

  // Replaces the seams for the guard's life.
  class Seams {
   public:
    Seams() : saved_(TWindowsInstaller::TheSeams()) {}
    ~Seams() { TWindowsInstaller::TheSeams() = saved_; }
    Seams(const Seams&) = delete;
    Seams& operator=(const Seams&) = delete;

    void RandomStart(std::function<std::uint32_t()> f) {
      TWindowsInstaller::TheSeams().randomStart = std::move(f);
    }
    void NameTaken(std::function<bool(const std::string&)> f) {
      TWindowsInstaller::TheSeams().nameTaken = std::move(f);
    }
    void Wait(std::function<void(std::uint32_t)> f) { TWindowsInstaller::TheSeams().wait = std::move(f); }

   private:
    TWindowsInstaller::Seams saved_;
  };
};

}  // namespace kv
