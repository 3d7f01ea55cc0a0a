// The server function library as Firebird's own embedded engine loads it from the private root:
// a new database per test, the functions declared as every database declares them, called
// through SQL by isql-fb.
#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/Prefix.h"
#include "tests/support/Isql.h"
#include "tests/support/TempPrefix.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

class ServerFunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string script = "create database " + SqlString(Database()) + " default character set ISO8859_1;\n";
    for (const std::string& declaration : ServerFunctionDeclarations()) script += declaration + ";\n";
    script +=
        "commit;\nset term ^ ;\ncreate procedure GETLOG\nreturns (LOGDATA blob)\nas\nbegin\n"
        "LOGDATA = GetLogData();\nsuspend;\nend^\nset term ; ^\ncommit;\n";
    const IsqlResult created = RunIsql(script);
    ASSERT_EQ(created.exitCode, 0) << created.out << created.err;
    ASSERT_EQ(created.err, "");
  }

  std::string Database() const { return (dir_.Path() / "functions.fdb").string(); }

  // One row of expressions, read back column by column (C0, C1, ...).
  std::vector<std::string> Select(const std::vector<std::string>& expressions,
                                  const fs::path& root = KV_FIREBIRD_ROOT) const {
    std::string script = "connect " + SqlString(Database()) + ";\nset list on;\nselect ";
    for (std::size_t i = 0; i < expressions.size(); ++i) {
      script += (i ? ", " : "") + expressions[i] + " as C" + std::to_string(i);
    }
    script += " from rdb$database;\n";
    const IsqlResult result = RunIsql(script, root);
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    std::vector<std::string> values;
    for (std::size_t i = 0; i < expressions.size(); ++i)
      values.push_back(result.Value("C" + std::to_string(i)));
    return values;
  }

  std::string SelectOne(const std::string& expression) const { return Select({expression}).front(); }

  TempPrefix prefix_;
  TempDir dir_;
};

long long FreeBytes(const fs::path& folder) {
  struct statvfs fs {};
  if (statvfs(folder.c_str(), &fs) != 0) return -1;
  return static_cast<long long>(fs.f_bavail) * static_cast<long long>(fs.f_frsize);
}

TEST_F(ServerFunctionsTest, GetFreeDiskSpaceAnswersTheFreeBytesOfTheFolderBehindTheDrive) {
  const fs::path driveC = prefix_.Root() / "drives" / "c";
  const long long before = FreeBytes(driveC);
  const std::vector<std::string> answers = Select({"GetFreeDiskSpace('C')", "GetFreeDiskSpace('c')"});
  const long long after = FreeBytes(driveC);
  ASSERT_GT(before, 0);
  // Other programs write to the same disk meanwhile: the answer lies near both measures.
  const long long tolerance = 256LL * 1024 * 1024;
  for (const std::string& answer : answers) {
    const long long bytes = std::stoll(answer);
    EXPECT_GE(bytes, std::min(before, after) - tolerance) << answer;
    EXPECT_LE(bytes, std::max(before, after) + tolerance) << answer;
  }
}

TEST_F(ServerFunctionsTest, GetFreeDiskSpaceFollowsADriveLinkedToAnotherFileSystem) {
  // /dev/shm (memory) and the prefix's disk have far apart free spaces.
  const fs::path memory = "/dev/shm";
  const long long tolerance = 256LL * 1024 * 1024;
  ASSERT_GT(std::llabs(FreeBytes(memory) - FreeBytes(prefix_.Root())), 4 * tolerance);
  host::Prefix::Current().MapDrive('E', "fixed", memory);
  const long long bytes = std::stoll(SelectOne("GetFreeDiskSpace('E')"));
  EXPECT_NEAR(static_cast<double>(bytes), static_cast<double>(FreeBytes(memory)),
              static_cast<double>(tolerance));
}

TEST_F(ServerFunctionsTest, GetFreeDiskSpaceOfAnUnmappedZIsThatOfTheHostRoot) {
  // As for paths, Z: reaches the host's own root when the prefix does not map it.
  const long long tolerance = 256LL * 1024 * 1024;
  const long long bytes = std::stoll(SelectOne("GetFreeDiskSpace('Z')"));
  EXPECT_NEAR(static_cast<double>(bytes), static_cast<double>(FreeBytes("/")),
              static_cast<double>(tolerance));
}

TEST_F(ServerFunctionsTest, GetFreeDiskSpaceCannotTellForAnUnmappedDriveOrABadLetter) {
  for (const std::string& value :
       Select({"GetFreeDiskSpace('Q')", "GetFreeDiskSpace('1')", "GetFreeDiskSpace('')",
               "GetFreeDiskSpace(NULL)", "GetFreeDiskSpace('\\')"})) {
    EXPECT_LE(std::stoll(value), 0) << value;
  }
}

