// kvpack, run as the developers run it, and its packages read next to one that the mingw-w64
// toolchain builds.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <sstream>

#include "engine/Package.h"
#include "formats/PeWriter.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/PeFixtures.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::CommandResult;
using test::HostLastWriteTime;
using test::ReadHostFile;
using test::RunProgram;
using test::WriteHostFile;

struct SourceFile {
  const char* path;  // below the source folder
  const char* resource;
  std::string content;
  win::FileTime time;
};

// Files of a small update, with last-write times that use every 100-ns digit.
std::vector<SourceFile> UpdateFiles() {
  return {
      {"Updates.txt", "UPDATES.TXT", "Common\r\n", 132567987061234567ULL},
      {"AppInfo1.txt", "APPINFO1.TXT", "Fichiers communs\r\n", 132567987069999999ULL},
      {"pls/SA-00.int", "PLS\\SA-00.INT", "COM: ventes\r\nDES: liste\r\n", 131000000000000001ULL},
      {"Sub/Deeper/lib.dll", "SUB\\DEEPER\\LIB.DLL", test::RandomBytes(700000, 21), 133000000001234500ULL},
      {"notice.rtf", "NOTICE.RTF", test::WordText(400000, 22), 132000000000000000ULL},
      {"empty.dat", "EMPTY.DAT", "", 130000000000000007ULL},
  };
}

void WriteSources(const fs::path& folder, const std::vector<SourceFile>& files) {
  for (const SourceFile& f : files) {
    WriteHostFile(folder / f.path, f.content);
    test::SetHostLastWriteTime(folder / f.path, f.time);
  }
}

struct ReadBack {
  std::string content;
  win::FileTime time = 0;
  std::vector<std::uint8_t> record;
};

// Every record, read whole; `skip` names a resource that is not a record.
std::map<std::string, ReadBack> ReadAll(const PackageSource& package, const std::string& skip = "") {
  std::map<std::string, ReadBack> all;
  for (const std::string& name : package.Names()) {
    if (name == skip) continue;
    ReadBack& r = all[name];
    const auto record = package.FindRecord(name);
    r.record.assign(record->begin(), record->end());
    r.time = InflateRecord(*record, [&](const std::uint8_t* p, std::size_t n) {
               r.content.append(reinterpret_cast<const char*>(p), n);
             }).time;
  }
  return all;
}

CommandResult RunKvpack(const std::vector<std::string>& args) {
  std::vector<std::string> argv{test::KvpackPath().string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class Kvpack : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(test::KvpackPath())) << "build the kvpack target first";
    WriteSources(src_, files_);
  }
  fs::path Path(const std::string& name) const { return dir_.Path() / name; }

  test::TempDir dir_;
  const fs::path src_ = dir_.Path() / "src";
  const std::vector<SourceFile> files_ = UpdateFiles();
};

TEST_F(Kvpack, BuildStoresEveryFileUnderItsUpperCaseNameWithItsTime) {
  const CommandResult build = RunKvpack({"build", src_.string(), "-o", Path("pkg.dll").string()});
  ASSERT_EQ(build.exitCode, 0) << build.err;
  const auto package = OpenPackageFile(Path("pkg.dll").string());
  const auto all = ReadAll(*package);
  ASSERT_EQ(all.size(), files_.size());
  for (const SourceFile& f : files_) {
    SCOPED_TRACE(f.resource);
    ASSERT_EQ(all.count(f.resource), 1u);
    const ReadBack& r = all.at(f.resource);
    EXPECT_TRUE(r.content == f.content);
    EXPECT_EQ(r.time, f.time);
    EXPECT_EQ(r.record, MakeRecord(f.content, f.time)) << "zlib at its best level";
  }
  // Stored under the neutral language, in the order the PE writer gives.
  const std::string image = ReadHostFile(Path("pkg.dll"));
  const PeImage pe({reinterpret_cast<const std::uint8_t*>(image.data()), image.size()});
  std::vector<std::string> order;
  for (const ResourceEntry& e : pe.ListResources(win::RT_RCDATA)) {
    EXPECT_EQ(e.language, kPackageLanguage);
    order.push_back(e.id.name);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"APPINFO1.TXT", "EMPTY.DAT", "NOTICE.RTF", "PLS\\SA-00.INT",
                                             "SUB\\DEEPER\\LIB.DLL", "UPDATES.TXT"}));
}

