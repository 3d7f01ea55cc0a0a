// The print structure store on a company database of the embedded engine: the header rules of a
// printing list, the rows written as one unit of work each, descriptions kept on update, and a
// value wider than its column refused and rolled back.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "db/KorvaneLogon.h"
#include "db/dmDBConnectionUnit.h"
#include "products/PrintListUpdate.h"
#include "products/dmStructurePrintingUnit.h"
#include "tests/support/FirebirdRoot.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

using Lines = std::vector<std::string>;

// ---------------------------------------------------------------------------------------------
// Header lines

struct HeaderCase {
  const char* name;
  Lines lines;
  TPrintListHeader expected;  // Comment, DescD, DescI, DescF
};

class PrintListHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(PrintListHeader, GivesTheCommentAndTheThreeDescriptions) {
  const HeaderCase& c = GetParam();
  const TPrintListHeader header = TdmStructurePrinting::ParsePrintListHeader(c.lines, "factures");
  EXPECT_EQ(header.Comment, c.expected.Comment);
  EXPECT_EQ(header.DescD, c.expected.DescD);
  EXPECT_EQ(header.DescI, c.expected.DescI);
  EXPECT_EQ(header.DescF, c.expected.DescF);
}

const std::string k300(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, PrintListHeader,
    ::testing::Values(
        HeaderCase{"Only_DES_X", {"DES:X:Factures", "[Page]"}, {"", "Factures", "Factures", "Factures"}},
        HeaderCase{"No_header", {"[Page]", "Marge=10"}, {"", "factures", "factures", "factures"}},
        HeaderCase{"Every_language",
                   {"COM:V5", "DES:D:Rechnung", "DES:I:Fattura", "DES:F:Facture", "DES:X:Défaut"},
                   {"V5", "Rechnung", "Fattura", "Facture"}},
        HeaderCase{"DES_X_fills_the_missing_ones",
                   {"DES:F:Facture", "DES:X:Standard"},
                   {"", "Standard", "Standard", "Facture"}},
        HeaderCase{"Comment_after_slash_star_removed",
                   {"DES:F: Facture client /* ancien */", "COM: V5 /* interne"},
                   {"V5", "factures", "factures", "Facture client"}},
        HeaderCase{"Cut_at_the_first_of_two_comments",
                   {"DES:F:Facture /* a */ suite /* b */", "COM:V5 /* a */ suite /* b */"},
                   {"V5", "factures", "factures", "Facture"}},
        HeaderCase{"Only_the_first_COM_counts",
                   {"COM:premier", "COM:second"},
                   {"premier", "factures", "factures", "factures"}},
        HeaderCase{"A_blank_before_COM_is_no_header",
                   {" COM:indenté", "x DES:F:non"},
                   {"", "factures", "factures", "factures"}},
        HeaderCase{
            "Case_sensitive", {"com:minuscule", "des:f:non"}, {"", "factures", "factures", "factures"}},
        HeaderCase{"Control_characters_trimmed",
                   {"DES:F:\tFacture\t ", "COM:\x01v5\x02"},
                   {"v5", "factures", "factures", "Facture"}},
        HeaderCase{
            "At_most_255_characters", {"DES:F:" + k300}, {"", "factures", "factures", std::string(255, 'x')}},
        HeaderCase{"Accented_letters_counted_as_characters",
                   {"DES:F:" + std::string(254, 'x') + "éà"},
                   {"", "factures", "factures", std::string(254, 'x') + "é"}},
        HeaderCase{"DES_X_is_not_cleaned_itself_but_each_copy_is",
                   {"DES:X:  Liste /* vieux */"},
                   {"", "Liste", "Liste", "Liste"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Rows in a company database

class StructurePrinting : public ::testing::Test {
 protected:
  static constexpr const char* kDatabase = "C:\\Data\\SOC.FDB";

  StructurePrinting() {
    test::UseTestFirebirdRoot();
    std::filesystem::create_directories(prefix_.Host("C:\\Data"));
    CreateCompanyDatabase(kDatabase, pcWinTessivo);
    connection_.Init(2, "TSV_PRO", "Base de données", "Updater");
    connection_.SetParams(kDatabase, "", "", "");
    connection_.ConnectAsKorvane();
  }
  ~StructurePrinting() override { connection_.ClearAllConnections(); }

  struct Row {
    std::string pname, d_text, f_text, i_text, compat, print_params;
    bool operator==(const Row&) const = default;
    friend void PrintTo(const Row& row, std::ostream* out) {
      *out << "{" << row.pname << "|" << row.d_text << "|" << row.f_text << "|" << row.i_text << "|"
           << row.compat << "|" << ::testing::PrintToString(row.print_params) << "}";
    }
  };
  std::vector<Row> Rows() {
    TIBQuery query;
    query.SetDatabase(connection_.IBDatabase.get());
    query.SetTransaction(connection_.GlobalTransaction.get());
    connection_.DoStartTransaction(false);
    query.SQL = {"SELECT pname, d_text, f_text, i_text, compat, print_params FROM PRT_Params ORDER BY pname"};
    query.Open();
    std::vector<Row> rows;
    for (; !query.Eof(); query.Next()) {
      rows.push_back({query.Fields(0).AsString(), query.Fields(1).AsString(), query.Fields(2).AsString(),
                      query.Fields(3).AsString(), query.Fields(4).AsString(), query.Fields(5).AsString()});
    }
    query.Close();
    connection_.DoCommit();
    return rows;
  }

  test::TempPrefix prefix_;
  test::ScriptedUi ui_;
  TdmDBConnection connection_;
  std::unique_ptr<TdmStructurePrinting> store_;
  TdmStructurePrinting& Store() {
    if (!store_) store_ = std::make_unique<TdmStructurePrinting>("", &connection_);
    return *store_;
  }
};

TEST_F(StructurePrinting, AnInsertedListIsFoundAndAnUpdateKeepsItsDescriptions) {
  EXPECT_FALSE(Store().PrintParamsExist("factures"));
  EXPECT_EQ(Store().InsertPrintParams("factures", {"COM:V5", "DES:F:Facture", "DES:D:Rechnung", "[Page]"}),
            "Facture");
  EXPECT_TRUE(Store().PrintParamsExist("factures"));
  EXPECT_FALSE(Store().PrintParamsExist("FACTURES")) << "list names are stored and compared as written";
  EXPECT_EQ(Rows(), (std::vector<Row>{{"factures", "Rechnung", "Facture", "factures", "V5",
                                       "COM:V5\r\nDES:F:Facture\r\nDES:D:Rechnung\r\n[Page]\r\n"}}));

  Store().UpdatePrintParams("factures", {"COM:V6", "DES:F:Facture modifiée", "[Page]", "Marge=12 é"});
  EXPECT_EQ(Rows(), (std::vector<Row>{{"factures", "Rechnung", "Facture", "factures", "V5",
                                       "COM:V6\r\nDES:F:Facture modifiée\r\n[Page]\r\nMarge=12 é\r\n"}}));
  EXPECT_EQ(connection_.GlobalTransaction->Tag, 0) << "every unit of work ended";
  EXPECT_FALSE(connection_.InTransaction());
}

TEST_F(StructurePrinting, RowOperationsNestInTheCallersUnitOfWork) {
  connection_.DoStartTransaction(false);
  Store().InsertPrintParams("bons", {"DES:X:Bons"});
  EXPECT_TRUE(connection_.InTransaction()) << "the caller's unit of work is still open";
  connection_.DoRollback();
  EXPECT_TRUE(Rows().empty()) << "rolled back with the caller's work";
}

struct WideCase {
  const char* name;
  std::string listName;
  Lines lines;
};

class TooWide : public StructurePrinting, public ::testing::WithParamInterface<WideCase> {};

TEST_P(TooWide, AValueWiderThanItsColumnFailsAndLeavesNoRowNorOpenTransaction) {
  const WideCase& c = GetParam();
  EXPECT_THROW(Store().InsertPrintParams(c.listName, c.lines), std::exception);
  EXPECT_EQ(connection_.GlobalTransaction->Tag, 0);
  EXPECT_FALSE(connection_.InTransaction());
  EXPECT_TRUE(Rows().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TooWide,
    ::testing::Values(WideCase{"List_name_of_61", std::string(61, 'n'), {"DES:X:x"}},
                      WideCase{"Description_of_91", "liste", {"DES:F:" + std::string(91, 'd')}},
                      WideCase{"Comment_of_31", "liste", {"COM:" + std::string(31, 'c')}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StructurePrinting, WithoutConnectionTheStoreCannotBeMade) {
  try {
    TdmStructurePrinting store("", nullptr);
    FAIL() << "made";
  } catch (const std::exception& error) {
    EXPECT_STREQ(error.what(), "FConnection = NIL");
  }
}

}  // namespace
}  // namespace kv