TEST_F(ServerFunctionsTest, GetFreeDiskSpaceObeysThePrefixSetting) {
  struct Case {
    std::string setting;
    std::string answer;
  };
  for (const Case& c : std::vector<Case>{{"120000000", "120000000"},
                                         {"40000000", "40000000"},
                                         {"0", "0"},
                                         {"6000000000000", "6000000000000"},
                                         {"beaucoup", "-1"}}) {
    host::Prefix::Current().SetIni("udf", "free_space_C", c.setting);
    EXPECT_EQ(SelectOne("GetFreeDiskSpace('C')"), c.answer) << c.setting;
  }
  // The setting of one drive leaves the others alone.
  EXPECT_LE(std::stoll(SelectOne("GetFreeDiskSpace('Q')")), 0);
}

TEST_F(ServerFunctionsTest, GetDLLVersionAnswersTheVersionOfTheBuild) {
  // KV_PROJECT_VERSION is "major.minor.patch.tweak".
  std::istringstream version(KV_PROJECT_VERSION);
  long long number = 0;
  for (const long long weight : {1000000LL, 10000LL, 100LL, 1LL}) {
    std::string part;
    std::getline(version, part, '.');
    number += (part.empty() ? 0 : std::stoll(part)) * weight;
  }
  EXPECT_EQ(SelectOne("GetDLLVersion()"), std::to_string(number));
}