TEST_F(Kvpack, SameInputsGiveTheSameBytes) {
  // The same files written in the opposite order, so the folders list them differently.
  const fs::path other = Path("other");
  std::vector<SourceFile> reversed(files_.rbegin(), files_.rend());
  WriteSources(other, reversed);
  const fs::path stub = Path("stub");
  fs::copy_file(test::KvpackPath(), stub);

  for (const bool withStub : {false, true}) {
    SCOPED_TRACE(withStub ? "update executable" : "package file");
    std::vector<std::string> extra;
    if (withStub) extra = {"--stub", stub.string()};
    std::vector<std::string> outputs;
    for (const fs::path& from : {src_, src_, other}) {
      const std::string out =
          Path("out" + std::to_string(outputs.size()) + (withStub ? ".exe" : ".dll")).string();
      std::vector<std::string> args{"build", from.string(), "-o", out};
      args.insert(args.end(), extra.begin(), extra.end());
      const CommandResult build = RunKvpack(args);
      ASSERT_EQ(build.exitCode, 0) << build.err;
      outputs.push_back(ReadHostFile(out));
    }
    EXPECT_TRUE(outputs[0] == outputs[1]) << "built twice";
    EXPECT_TRUE(outputs[0] == outputs[2]) << "built from a copy";
  }
}

// Files compressed side by side, in whatever order the workers finish them, give the bytes of a
// one-worker build: more files than workers, of sizes that make the workers overtake each other.
TEST_F(Kvpack, WorkersDoNotChangeTheBytes) {
  for (std::uint32_t i = 0; i < 12; ++i) {
    const std::size_t size = (i % 4 == 0) ? 900000 + i * 1000 : 20000 + i * 15000;
    WriteHostFile(src_ / ("part" + std::to_string(i) + ".bin"),
                  i % 3 == 0 ? test::RandomBytes(size, 100 + i) : test::WordText(size, 100 + i));
  }
  const fs::path stub = Path("stub");
  fs::copy_file(test::KvpackPath(), stub);
  std::string reference;
  for (const char* jobs : {"1", "2", "3", "8", "32"}) {
    SCOPED_TRACE(std::string("--jobs ") + jobs);
    const fs::path out = Path(std::string("out-") + jobs + ".exe");
    const CommandResult build =
        RunKvpack({"build", src_.string(), "-o", out.string(), "--stub", stub.string(), "--jobs", jobs});
    ASSERT_EQ(build.exitCode, 0) << build.err;
    const std::string bytes = ReadHostFile(out);
    if (reference.empty()) {
      reference = bytes;
      ASSERT_EQ(ReadAll(*OpenPackageFile(out.string())).size(), files_.size() + 12);
    } else {
      EXPECT_TRUE(bytes == reference) << "differs from the one-worker build";
    }
  }
  // Without --jobs: one worker per core, the same bytes again.
  const CommandResult build =
      RunKvpack({"build", src_.string(), "-o", Path("out.exe").string(), "--stub", stub.string()});
  ASSERT_EQ(build.exitCode, 0) << build.err;
  EXPECT_TRUE(ReadHostFile(Path("out.exe")) == reference);
}

TEST_F(Kvpack, ListShowsNameLengthTimeAndCompressedSize) {
  ASSERT_EQ(RunKvpack({"build", src_.string(), "-o", Path("pkg.dll").string()}).exitCode, 0);
  const CommandResult list = RunKvpack({"list", Path("pkg.dll").string()});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  const auto lines = Lines(list.out);
  ASSERT_EQ(lines.size(), files_.size() + 1);
  EXPECT_EQ(lines[0], "name\tlength\tlocal time\tFILETIME\tcompressed");
  const auto package = OpenPackageFile(Path("pkg.dll").string());
  for (const SourceFile& f : files_) {
    SCOPED_TRACE(f.resource);
    const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.starts_with(std::string(f.resource) + "\t");
    });
    ASSERT_NE(line, lines.end());
    std::istringstream fields(*line);
    std::string name, length, local, filetime, compressed;
    std::getline(fields, name, '\t');
    std::getline(fields, length, '\t');
    std::getline(fields, local, '\t');
    std::getline(fields, filetime, '\t');
    std::getline(fields, compressed, '\t');
    EXPECT_EQ(length, std::to_string(f.content.size()));
    EXPECT_EQ(filetime, std::to_string(f.time));
    EXPECT_EQ(compressed, std::to_string(package->FindRecord(f.resource)->size()));
    // The local time keeps the seven digits of the 100-ns unit.
    const std::string digits = std::to_string(f.time % 10000000 + 10000000).substr(1);
    EXPECT_TRUE(local.ends_with("." + digits)) << local;
    EXPECT_EQ(local.size(), std::string("2021-02-03T04:05:06.1234567").size()) << local;
  }
}

