// The address module: where its library is looked for, and giving a bound library back.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/Win32.h"
#include "products/dmAdresses2Unit.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::ScriptedUi;
using test::TempPrefix;

TEST(StripLastFolder, OneTrailingBackslashGoesThenTheLastName) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\Suite\\Updater\\", "C:\\Suite\\"},
      {"C:\\Suite\\Updater", "C:\\Suite\\"},
      {"C:\\Suite\\", "C:\\"},
      {"C:\\", "C:"},
      {"C:", "C:"},
      {"", ""},
      {"X:\\a\\\\", "X:\\a\\"},
      {"nom", "nom"},
  };
  for (const auto& [path, stripped] : cases) EXPECT_EQ(StripLastFolder(path), stripped) << path;
}

TEST(LocateAddressLibrary, TheFirstExistingCandidateAroundTheProgramWinsElseTheBareName) {
  struct Case {
    const char* label;
    const char* programFolder;
    std::vector<const char*> libraries;  // where TSAdresses2.dll lies
    std::string expected;
  };
  const Case cases[] = {
      {"started beside the library",
       "C:\\Suite\\Adresses\\Programs\\",
       {"C:\\Suite\\Adresses\\Programs\\TSAdresses2.dll"},
       "C:\\Suite\\Adresses\\Programs\\TSAdresses2.dll"},
      {"the program's own folder first",
       "C:\\Suite\\TSV\\Programs\\",
       {"C:\\Suite\\TSV\\Programs\\TSAdresses2.dll", "C:\\Suite\\Adresses\\Programs\\TSAdresses2.dll"},
       "C:\\Suite\\TSV\\Programs\\TSAdresses2.dll"},
      {"a product's programs beside the address module",
       "C:\\Suite\\TSV\\Programs\\",
       {"C:\\Suite\\Adresses\\Programs\\TSAdresses2.dll", "C:\\Suite\\Adresses_2\\Programs\\TSAdresses2.dll"},
       "C:\\Suite\\Adresses\\Programs\\TSAdresses2.dll"},
      {"the second address module",
       "C:\\Suite\\TSV\\Programs\\",
       {"C:\\Suite\\Adresses_2\\Programs\\TSAdresses2.dll", "C:\\Suite\\TSV\\Common files\\TSAdresses2.dll"},
       "C:\\Suite\\Adresses_2\\Programs\\TSAdresses2.dll"},
      {"a Common files folder one level up",
       "C:\\Suite\\TSV\\Programs\\",
       {"C:\\Suite\\TSV\\Common files\\TSAdresses2.dll"},
       "C:\\Suite\\TSV\\Common files\\TSAdresses2.dll"},
      {"a CD-ROM folder without the library",
       "D:\\Setup\\",
       {"C:\\Suite\\Adresses\\Programs\\TSAdresses2.dll"},
       "TSAdresses2.dll"},
      {"a drive root", "C:\\", {"C:\\Suite\\Adresses\\Programs\\TSAdresses2.dll"}, "TSAdresses2.dll"},
  };
  for (const Case& c : cases) {
    TempPrefix prefix;
    prefix.AddDrive('D', "cdrom");
    for (const char* library : c.libraries) prefix.WriteFile(library, "MZ");
    EXPECT_EQ(TdmAdresses2::LocateAddressLibrary(c.programFolder), c.expected) << c.label;
  }
}

TEST(LocateAddressLibrary, AFolderOfTheLibrarysNameIsNotTheLibrary) {
  TempPrefix prefix;
  fs::create_directories(prefix.Host("C:\\Suite\\TSV\\Programs\\TSAdresses2.dll"));
  prefix.WriteFile("C:\\Suite\\TSV\\Common files\\TSAdresses2.dll", "MZ");
  EXPECT_EQ(TdmAdresses2::LocateAddressLibrary("C:\\Suite\\TSV\\Programs\\"),
            "C:\\Suite\\TSV\\Common files\\TSAdresses2.dll");
}

// A library handed over by the loading side, recording what is done with it.
struct LibraryLog {
  std::vector<std::string> calls;
  bool releaseSucceeds = true;
};

class FakeLibrary : public TdmAdresses2::LoadedLibrary {
 public:
  explicit FakeLibrary(LibraryLog& log) : log_(log) {}
  bool Release() override {
    log_.calls.push_back("release");
    if (log_.releaseSucceeds) return true;
    win::SetLastError(win::ERROR_INVALID_HANDLE);
    return false;
  }

 private:
  LibraryLog& log_;
};

int g_entry = 0;

TEST(UnloadAddressLibrary, TheShutdownRoutineRunsBeforeTheReleaseAndEverythingIsForgotten) {
  ScriptedUi ui;
  LibraryLog log;
  TdmAdresses2 module;
  module.UnloadAddressLibrary();  // nothing loaded: nothing to do
  module.AttachLibrary(std::make_unique<FakeLibrary>(log), [&] { log.calls.push_back("shutdown"); },
                       {{"OpenAddressBook", &g_entry}});
  EXPECT_TRUE(module.Loaded());
  module.DataModuleDestroy();
  EXPECT_EQ(log.calls, (std::vector<std::string>{"shutdown", "release"}));
  EXPECT_FALSE(module.Loaded());
  EXPECT_TRUE(module.EntryPoints().empty());
  module.UnloadAddressLibrary();
  EXPECT_EQ(log.calls.size(), 2u);  // released once
  EXPECT_TRUE(ui.Boxes().empty());
}

TEST(UnloadAddressLibrary, ALibraryWithoutShutdownRoutineIsReleasedByTheDestructor) {
  ScriptedUi ui;
  LibraryLog log;
  {
    TdmAdresses2 module;
    module.AttachLibrary(std::make_unique<FakeLibrary>(log), nullptr, {});
  }
  EXPECT_EQ(log.calls, std::vector<std::string>{"release"});
  EXPECT_TRUE(ui.Boxes().empty());
}

TEST(UnloadAddressLibrary, AFailedReleaseShowsTheSystemErrorAndKeepsTheLibrary) {
  ScriptedUi ui;
  LibraryLog log;
  log.releaseSucceeds = false;
  TdmAdresses2 module;
  module.AttachLibrary(std::make_unique<FakeLibrary>(log), nullptr, {{"OpenAddressBook", &g_entry}});
  module.UnloadAddressLibrary();
  EXPECT_TRUE(module.Loaded());
  EXPECT_EQ(module.EntryPoints().size(), 1u);
  ASSERT_EQ(ui.Boxes().size(), 1u);
  EXPECT_EQ(ui.Boxes()[0].kind, MessageKind::Error);
  EXPECT_EQ(ui.Boxes()[0].text, "\r\n" + SystemErrorText(win::ERROR_INVALID_HANDLE));
  EXPECT_THROW(module.AttachLibrary(std::make_unique<FakeLibrary>(log), nullptr, {}), Error);

  // Given back at last when the release works.
  log.releaseSucceeds = true;
  module.UnloadAddressLibrary();
  EXPECT_FALSE(module.Loaded());
  EXPECT_EQ(log.calls, (std::vector<std::string>{"release", "release"}));
}

}  // namespace
}  // namespace kv