TEST_F(ServerFunctionsTest, TextFunctionsWorkOnIso8859_1Text) {
  struct Case {
    std::string expression;
    std::string answer;
  };
  const std::vector<Case> cases = {
      {"Capitalize('éLAN vital')", "Élan Vital"},
      {"CapitalizeFirst('éLAN vital')", "Élan vital"},
      {"Capitalize('  çA  va-t-il ÀÔÿ ß')", "  Ça  Va-t-il Àôÿ ß"},
      // × (0xD7) and ÷ (0xF7) sit among the letters but have no case.
      {"Capitalize('2×3 PIÈCES')", "2×3 Pièces"},
      {"CapitalizeFirst('2×3 PIÈCES ÷ 2')", "2×3 pièces ÷ 2"},
      {"CapitalizeFirst('')", ""},
      {"GetStrLen('éLAN vital')", "10"},
      {"GetStrLen('')", "0"},
      {"IsANumber('12')", "1"},
      {"IsANumber(' -3,5 ')", "1"},
      {"IsANumber('+0.25')", "1"},
      {"IsANumber('1e5')", "0"},
      {"IsANumber('')", "0"},
      {"IsANumber('-')", "0"},
      {"IsANumber('1.2.3')", "0"},
      {"GetStrWordAt('un  deux trois', 2, 0)", "deux"},
      {"GetStrWordAt('un  deux trois', 4, 0)", ""},
      {"GetStrWordAt('un  deux trois', 0, 0)", ""},
      {"GetStrWordAt('a;bé;;c', 2, 59)", "bé"},
      {"GetStrWordIndex('un  deux trois', 2, 0)", "5"},
      {"GetStrWordIndex('un  deux trois', 3, 32)", "10"},
      {"GetStrWordIndex('un  deux trois', 9, 0)", "0"},
      {"FindStringsInString('DEUX un', 'un deux trois')", "1"},
      {"FindStringsInString('ÉTÉ', 'un été chaud')", "1"},
      {"FindStringsInString('deux quatre', 'un deux trois')", "0"},
      {"FindStringsInString('', 'un deux trois')", "1"},
      {"FindStringsInString('un', '')", "0"},
      {"FindStringsIn5Strings('paris rue', 'Rue des Lilas', '', '', '75000 PARIS', '')", "1"},
      {"FindStringsIn5Strings('paris lyon', 'Rue des Lilas', '', '', '75000 PARIS', '')", "0"},
      {"FindStringsInBlob(cast('Bonjour le Monde' as blob sub_type text), 'monde BONJOUR')", "1"},
      {"FindStringsInBlob(cast('Bonjour le Monde' as blob sub_type text), 'monde adieu')", "0"},
      {"GetBlobString(cast('Rue de l''Église' as blob sub_type text character set ISO8859_1))",
       "Rue de l'Église"},
      // SQL NULL reaches the functions as an empty text or an empty blob.
      {"Capitalize(NULL)", ""},
      {"GetStrLen(NULL)", "0"},
      {"GetStrWordAt(NULL, NULL, NULL)", ""},
      {"FindStringsInBlob(NULL, 'x')", "0"},
      {"GetBlobString(NULL)", ""},
      {"bin_and(6, 3)", "2"},
      {"bin_or(6, 3)", "7"},
      {"bin_xor(6, 3)", "5"},
  };
  std::vector<std::string> expressions;
  for (const Case& c : cases) expressions.push_back(c.expression);
  const std::vector<std::string> answers = Select(expressions);
  ASSERT_EQ(answers.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(answers[i], cases[i].answer) << cases[i].expression;
}

TEST_F(ServerFunctionsTest, LongTextsRoundTripThroughTheEngine) {
  // 30000 characters, beyond any small buffer, within CSTRING(32767).
  std::string words;
  for (int i = 0; i < 6000; ++i) words += "éLAN ";  // 5 ISO8859_1 characters each
  // One literal per statement: a statement has at most 64 KB.
  EXPECT_EQ(SelectOne("GetStrLen(Capitalize(" + SqlString(words) + "))"), "30000");
  EXPECT_EQ(SelectOne("GetStrWordIndex(" + SqlString(words) + ", 6000, 0)"), "29996");
  EXPECT_EQ(SelectOne("GetStrLen(GetBlobString(cast(" + SqlString(words) + " as blob sub_type text)))"),
            "30000");
}

TEST_F(ServerFunctionsTest, LongBlobsAreReadAcrossTheirSegments) {
  std::string script =
      "connect " + SqlString(Database()) +
      ";\nset list on;\ncreate table T (B blob sub_type text);\ncommit;\n"
      "insert into T values (cast(" +
      SqlString(std::string(30000, 'a')) + " as blob sub_type text) || cast(" +
      SqlString(std::string(10000, 'b')) +
      " as blob sub_type text));\ncommit;\nselect octet_length(B) as N, "
      "GetStrLen(GetBlobString(B)) as L, FindStringsInBlob(B, 'AB') as J, FindStringsInBlob(B, 'ba') as R "
      "from T;\n";
  const IsqlResult result = RunIsql(script);
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(result.Value("N"), "40000");
  EXPECT_EQ(result.Value("L"), "32766");  // the capacity of its CSTRING(32767) result
  EXPECT_EQ(result.Value("J"), "1");      // "ab" only where the two parts meet
  EXPECT_EQ(result.Value("R"), "0");
}

// GetLogData reads the firebird.log of the engine's root: here a copy of the private root (its
// UdfAccess still names the built UDF folder) with a log of our own.
class LogDataTest : public ServerFunctionsTest {
 protected:
  void SetUp() override {
    ServerFunctionsTest::SetUp();
    const fs::path built = KV_FIREBIRD_ROOT;
    fs::create_directories(root_.Path() / "intl");
    for (const char* file :
         {"firebird.conf", "databases.conf", "firebird.msg", "intl/libfbintl.so", "intl/fbintl.conf"}) {
      fs::copy_file(built / file, root_.Path() / file);
    }
  }

  void WriteLog(const std::string& content) const {
    std::ofstream log(root_.Path() / "firebird.log", std::ios::binary | std::ios::trunc);
    log << content;
  }

  IsqlResult ReadLog() const {
    return RunIsql("connect " + SqlString(Database()) +
                       ";\nset list on;\nselect octet_length(LOGDATA) as N, "
                       "cast(substring(LOGDATA from 1 for 20) as varchar(20)) as HEAD from GETLOG;\n",
                   root_.Path());
  }

  TempDir root_;
};

TEST_F(LogDataTest, AnswersTheEngineLog) {
  const std::string log = "server1\tThu Dec 10 10:00:00 2026\n\tINET/inet_error: read errno = 104\n";
  WriteLog(log);
  const IsqlResult result = ReadLog();
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(result.Value("N"), std::to_string(log.size()));
  EXPECT_EQ(result.Value("HEAD"), log.substr(0, 20));
}

TEST_F(LogDataTest, AnswersTheEndOfALongLogFromALineStart) {
  std::string log;
  for (int i = 0; log.size() < 200 * 1024; ++i) log += "ligne " + std::to_string(i) + " du journal\n";
  WriteLog(log);
  const IsqlResult result = ReadLog();
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  const std::size_t size = std::stoul(result.Value("N"));
  EXPECT_LE(size, 64u * 1024);
  EXPECT_GT(size, 63u * 1024);
  const std::string tail = log.substr(log.size() - size);
  EXPECT_EQ(log[log.size() - size - 1], '\n');
  EXPECT_EQ(result.Value("HEAD"), tail.substr(0, 20));
}

TEST_F(LogDataTest, AnswersAnEmptyTextWithoutALog) {
  const IsqlResult result = ReadLog();
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(result.Value("N"), "0");
}

}  // namespace
}  // namespace kv::test