TEST_F(Kvpack, ExtractWritesTheFilesBackWithTheirTimes) {
  ASSERT_EQ(RunKvpack({"build", src_.string(), "-o", Path("pkg.dll").string()}).exitCode, 0);
  const CommandResult extract = RunKvpack({"extract", Path("pkg.dll").string(), Path("out").string()});
  ASSERT_EQ(extract.exitCode, 0) << extract.err;
  std::vector<std::string> expected;
  for (const SourceFile& f : files_) {
    std::string path = f.resource;
    std::replace(path.begin(), path.end(), '\\', '/');
    expected.push_back(path);
    SCOPED_TRACE(path);
    EXPECT_TRUE(ReadHostFile(Path("out") / path) == f.content);
    EXPECT_EQ(HostLastWriteTime(Path("out") / path), f.time);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(test::FilesBelow(Path("out")), expected) << "nothing else, no temporary file";

  // The extracted folder packs again into the same records.
  ASSERT_EQ(RunKvpack({"build", Path("out").string(), "-o", Path("again.dll").string()}).exitCode, 0);
  EXPECT_TRUE(ReadHostFile(Path("again.dll")) == ReadHostFile(Path("pkg.dll")));
}

TEST_F(Kvpack, StubBuildMakesAnExecutableUpdaterCarryingThePackage) {
  const fs::path stub = Path("updater");
  fs::copy_file(test::KvpackPath(), stub);
  const fs::path out = Path("update-common");
  const CommandResult build =
      RunKvpack({"build", src_.string(), "-o", out.string(), "--stub", stub.string()});
  ASSERT_EQ(build.exitCode, 0) << build.err;

  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IXUSR, 0u);
  const std::string program = ReadHostFile(stub);
  const std::string update = ReadHostFile(out);
  EXPECT_TRUE(update.compare(0, program.size(), program) == 0) << "begins with the stub unchanged";

  const auto all = ReadAll(*OpenPackageFile(out.string()));
  ASSERT_EQ(all.size(), files_.size());
  EXPECT_EQ(all.at("UPDATES.TXT").content, "Common\r\n");

  // The updater finds its own package through /proc/self/exe.
  const CommandResult self = RunProgram({out.string(), "list", "--self"});
  ASSERT_EQ(self.exitCode, 0) << self.err;
  EXPECT_EQ(Lines(self.out), Lines(RunKvpack({"list", out.string()}).out));
  EXPECT_EQ(Lines(self.out).size(), files_.size() + 1);
  const CommandResult bare = RunKvpack({"list", "--self"});
  EXPECT_EQ(bare.exitCode, 1) << "the kvpack that was built carries no package";
}

