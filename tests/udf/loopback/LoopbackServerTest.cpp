// The loopback Firebird server (fixture "loopback_server"), reached over TCP/IP the way the
// program reaches a database server: "127.0.0.1:" + a Windows-form path, the client using the
// private root.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/host/Prefix.h"
#include "tests/support/Isql.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempPrefix.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

// A Windows-form path of its own for each database a test makes.
std::string NewWindowsPath() {
  static std::atomic<int> counter{0};
  return "C:\\Data\\T" + std::to_string(getpid()) + "_" + std::to_string(counter++) + ".FDB";
}

class LoopbackServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(LoopbackServer::IsRunning()) << "the fixture starts the server"; }

  // An alias to a new database file in the test's folder; answers the Windows-form path.
  std::string NewAlias(const std::string& file = "base.fdb") {
    const std::string windowsPath = NewWindowsPath();
    LoopbackServer::AddAlias(windowsPath, dir_.Path() / file);
    return windowsPath;
  }

  static std::string Connect(const std::string& windowsPath, const std::string& user,
                             const std::string& password) {
    return "connect " + SqlString(LoopbackServer::Address(windowsPath)) + " user " + SqlString(user) +
           " password " + SqlString(password) + ";\n";
  }

  // The server runs as the user of the tests and writes the database file there.
  TempDir dir_;
};

TEST_F(LoopbackServerTest, KorvaneCreatesADatabaseThroughAWindowsFormAlias) {
  const std::string windowsPath = NewAlias();
  const IsqlResult created = RunIsql("create database " + SqlString(LoopbackServer::Address(windowsPath)) +
                                     " user 'KORVANE' password '84736251' default character set ISO8859_1;\n"
                                     "set list on;\nselect current_user as U, mon$database_name as F, "
                                     "rdb$character_set_name as CS from mon$database, rdb$database;\n");
  ASSERT_EQ(created.exitCode, 0) << created.out << created.err;
  EXPECT_EQ(created.Value("U"), "KORVANE");
  EXPECT_EQ(fs::path(created.Value("F")), dir_.Path() / "base.fdb");
  EXPECT_EQ(created.Value("CS").substr(0, 9), "ISO8859_1");
  EXPECT_TRUE(fs::exists(dir_.Path() / "base.fdb"));
}

TEST_F(LoopbackServerTest, LoginIsRefusedWithAWrongPassword) {
  const std::string windowsPath = NewAlias();
  ASSERT_EQ(RunIsql("create database " + SqlString(LoopbackServer::Address(windowsPath)) +
                    " user 'KORVANE' password '84736251';\n")
                .exitCode,
            0);
  for (const auto& [user, password] : std::vector<std::pair<std::string, std::string>>{
           {"KORVANE", "84736250"}, {"PUBLIC_READER", "84736251"}, {"NOBODY", "tarpon"}}) {
    const IsqlResult refused = RunIsql(Connect(windowsPath, user, password));
    EXPECT_NE(refused.exitCode, 0) << user;
    EXPECT_NE(refused.err.find("Your user name and password are not defined"), std::string::npos)
        << user << ": " << refused.err;
  }
  for (const auto& user : {"PUBLIC_READER", "PUBLIC_READER_WRITER"}) {
    const IsqlResult accepted = RunIsql(Connect(windowsPath, user, "tarpon") +
                                        "set list on;\nselect current_user as U from rdb$database;\n");
    EXPECT_EQ(accepted.exitCode, 0) << accepted.err;
    EXPECT_EQ(accepted.Value("U"), user);
  }
}

TEST_F(LoopbackServerTest, OnlyKorvaneMayCreateDatabases) {
  const std::string windowsPath = NewAlias();
  const IsqlResult refused = RunIsql("create database " + SqlString(LoopbackServer::Address(windowsPath)) +
                                     " user 'PUBLIC_READER_WRITER' password 'tarpon';\n");
  EXPECT_NE(refused.exitCode, 0);
  EXPECT_NE(refused.err.find("no permission for CREATE access to DATABASE"), std::string::npos)
      << refused.err;
  EXPECT_FALSE(fs::exists(dir_.Path() / "base.fdb"));
}

