// kv_bench_printlists: the print-list update of the main product into 20 company databases of 30
// printing lists each (15 of them already in the databases, 15 new), through the updater's own
// code on the embedded engine, next to an isql-fb script that runs the same statements (per list:
// the existence query, then the UPDATE or the INSERT, each committed) on copies of the same
// databases, in one isql-fb process.
//
//   kv_bench_printlists [--companies N] [--lists N] [--size BYTES]
//
// Everything happens in a temporary host prefix, removed at the end.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "db/dmDBConnectionUnit.h"
#include "engine/Package.h"
#include "engine/UpdateCommon.h"
#include "formats/Text.h"
#include "platform/RichTextControl.h"
#include "platform/Win32.h"
#include "products/EngineParts.h"
#include "products/PrintListUpdate.h"
#include "products/dmStructurePrintingUnit.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr kv::win::FileTime kPackageTime = 133'500'000'000'000'000ULL;

// A printing list of about `size` bytes in code page 1252, with its header and French text.
std::string ListBytes(int number, std::size_t size, std::mt19937& random) {
  static const std::vector<std::string> words = {
      "Facture", "échéance",      "Société", "Quantité", "Désignation", "Réf.",  "Montant", "TVA",
      "Remise",  "Total général", "à",       "reçu",     "Expédié",     "Unité", "Prix"};
  std::string text = "COM:V5.3\r\nDES:F:Liste numéro " + std::to_string(number) + "\r\nDES:D:Liste " +
                     std::to_string(number) + "\r\n[Entête]\r\n";
  std::uniform_int_distribution<std::size_t> pick(0, words.size() - 1);
  while (text.size() < size) {
    text += "Champ" + std::to_string(random() % 1000) + "=";
    for (int i = 0; i < 8; ++i) text += words[pick(random)] + " ";
    text += "\r\n";
  }
  return kv::text::Utf8ToCp1252(text);
}

std::string ListName(int number) {
  char name[32];
  std::snprintf(name, sizeof name, "Liste%02d.lst", number);
  return name;
}

