// kv-companydb, the demo's maker of company databases: a database it could not finish is removed,
// and a database that was there before is never replaced nor removed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/FirebirdRoot.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

const fs::path kBin = KV_BIN_DIR;
const std::string kDatabase = "C:\\Data\\SOC.FDB";

class CompanyDbTool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kBin / "kv-companydb")) << "build kv-companydb before this test";
    fs::create_directories(prefix_.Host("C:\\Data"));
  }

  test::CommandResult Create(const fs::path& firebirdRoot) const {
    return test::RunProgram({"env", "KORVANE_PREFIX=" + prefix_.Root().string(), "FIREBIRD=" + firebirdRoot.string(),
                             (kBin / "kv-companydb").string(), "create", "WinTessivo", kDatabase});
  }

  test::TempPrefix prefix_;
};

TEST_F(CompanyDbTool, MakesTheDatabase) {
  const test::CommandResult made = Create(test::UseTestFirebirdRoot());
  ASSERT_EQ(made.exitCode, 0) << made.err;
  EXPECT_GT(fs::file_size(prefix_.Host(kDatabase)), 0u);
}

TEST_F(CompanyDbTool, RemovesADatabaseItCouldNotFinish) {
  // A root without intl/: the file is created, then its first table fails on the character set.
  test::TempDir bareRoot;
  fs::create_directories(bareRoot.Path() / "UDF");
  const test::CommandResult made = Create(bareRoot.Path());
  EXPECT_EQ(made.exitCode, 1);
  EXPECT_NE(made.err.find("ISO8859_1"), std::string::npos) << made.err;
  EXPECT_FALSE(fs::exists(prefix_.Host(kDatabase)));
}

TEST_F(CompanyDbTool, NeitherReplacesNorRemovesAnExistingDatabase) {
  prefix_.WriteFile(kDatabase, "somebody's data");
  for (const fs::path& root : std::vector<fs::path>{test::UseTestFirebirdRoot(), fs::path("/nonexistent-root")}) {
    const test::CommandResult made = Create(root);
    EXPECT_EQ(made.exitCode, 1);
    EXPECT_NE(made.err.find("existe déjà"), std::string::npos) << made.err;
    EXPECT_EQ(prefix_.ReadFile(kDatabase), "somebody's data");
  }
}

}  // namespace
}  // namespace kv
