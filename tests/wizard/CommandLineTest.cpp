// The program's command line, the same on Linux and on Windows: every spelling of every option, the
// French errors of a wrong one, and the help.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wizard/CommandLine.h"

namespace kv::test {
namespace {

struct CommandLineCase {
  const char* name;
  std::vector<std::string> arguments;
  bool unattended;
  bool answerYes;
  std::string log;
  std::string package;
  bool help;
  std::string error;
};

class CommandLineTest : public testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTest, IsRead) {
  const CommandLineCase& c = GetParam();
  const CommandLine parsed = ParseCommandLine(c.arguments);
  EXPECT_EQ(parsed.error, c.error);
  EXPECT_EQ(parsed.unattended, c.unattended);
  EXPECT_EQ(parsed.answerYes, c.answerYes);
  EXPECT_EQ(parsed.logFile.value_or(""), c.log);
  EXPECT_EQ(parsed.packageFile.value_or(""), c.package);
  EXPECT_EQ(parsed.help, c.help);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineTest,
    testing::Values(
        CommandLineCase{"interactive", {}, false, false, "", "", false, ""},
        CommandLineCase{"all_options",
                        {"--unattended", "--answer", "yes", "--log", "r.log", "--package", "p.exe"},
                        true, true, "r.log", "p.exe", false, ""},
        CommandLineCase{"inline_values",
                        {"--unattended", "--answer=no", "--log=a b.log", "--package=x"},
                        true, false, "a b.log", "x", false, ""},
        CommandLineCase{"installer_spelling", {"/SILENT", "/LOG=C:/tmp/r.log"}, true, false, "C:/tmp/r.log", "",
                        false, ""},
        CommandLineCase{"installer_spelling_other_case", {"/silent", "/log=r.log"}, true, false, "r.log", "",
                        false, ""},
        CommandLineCase{"package_in_interactive_mode", {"--package", "p"}, false, false, "", "p", false, ""},
        CommandLineCase{"help", {"--help"}, false, false, "", "", true, ""},
        CommandLineCase{"unknown_option", {"--force"}, false, false, "", "", false, "Option inconnue : --force"},
        CommandLineCase{"missing_value", {"--unattended", "--log"}, true, false, "", "", false,
                        "L'option --log attend une valeur."},
        CommandLineCase{"bad_answer", {"--unattended", "--answer", "peut-être"}, true, false, "", "", false,
                        "L'option --answer attend yes ou no, pas « peut-être »."},
        CommandLineCase{"answer_without_unattended", {"--answer", "yes"}, false, true, "", "", false,
                        "L'option --answer ne s'emploie qu'avec --unattended."}),
    [](const testing::TestParamInfo<CommandLineCase>& info) { return std::string(info.param.name); });

TEST(CommandLineHelp, IsFrench) {
  const std::string help = UsageText("korvane-update");
  for (const char* option : {"--unattended", "/SILENT", "--answer yes|no", "--log FICHIER", "/LOG=FICHIER",
                             "--package FICHIER", "--help"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  EXPECT_NE(help.find("Utilisation : korvane-update"), std::string::npos);
  EXPECT_NE(help.find("une autre copie du programme est en cours d'exécution"), std::string::npos);
}

}  // namespace
}  // namespace kv::test