TEST_F(Kvpack, UsageErrorsExitWithTwo) {
  const std::string dir = src_.string();
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"build"},
      {"build", dir},
      {"build", dir, "-o"},
      {"build", "-o", Path("x.dll").string()},
      {"build", dir, "-o", Path("x.dll").string(), "--bogus"},
      {"build", dir, dir, "-o", Path("x.dll").string()},
      {"build", dir, "-o", Path("x.dll").string(), "--jobs"},
      {"build", dir, "-o", Path("x.dll").string(), "--jobs", "0"},
      {"build", dir, "-o", Path("x.dll").string(), "--jobs", "two"},
      {"build", dir, "-o", Path("x.dll").string(), "--jobs", "-1"},
      {"list"},
      {"list", "a", "b"},
      {"extract", "only-one"},
  };
  for (const auto& args : cases) {
    std::string label;
    for (const std::string& a : args) label += a + " ";
    SCOPED_TRACE(label);
    const CommandResult r = RunKvpack(args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("usage"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(Path("x.dll")));
}

TEST_F(Kvpack, FailuresExitWithOneAndAClearMessage) {
  // A package holding a name that would leave the extraction folder, and a damaged record.
  PeWriter writer;
  writer.Add(win::RT_RCDATA, ResourceId("..\\EVIL.TXT"), 0, MakeRecord("x", 1));
  test::WritePe(writer, Path("evil.dll"));
  PeWriter damagedWriter;
  auto damaged = MakeRecord(test::RandomBytes(100000, 5), 1);
  damaged[damaged.size() / 2] ^= 0xFF;
  damagedWriter.Add(win::RT_RCDATA, ResourceId("DAMAGED.BIN"), 0, damaged);
  test::WritePe(damagedWriter, Path("damaged.dll"));
  // A record whose time no file can carry.
  PeWriter absurdWriter;
  absurdWriter.Add(win::RT_RCDATA, ResourceId("ABSURD.BIN"), 0,
                   test::ZlibStream(test::RecordPayload(1, 0x8000000000000000ULL, "x"), 9));
  test::WritePe(absurdWriter, Path("absurd.dll"));
  WriteHostFile(Path("collide/a.txt"), "1");
  WriteHostFile(Path("collide/A.TXT"), "2");
  WriteHostFile(Path("text.txt"), "not a package");
  // Among files that other workers compress meanwhile, one whose content outgrows its size (a
  // kernel file reports 0 bytes): the build stops with its error, whatever the workers.
  for (int i = 0; i < 6; ++i)
    WriteHostFile(Path("growing/f" + std::to_string(i) + ".bin"), test::WordText(300000, 40 + i));
  fs::create_symlink("/proc/version", Path("growing/f3-kernel.txt"));

  const struct {
    const char* label;
    std::vector<std::string> args;
    std::string messagePart;
  } cases[] = {
      {"missing folder", {"build", Path("nowhere").string(), "-o", Path("x.dll").string()}, "nowhere"},
      {"two files, one name", {"build", Path("collide").string(), "-o", Path("x.dll").string()}, "A.TXT"},
      {"missing stub",
       {"build", src_.string(), "-o", Path("x.dll").string(), "--stub", Path("nostub").string()},
       "nostub"},
      {"a file that grows, one worker",
       {"build", Path("growing").string(), "-o", Path("x.dll").string(), "--jobs", "1"},
       "f3-kernel.txt : Le fichier a grandi pendant sa lecture"},
      {"a file that grows, three workers",
       {"build", Path("growing").string(), "-o", Path("x.dll").string(), "--jobs", "3"},
       "f3-kernel.txt : Le fichier a grandi pendant sa lecture"},
      {"not a package", {"list", Path("text.txt").string()}, "text.txt"},
      {"unsafe name",
       {"extract", Path("evil.dll").string(), Path("out/inner").string()},
       "Nom de fichier refusé dans le paquet : ..\\EVIL.TXT"},
      {"damaged record", {"extract", Path("damaged.dll").string(), Path("out2").string()}, "DAMAGED.BIN"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const CommandResult r = RunKvpack(c.args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(c.messagePart), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(Path("x.dll")));
  EXPECT_FALSE(fs::exists(Path("out/EVIL.TXT")));
  EXPECT_FALSE(fs::exists(Path("out2/DAMAGED.BIN")));
  // A record whose header cannot be read is no packaged file to either command: skipped, with why.
  const CommandResult extracted = RunKvpack({"extract", Path("absurd.dll").string(), Path("out3").string()});
  EXPECT_EQ(extracted.exitCode, 0) << extracted.err;
  EXPECT_NE(extracted.err.find("ABSURD.BIN skipped"), std::string::npos) << extracted.err;
  EXPECT_NE(extracted.err.find("hors des dates possibles"), std::string::npos) << extracted.err;
  EXPECT_FALSE(fs::exists(Path("out3/ABSURD.BIN")));
  const CommandResult listed = RunKvpack({"list", Path("absurd.dll").string()});
  EXPECT_EQ(listed.exitCode, 0) << listed.err;
  EXPECT_NE(listed.out.find("ABSURD.BIN\t-\t-\t-\t"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("hors des dates possibles"), std::string::npos) << listed.out;
  for (const std::string& file : test::FilesBelow(dir_.Path())) {
    EXPECT_TRUE(file.find(".part-") == std::string::npos && file.find(".records-") == std::string::npos)
        << "temporary file left: " << file;
  }
}

// What a Windows toolchain builds: each record an RCDATA resource of an .rc file, compiled by
// windres and linked by ld, as a DLL and as an EXE.
TEST_F(Kvpack, ReadsTheSamePackageFromAMingwBuiltImage) {
  const auto windres = test::FindOnPath("x86_64-w64-mingw32-windres");
  const auto ld = test::FindOnPath("x86_64-w64-mingw32-ld");
  const auto cpp = test::FindOnPath("cpp");
  ASSERT_TRUE(windres && ld && cpp)
      << "binutils-mingw-w64-x86-64 and cpp are needed: run scripts/install-deps";

  const fs::path work = Path("mingw");
  fs::create_directories(work);
  std::ofstream rc(work / "package.rc");
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const std::string recordFile = "record" + std::to_string(i) + ".bin";
    const auto record = MakeRecord(files_[i].content, files_[i].time);
    WriteHostFile(work / recordFile, std::string(record.begin(), record.end()));
    std::string quoted;
    for (const char c : std::string(files_[i].resource))
      quoted += c == '\\' ? std::string("\\\\") : std::string(1, c);
    // A LANGUAGE statement before each resource also keeps windres from joining adjacent strings.
    rc << "LANGUAGE 0, 0\n\"" << quoted << "\" RCDATA \"" << recordFile << "\"\n";
  }
  // A resource of the toolchain's own, as Windows linkers and frameworks add them.
  WriteHostFile(work / "extra.bin", "sixteen bytes!!!");
  rc << "LANGUAGE 0, 0\nDVCLAL RCDATA \"extra.bin\"\n";
  rc.close();

  const CommandResult compile = RunProgram(
      {windres->string(), "--preprocessor=cpp", "-i", "package.rc", "-O", "coff", "-o", "package.o"}, work);
  ASSERT_EQ(compile.exitCode, 0) << compile.err;

  ASSERT_EQ(RunKvpack({"build", src_.string(), "-o", Path("kvpack.dll").string()}).exitCode, 0);
  const auto ours = ReadAll(*OpenPackageFile(Path("kvpack.dll").string()));

  const struct {
    const char* label;
    std::vector<std::string> linkOptions;
    const char* output;
  } links[] = {{"DLL", {"-shared", "-e", "0"}, "package.dll"}, {"EXE", {"-e", "0"}, "update.exe"}};
  for (const auto& link : links) {
    SCOPED_TRACE(link.label);
    std::vector<std::string> args{ld->string()};
    args.insert(args.end(), link.linkOptions.begin(), link.linkOptions.end());
    args.insert(args.end(), {"package.o", "-o", link.output});
    const CommandResult linked = RunProgram(args, work);
    ASSERT_EQ(linked.exitCode, 0) << linked.err;

    const auto package = OpenPackageFile((work / link.output).string());
    const auto names = package->Names();
    ASSERT_NE(std::find(names.begin(), names.end(), "DVCLAL"), names.end());
    const auto theirs = ReadAll(*package, "DVCLAL");
    ASSERT_EQ(theirs.size(), ours.size());
    for (const auto& [name, r] : ours) {
      SCOPED_TRACE(name);
      ASSERT_EQ(theirs.count(name), 1u);
      EXPECT_TRUE(theirs.at(name).content == r.content);
      EXPECT_EQ(theirs.at(name).time, r.time);
      EXPECT_EQ(theirs.at(name).record, r.record);
    }

    // kvpack reads it too, and passes over the resource that is not a record.
    const CommandResult list = RunKvpack({"list", (work / link.output).string()});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_EQ(Lines(list.out).size(), files_.size() + 2);
    const fs::path out = Path(std::string("extracted-") + link.label);
    const CommandResult extract = RunKvpack({"extract", (work / link.output).string(), out.string()});
    EXPECT_EQ(extract.exitCode, 0) << extract.err;
    EXPECT_NE(extract.err.find("DVCLAL"), std::string::npos) << "the skipped resource is named";
    EXPECT_EQ(test::FilesBelow(out).size(), files_.size());
    EXPECT_EQ(HostLastWriteTime(out / "PLS" / "SA-00.INT"), 131000000000000001ULL);
  }
}

}  // namespace
}  // namespace kv