std::string Sql(const std::string& latin1) {
  std::string quoted = "'";
  for (const char c : latin1) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

void SetValue(kv::win::HKEY root, const std::string& key, const std::string& name, const std::string& value) {
  kv::win::RegKey k;
  kv::win::RegKey::Create(root, "SOFTWARE\\KORVANE S.A.\\" + key, kv::win::KEY_ALL_ACCESS, k);
  k.SetValue(name, kv::win::RegValue::String(value));
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  int companies = 20;
  int lists = 30;
  std::size_t size = 4000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--companies") companies = std::atoi(argv[i + 1]);
    if (option == "--lists") lists = std::atoi(argv[i + 1]);
    if (option == "--size") size = static_cast<std::size_t>(std::atoll(argv[i + 1]));
  }
  char folderTemplate[] = "/tmp/kv-bench-printlists-XXXXXX";
  const fs::path scratch = mkdtemp(folderTemplate);
  const fs::path prefix = scratch / "prefix";
  setenv("KORVANE_PREFIX", prefix.c_str(), 1);
  const fs::path root = fs::canonical("/proc/self/exe").parent_path().parent_path() / "firebird";
  int status = 0;
  try {
    fs::create_directories(prefix / "drives" / "c" / "Data");
    fs::create_directories(scratch / "isql");

    // The package: PrintLists.txt and the lists.
    std::mt19937 random(20240315);
    kv::MemoryPackage package;
    std::string printLists;
    std::vector<std::string> listBytes;
    for (int n = 1; n <= lists; ++n) {
      printLists += ListName(n) + "\r\n";
      listBytes.push_back(ListBytes(n, size, random));
      package.Add(ListName(n), listBytes.back(), kPackageTime);
    }
    package.Add("PrintLists.txt", printLists, kPackageTime);

    // The companies, each database holding the first half of the lists already.
    std::string companyList;
    std::printf("making %d company databases...\n", companies);
    for (int c = 1; c <= companies; ++c) {
      const std::string name = "Societe" + std::to_string(c);
      const std::string database = "C:\\Data\\SOC" + std::to_string(c) + ".FDB";
      companyList += name + "\r\n";
      SetValue(kv::win::HKEY_LOCAL_MACHINE, "WinTessivo\\" + name + "\\TSV_DatabaseName", "Path", database);
      kv::CreateCompanyDatabase(database, kv::pcWinTessivo);
      kv::TdmDBConnection connection;
      connection.Init(2, "TSV_PRO", "Base de données", "Bench");
      connection.SetParams(database, "", "", "");
      connection.ConnectAsKorvane();
      kv::TdmStructurePrinting store("", &connection);
      for (int n = 1; n <= lists / 2; ++n) {
        store.InsertPrintParams("liste" + std::to_string(n), {"DES:F:Ancienne liste", "[Entête]"});
      }
      connection.Disconnect();
      fs::copy_file(prefix / "drives" / "c" / "Data" / ("SOC" + std::to_string(c) + ".FDB"),
                    scratch / "isql" / ("SOC" + std::to_string(c) + ".FDB"));
    }
    fs::create_directories(prefix / "drives" / "c" / "korvane");
    std::ofstream(prefix / "drives" / "c" / "korvane" / "multiste.txt", std::ios::binary) << companyList;

    // The isql-fb script of the same statements, in ISO 8859-1.
    std::string script = "SET NAMES ISO8859_1;\n";
    for (int c = 1; c <= companies; ++c) {
      script += "CONNECT " + Sql((scratch / "isql" / ("SOC" + std::to_string(c) + ".FDB")).string()) +
                " USER 'KORVANE' PASSWORD '84736251';\n";
      for (int n = 1; n <= lists; ++n) {
        const std::string name = kv::text::ToLower(ListName(n).substr(0, ListName(n).size() - 4));
        const std::string latin1 = kv::text::Utf8ToLatin1(kv::text::Cp1252ToUtf8(listBytes[n - 1]));
        script += "SELECT 'T' FROM PRT_Params WHERE pname = " + Sql(name) + ";\nCOMMIT;\n";
        if (n <= lists / 2) {
          script += "UPDATE PRT_Params SET print_params = " + Sql(latin1) + " WHERE pname = " + Sql(name) +
                    ";\nCOMMIT;\n";
        } else {
          script += "INSERT INTO PRT_Params (pname, d_text, f_text, i_text, compat, print_params) VALUES (" +
                    Sql(name) + ", " + Sql("Liste " + std::to_string(n)) + ", " +
                    Sql(kv::text::Utf8ToLatin1("Liste numéro " + std::to_string(n))) + ", " + Sql(name) +
                    ", 'V5.3', " + Sql(latin1) + ");\nCOMMIT;\n";
        }
      }
    }
    script += "QUIT;\n";
    std::ofstream(scratch / "script.sql", std::ios::binary) << script;

    // The updater's own code.
    kv::CurrentPackageScope packageScope(package);
    kv::InstallEngineParts();
    kv::MemoryRichText report;
    double updater = 0;
    {
      kv::TdmUpdateCommon engine;
      engine.SetReportControl(&report);
      engine.ProductCode = kv::pcWinTessivo;
      const auto start = Clock::now();
      const kv::UpdateOutcome outcome = kv::UpdatePrintLists(engine, "");
      updater = Seconds(Clock::now() - start);
      if (outcome != kv::UpdateOutcome::Completed) {
        std::fprintf(stderr, "the update ended with outcome %d:\n%s\n", static_cast<int>(outcome),
                     report.PlainText().c_str());
        status = 1;
      }
    }

    // The same statements through isql-fb.
    const std::string command = "FIREBIRD=" + root.string() + " isql-fb -q -ch ISO8859_1 -i " +
                                (scratch / "script.sql").string() + " > " + (scratch / "isql.out").string() +
                                " 2>&1";
    const auto start = Clock::now();
    const int isqlStatus = std::system(command.c_str());
    const double isql = Seconds(Clock::now() - start);
    if (isqlStatus != 0) {
      std::fprintf(stderr, "isql-fb failed (%d); see %s\n", isqlStatus, (scratch / "isql.out").c_str());
      status = 1;
    }
    std::ifstream out(scratch / "isql.out");
    const std::string isqlOutput((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
    if (isqlOutput.find("Statement failed") != std::string::npos ||
        isqlOutput.find("SQLSTATE") != std::string::npos) {
      std::fprintf(stderr, "isql-fb reported errors:\n%s\n", isqlOutput.substr(0, 2000).c_str());
      status = 1;
    }

    // Both ways wrote every list: the isql-fb copies are counted, the updater's outcome was checked.
    const fs::path last = scratch / "isql" / ("SOC" + std::to_string(companies) + ".FDB");
    std::ofstream(scratch / "count.sql") << "CONNECT " << Sql(last.string())
                                         << " USER 'KORVANE' PASSWORD '84736251';\nSET LIST ON;\n"
                                            "SELECT COUNT(*) AS N FROM PRT_Params;\nQUIT;\n";
    const std::string count = "FIREBIRD=" + root.string() + " isql-fb -q -i " +
                              (scratch / "count.sql").string() + " > " + (scratch / "count.out").string() +
                              " 2>&1";
    std::system(count.c_str());
    std::ifstream counted(scratch / "count.out");
    const std::string countOutput((std::istreambuf_iterator<char>(counted)),
                                  std::istreambuf_iterator<char>());
    if (countOutput.find("N ") == std::string::npos ||
        std::atoi(countOutput.substr(countOutput.find("N ") + 2).c_str()) != lists) {
      std::fprintf(stderr, "the isql-fb copy does not hold the %d lists:\n%s\n", lists, countOutput.c_str());
      status = 1;
    }

    const int rows = companies * lists;
    std::printf("%d companies x %d printing lists (%zu bytes each, %d updated and %d added per company)\n",
                companies, lists, size, lists / 2, lists - lists / 2);
    std::printf("updater (UpdatePrintLists)  %8.3f s  %8.2f ms per list\n", updater, 1000 * updater / rows);
    std::printf("isql-fb script              %8.3f s  %8.2f ms per list\n", isql, 1000 * isql / rows);
    std::printf("ratio updater / isql-fb     %8.2f\n", updater / isql);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kv_bench_printlists: %s\n", error.what());
    status = 1;
  }
  fs::remove_all(scratch);
  return status;
}
