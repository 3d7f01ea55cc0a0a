// The server functions as a database gets them from RegisterUDF and RegisterStoredProcs, called
// through the client layer on Firebird's embedded engine with the private root (FIREBIRD =
// build/firebird, whose UDF folder holds kv_udf.dll.so).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "db/IBManagers.h"
#include "tests/db/ManagerFixture.h"
#include "tests/support/FirebirdRoot.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

long long FreeBytes(const fs::path& folder) {
  struct statvfs info {};
  if (statvfs(folder.c_str(), &info) != 0) return -1;
  return static_cast<long long>(info.f_bavail) * static_cast<long long>(info.f_frsize);
}

class ServerFunctionDeclarationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = UseTestFirebirdRoot();
    ASSERT_TRUE(fs::exists(root_ / "UDF" / "kv_udf.dll.so")) << root_;
    fs::create_directories(prefix_.Host("C:\\Data\\SOC.FDB").parent_path());
    c_ = std::make_unique<ManagerComponents>("C:\\Data\\SOC.FDB");
    c_->DatabaseManager.CreateDatabase();
    c_->IBDatabase.Close();
    c_->DatabaseManager.Connect();
    c_->DatabaseManager.RegisterUDF();
    c_->DatabaseManager.RegisterStoredProcs();
  }

  // One value through a dataset of the schema manager, in a unit of work.
  fb::Value Select(const std::string& expression) {
    TDatabaseManager& manager = c_->DatabaseManager;
    TIBQuery* query = manager.CreateQueryGlobal();
    fb::Value value;
    manager.BeginNestedWork();
    try {
      query->SQL = {"SELECT " + expression + " FROM rdb$database"};
      query->Open();
      value = query->Fields(0).Value;
      query->Close();
    } catch (const std::exception& e) {
      manager.FreeDataset(query);
      manager.AbortNestedWork(e);
    }
    manager.EndNestedWork();
    manager.FreeDataset(query);
    return value;
  }

  fs::path root_;
  TempPrefix prefix_;
  ScriptedUi ui_;
  std::unique_ptr<ManagerComponents> c_;
};

TEST_F(ServerFunctionDeclarationTest, TheSixteenFunctionsAreDeclared) {
  EXPECT_EQ(ReadColumn(c_->IBDatabase, "SELECT COUNT(*) FROM rdb$functions WHERE rdb$system_flag = 0").at(0),
            "16");
  EXPECT_EQ(ReadColumn(c_->IBDatabase,
                       "SELECT TRIM(rdb$module_name) || ':' || TRIM(rdb$entrypoint) FROM "
                       "rdb$functions WHERE rdb$function_name = 'BIN_XOR'")
                .at(0),
            "ib_udf.dll:IB_UDF_bin_xor");
  EXPECT_EQ(Select("bin_and(12, 10)").AsInteger(), 8);
  EXPECT_EQ(Select("GetStrLen('abcd')").AsInteger(), 4);
  EXPECT_EQ(Select("Capitalize('élan vital')").AsString(), "Élan Vital");
}

TEST_F(ServerFunctionDeclarationTest, GetFreeDiskSpaceAnswersTheFreeBytesBehindDriveC) {
  const fs::path driveC = prefix_.Root() / "drives" / "c";
  const long long before = FreeBytes(driveC);
  const long long answer = Select("GetFreeDiskSpace('C')").AsInt64();
  const long long after = FreeBytes(driveC);
  ASSERT_GT(before, 0);
  // Other programs write to the same disk meanwhile: the answer lies near both measures.
  const long long tolerance = 256LL * 1024 * 1024;
  EXPECT_GE(answer, std::min(before, after) - tolerance);
  EXPECT_LE(answer, std::max(before, after) + tolerance);
  EXPECT_LE(Select("GetFreeDiskSpace('Q')").AsInt64(), 0) << "an unmapped drive";
}

TEST_F(ServerFunctionDeclarationTest, GetDLLVersionAnswersAnInteger) {
  const fb::Value version = Select("GetDLLVersion()");
  EXPECT_EQ(version.GetKind(), fb::Value::Kind::Integer);
  EXPECT_EQ(version.Scale(), 0);
  EXPECT_GT(version.AsInt64(), 0);
}

TEST_F(ServerFunctionDeclarationTest, GetLogDataReadsTheEngineLogThroughGETLOG) {
  // The engine's log of the root in use: a line of our own at its end.
  const std::string marker = "kv_db_tests " + std::to_string(getpid()) + " " +
                             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  {
    std::ofstream log(root_ / "firebird.log", std::ios::app | std::ios::binary);
    log << "\n" << marker << "\n";
  }
  std::vector<std::string> lines{"stale"};
  c_->DatabaseManager.GetLogData(lines);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), marker);
  EXPECT_EQ(c_->GlobalTransaction.Tag, 0);
}

TEST_F(ServerFunctionDeclarationTest, ASecondDeclarationStopsAtTheFirstFunction) {
  try {
    c_->DatabaseManager.RegisterUDF();
    FAIL() << "no error";
  } catch (const DatabaseError& e) {
    EXPECT_THAT(e.what(), HasSubstr("FINDSTRINGSINBLOB"));
  }
  EXPECT_EQ(c_->GlobalTransaction.Tag, 0);
  EXPECT_FALSE(c_->GlobalTransaction.Active());
  // The failed procedure declaration gives parameter recognition back to the statement.
  EXPECT_THROW(c_->DatabaseManager.RegisterStoredProcs(), DatabaseError);
  TTableManager table;
  table.SetDatabaseManager(&c_->DatabaseManager);
  table.ExecuteSQL("UPDATE ConnectionControl SET sval = :p0 WHERE id = 1", fb::Value::Text("après"));
  EXPECT_EQ(ReadColumn(c_->IBDatabase, "SELECT sval FROM ConnectionControl WHERE id = 1").at(0), "après");
}

}  // namespace
}  // namespace kv::test
