// The database client on Windows is gds32.dll, loaded at run time. No Windows Firebird client is
// installed where these tests run (a fresh Wine prefix): every database operation raises the
// French error of a missing client, nothing crashes and no message box is shown.
#include <gtest/gtest.h>

#include "db/IBComponents.h"
#include "db/client/ClientLibrary.h"
#include "db/client/DatabaseError.h"
#include "db/dmDBConnectionUnit.h"
#include "tests/support/ScriptedUi.h"

namespace kv {
namespace {

const std::string kMissing =
    "La bibliothèque cliente Firebird (gds32.dll) est introuvable ou inutilisable : Erreur système.  Code : "
    "126.\r\n";

template <typename Action>
std::string ErrorOf(Action&& action) {
  try {
    action();
  } catch (const DatabaseError& e) {
    return e.what();
  }
  return "no error";
}

bool StartsWithMissing(const std::string& error) {
  return error.rfind(kMissing, 0) == 0;
}

TEST(Win32Client, TheClientIsGds32AndItsAbsenceIsTheFrenchError) {
  EXPECT_EQ(fb::ClientLibraryName(), "gds32.dll");
  EXPECT_FALSE(fb::IsClientAvailable());
  const std::string error = ErrorOf([] { fb::ClientVersion(); });
  EXPECT_PRED1(StartsWithMissing, error);
}

TEST(Win32Client, TheConnectionModuleAndADatabaseReportTheMissingClientWithoutABox) {
  test::ScriptedUi ui;
  {
    TdmDBConnection module;
    module.Init(2, "TS_Test", "", "Updater");
    module.SetParams("C:\\WKorvane\\TSV\\Data\\LAUSANNE.FDB", "", "", "");
    EXPECT_PRED1(StartsWithMissing, ErrorOf([&] { module.ConnectAsKorvane(); }));
    EXPECT_FALSE(module.Connected());
  }
  TIBDatabase database;
  database.DatabaseName = "C:\\WKorvane\\TSV\\Data\\GENEVE.FDB";
  database.Params = {"user_name=KORVANE", "password=84736251", "lc_ctype=ISO8859_1"};
  EXPECT_PRED1(StartsWithMissing, ErrorOf([&] { database.Open(); }));
  EXPECT_FALSE(database.Connected());
  EXPECT_TRUE(ui.Boxes().empty());
}

}  // namespace
}  // namespace kv
