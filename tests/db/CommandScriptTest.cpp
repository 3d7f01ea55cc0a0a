// The command-script reader: which statements a script runs, in which order, without a database.
#include <gtest/gtest.h>

#include <stdexcept>

#include "db/CommandScript.h"

namespace kv {
namespace {

using Lines = std::vector<std::string>;
using Statements = std::vector<Lines>;

struct ScriptCase {
  const char* name;
  Lines script;
  Statements statements;
};

class CommandScriptReader : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(CommandScriptReader, RunsTheStatementsOfTheScript) {
  EXPECT_EQ(CommandScriptStatements(GetParam().script), GetParam().statements);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, CommandScriptReader,
    ::testing::Values(
        ScriptCase{"Empty", {}, {}},
        ScriptCase{"OneBlockOfTwoLines",
                   {"STARTSQL", "CREATE TABLE T (", "  I INTEGER)", "ENDSQL"},
                   {{"CREATE TABLE T (", "  I INTEGER)"}}},
        ScriptCase{"EmptyLinesAreIgnored",
                   {"", "STARTSQL", "", "INSERT INTO T VALUES (1)", "", "ENDSQL", ""},
                   {{"INSERT INTO T VALUES (1)"}}},
        ScriptCase{"TwoStartsInARowDiscardTheFirstStatement",
                   {"STARTSQL", "DELETE FROM T", "STARTSQL", "INSERT INTO T VALUES (2)", "ENDSQL"},
                   {{"INSERT INTO T VALUES (2)"}}},
        ScriptCase{"ALastBlockWithoutEndIsNeverRun",
                   {"STARTSQL", "INSERT INTO T VALUES (1)", "ENDSQL", "STARTSQL", "DELETE FROM T"},
                   {{"INSERT INTO T VALUES (1)"}}},
        ScriptCase{"EndTwiceRunsTheSameStatementTwice",
                   {"STARTSQL", "INSERT INTO T VALUES (1)", "ENDSQL", "ENDSQL"},
                   {{"INSERT INTO T VALUES (1)"}, {"INSERT INTO T VALUES (1)"}}},
        ScriptCase{"MarkersWithBlanksOrOtherCaseAreSqlText",
                   {"STARTSQL", " STARTSQL", "startsql", "ENDSQL ", "EndSql", "ENDSQL"},
                   {{" STARTSQL", "startsql", "ENDSQL ", "EndSql"}}},
        ScriptCase{"LinesOutsideABlockAreAppendedToTheLastStatement",
                   {"STARTSQL", "UPDATE T", "ENDSQL", "SET I = 3", "ENDSQL"},
                   {{"UPDATE T"}, {"UPDATE T", "SET I = 3"}}},
        ScriptCase{"TextBeforeAnyMarkerIsPartOfTheFirstStatement",
                   {"INSERT INTO T", "VALUES (4)", "ENDSQL"},
                   {{"INSERT INTO T", "VALUES (4)"}}},
        ScriptCase{"EndWithNothingBeforeRunsAnEmptyStatement", {"STARTSQL", "ENDSQL"}, {{}}},
        ScriptCase{"FiveStatements",
                   {"STARTSQL", "S1", "ENDSQL", "STARTSQL", "S2", "ENDSQL", "STARTSQL", "S3", "ENDSQL",
                    "STARTSQL", "S4", "ENDSQL", "STARTSQL", "S5", "ENDSQL"},
                   {{"S1"}, {"S2"}, {"S3"}, {"S4"}, {"S5"}}}),
    [](const ::testing::TestParamInfo<ScriptCase>& info) { return std::string(info.param.name); });

TEST(CommandScriptReaderWalk, AFailingStatementEndsTheWalk) {
  const Lines script = {"STARTSQL", "S1", "ENDSQL", "STARTSQL", "S2", "ENDSQL", "STARTSQL", "S3", "ENDSQL"};
  Statements run;
  EXPECT_THROW(ReadCommandScript(script,
                                 [&](const Lines& statement) {
                                   run.push_back(statement);
                                   if (statement == Lines{"S2"}) throw std::runtime_error("S2 failed");
                                 }),
               std::runtime_error);
  EXPECT_EQ(run, (Statements{{"S1"}, {"S2"}}));
}

}  // namespace
}  // namespace kv