TEST_F(LoopbackServerTest, TheServersFunctionLibraryAnswersFromTheServersPrefix) {
  const std::string windowsPath = NewAlias();
  std::string script = "create database " + SqlString(LoopbackServer::Address(windowsPath)) +
                       " user 'KORVANE' password '84736251' default character set ISO8859_1;\n";
  for (const std::string& declaration : ServerFunctionDeclarations()) script += declaration + ";\n";
  const IsqlResult created = RunIsql(script + "commit;\n");
  ASSERT_EQ(created.exitCode, 0) << created.err;
  // The test process's own prefix has no say: the server has its own.
  TempPrefix clientPrefix;
  host::Prefix::Current().SetIni("udf", "free_space_C", "1");
  const std::string query = Connect(windowsPath, "KORVANE", "84736251") +
                            "set list on;\nselect GetFreeDiskSpace('C') as FREE, GetDLLVersion() as V, "
                            "Capitalize('éLAN vital') as CAP from rdb$database;\n";
  for (const long long bytes : {120000000LL, 40000000LL, 0LL}) {
    LoopbackServer::SetFreeSpace('C', bytes);
    const IsqlResult result = RunIsql(query);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.Value("FREE"), std::to_string(bytes));
    EXPECT_EQ(result.Value("CAP"), "Élan Vital");
  }
  LoopbackServer::SetFreeSpace('C', std::nullopt);
  const IsqlResult measured = RunIsql(query);
  ASSERT_EQ(measured.exitCode, 0) << measured.err;
  EXPECT_GT(std::stoll(measured.Value("FREE")), 1000000);
}

TEST_F(LoopbackServerTest, AStoppedServerRefusesConnectionsUntilItStartsAgain) {
  const std::string windowsPath = NewAlias();
  ASSERT_EQ(RunIsql("create database " + SqlString(LoopbackServer::Address(windowsPath)) +
                    " user 'KORVANE' password '84736251';\n")
                .exitCode,
            0);
  const std::string query = Connect(windowsPath, "KORVANE", "84736251") + "select 1 from rdb$database;\n";
  {
    StoppedLoopbackServer stopped;
    EXPECT_FALSE(LoopbackServer::IsRunning());
    const IsqlResult refused = RunIsql(query);
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_NE(refused.err.find("Unable to complete network request to host"), std::string::npos)
        << refused.err;
  }
  EXPECT_TRUE(LoopbackServer::IsRunning());
  EXPECT_EQ(RunIsql(query).exitCode, 0);
}

TEST_F(LoopbackServerTest, AnAliasChangedRightAfterTheServerReadItIsSeen) {
  // The server reads databases.conf again only when its modification time changed: two changes
  // within one second must still both be seen.
  const std::string windowsPath = NewWindowsPath();
  const std::string query = Connect(windowsPath, "KORVANE", "84736251") +
                            "set list on;\nselect mon$database_name as F from mon$database;\n";
  for (const char* file : {"first.fdb", "second.fdb", "third.fdb"}) {
    LoopbackServer::AddAlias(windowsPath, dir_.Path() / file);
    const IsqlResult created = RunIsql("create database " + SqlString(LoopbackServer::Address(windowsPath)) +
                                       " user 'KORVANE' password '84736251';\n");
    ASSERT_EQ(created.exitCode, 0) << file << ": " << created.err;
    const IsqlResult attached = RunIsql(query);
    ASSERT_EQ(attached.exitCode, 0) << attached.err;
    EXPECT_EQ(fs::path(attached.Value("F")), dir_.Path() / file);
  }
}

TEST_F(LoopbackServerTest, AStartOnATakenPortFailsAndLeavesNothingRunning) {
  TempDir other;
  const std::string command = "KORVANE_FB_PORT=" + std::to_string(LoopbackServer::Port()) +
                              " KORVANE_FIREBIRD_ROOT='" + KV_FIREBIRD_ROOT + "' '" + KV_SOURCE_DIR +
                              "/scripts/firebird-server' ";
  const std::string log = (other.Path() / "start.txt").string();
  const int status = std::system((command + "start '" + other.Path().string() + "' 2>'" + log + "'").c_str());
  EXPECT_NE(status, 0);
  std::ifstream in(log);
  const std::string message((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(message.find("port " + std::to_string(LoopbackServer::Port()) + " is already in use"),
            std::string::npos)
      << message;
  EXPECT_NE(std::system((command + "status '" + other.Path().string() + "'").c_str()), 0);
  EXPECT_FALSE(fs::exists(other.Path() / "firebird.pid"));
  EXPECT_TRUE(LoopbackServer::IsRunning());
}

}  // namespace
}  // namespace kv::test
