#include "tests/support/PrintRows.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "db/dmDBConnectionUnit.h"
#include "tests/support/FirebirdRoot.h"

namespace kv::test {

void PrintTo(const PrintRow& row, std::ostream* out) {
  *out << "{" << row.pname << "|" << row.d_text << "|" << row.f_text << "|" << row.i_text << "|" << row.compat
       << "|" << ::testing::PrintToString(row.print_params) << "}";
}

std::vector<PrintRow> ReadPrintRows(const std::string& connectionString) {
  UseTestFirebirdRoot();
  TdmDBConnection connection;
  connection.Init(2, "TSV_PRO", "Base de données", "Test");
  connection.SetParams(connectionString, "", "", "");
  connection.ConnectAsKorvane();
  TIBQuery query;
  query.SetDatabase(connection.IBDatabase.get());
  query.SetTransaction(connection.GlobalTransaction.get());
  connection.DoStartTransaction(false);
  query.SQL = {"SELECT pname, d_text, f_text, i_text, compat, print_params FROM PRT_Params ORDER BY pname"};
  query.Open();
  std::vector<PrintRow> rows;
  for (; !query.Eof(); query.Next()) {
    rows.push_back({query.Fields(0).AsString(), query.Fields(1).AsString(), query.Fields(2).AsString(),
                    query.Fields(3).AsString(), query.Fields(4).AsString(), query.Fields(5).AsString()});
  }
  query.Close();
  connection.DoCommit();
  connection.Disconnect();
  return rows;
}

PrefixScope::PrefixScope(const std::filesystem::path& prefix) {
  if (const char* previous = std::getenv("KORVANE_PREFIX")) saved_ = previous;
  setenv("KORVANE_PREFIX", prefix.c_str(), 1);
}

PrefixScope::~PrefixScope() {
  if (saved_) {
    setenv("KORVANE_PREFIX", saved_->c_str(), 1);
  } else {
    unsetenv("KORVANE_PREFIX");
  }
}

}  // namespace kv::test
