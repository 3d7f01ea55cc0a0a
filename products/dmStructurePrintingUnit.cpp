#include "products/dmStructurePrintingUnit.h"

#include <exception>
#include <type_traits>

#include "db/dmDBConnectionUnit.h"
#include "platform/Errors.h"
#include "products/ProductFiles.h"

namespace kv {

namespace {

constexpr std::size_t kHeaderTextLength = 255;

// Whether a UTF-8 byte begins a character.
bool StartsCharacter(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}

// Up to `count` characters of a UTF-8 text from the character `first` (0-based).
std::string CopyCharacters(const std::string& text, std::size_t first, std::size_t count) {
  std::size_t begin = 0;
  for (std::size_t skipped = 0; begin < text.size() && skipped < first;) {
    ++begin;
    while (begin < text.size() && !StartsCharacter(text[begin])) ++begin;
    ++skipped;
  }
  std::size_t end = begin;
  for (std::size_t taken = 0; end < text.size() && taken < count;) {
    ++end;
    while (end < text.size() && !StartsCharacter(text[end])) ++end;
    ++taken;
  }
  return text.substr(begin, end - begin);
}

// The text after the first line beginning with the marker, or empty.
std::string HeaderValue(const std::vector<std::string>& lines, const std::string& marker) {
  for (const std::string& line : lines) {
    if (line.starts_with(marker)) return CopyCharacters(line, marker.size(), kHeaderTextLength);
  }
  return {};
}

// Ends the text before a "/*" comment and trims blanks and control characters.
std::string Clean(std::string text) {
  if (const auto comment = text.find("/*"); comment != std::string::npos) text.erase(comment);
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::size_t begin = 0;
  while (begin < text.size() && blank(text[begin])) ++begin;
  std::size_t end = text.size();
  while (end > begin && blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// The list's text as it is stored: every line followed by CR LF.
std::string ListText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

}  // namespace

TdmStructurePrinting::TdmStructurePrinting(const std::string& Folder, TdmDBConnection* Connection)
    : ManagerPrintParams(std::make_unique<TTableManager>()),
      ManagerPrintImages(std::make_unique<TTableManager>()),
      QueryPrint(std::make_unique<TIBQuery>()),
      IBSQL1(std::make_unique<TIBSQL>()),
      FConnection(Connection) {
  if (!Folder.empty()) ForceDirectories(Folder);
  DataModuleCreate();
}

TdmStructurePrinting::~TdmStructurePrinting() = default;

void TdmStructurePrinting::DataModuleCreate() {
  // A programming error, not a situation of the user's.
  if (FConnection == nullptr) throw Error("FConnection = NIL");
  for (TIBDataSet* dataset :
       {static_cast<TIBDataSet*>(QueryPrint.get()), static_cast<TIBDataSet*>(IBSQL1.get())}) {
    dataset->SetDatabase(FConnection->IBDatabase.get());
    dataset->SetTransaction(FConnection->GlobalTransaction.get());
  }
  for (TTableManager* manager : {ManagerPrintParams.get(), ManagerPrintImages.get()}) {
    if (manager->DatabaseManager() == nullptr)
      manager->SetDatabaseManager(FConnection->DatabaseManager.get());
  }
  ManagerPrintParams->SetTableName("PRT_Params");
  ManagerPrintParams->SetFieldDefs({
      "pname VARCHAR(60) NOT NULL *",
      "d_text VARCHAR(90)",
      "f_text VARCHAR(90)",
      "i_text VARCHAR(90)",
      "compat VARCHAR(30)",
      "print_params BLOB SUB_TYPE 1 SEGMENT SIZE 80",
  });
  ManagerPrintImages->SetTableName("PRT_Images");
  ManagerPrintImages->SetFieldDefs({
      "image_name VARCHAR(30) NOT NULL *",
      "image_data BLOB SUB_TYPE 0 SEGMENT SIZE 1024",
  });
}

template <typename Work>
auto TdmStructurePrinting::InUnitOfWork(Work&& work) {
  // A list that another workstation holds (its own update, the suite saving a layout) is waited
  // for a bounded time, never for ever: the server then refuses with a lock time-out, which the
  // update reports. Servers before Firebird 2 know no lock time-out and keep the client's default.
  const TIBServerType server = FConnection->ServerType();
  if (!FConnection->InTransaction() && (server == Firebird25 || server == Firebird30)) {
    FConnection->GlobalTransaction->Params = {"concurrency", "wait",
                                              "lock_timeout=" + std::to_string(kLockTimeoutSeconds)};
  }
  FConnection->DoStartTransaction(false);
  try {
    if constexpr (std::is_void_v<decltype(work())>) {
      work();
      FConnection->DoCommit();
    } else {
      auto result = work();
      FConnection->DoCommit();
      return result;
    }
  } catch (const std::exception& error) {
    // Rolls back and raises the error again.
    FConnection->DoRollback(error);
    throw;
  }
}

bool TdmStructurePrinting::PrintParamsExist(const std::string& Name) {
  return InUnitOfWork([&] { return ManagerPrintParams->FindPK({fb::Value::Text(Name)}); });
}

void TdmStructurePrinting::UpdatePrintParams(const std::string& Name, const std::vector<std::string>& Lines) {
  InUnitOfWork([&] {
    QueryPrint->Close();
    QueryPrint->SQL = {"UPDATE PRT_Params SET print_params=:p0 WHERE pname=:p1"};
    QueryPrint->ParamByName("p0").SetAsString(ListText(Lines));
    QueryPrint->ParamByName("p1").SetAsString(Name);
    QueryPrint->ExecSQL();
  });
}

std::string TdmStructurePrinting::InsertPrintParams(const std::string& Name,
                                                    const std::vector<std::string>& Lines) {
  const TPrintListHeader header = ParsePrintListHeader(Lines, Name);
  InUnitOfWork([&] {
    QueryPrint->Close();
    std::vector<std::string> sql;
    ManagerPrintParams->BuildSQL4Insert(sql);
    QueryPrint->SQL = sql;
    TParams& params = QueryPrint->Params();
    params[0].SetAsString(Name);
    params[1].SetAsString(header.DescD);
    params[2].SetAsString(header.DescF);
    params[3].SetAsString(header.DescI);
    params[4].SetAsString(header.Comment);
    params[5].SetAsString(ListText(Lines));
    QueryPrint->ExecSQL();
  });
  return header.DescF;
}

TPrintListHeader TdmStructurePrinting::ParsePrintListHeader(const std::vector<std::string>& Lines,
                                                            const std::string& Default) {
  TPrintListHeader header;
  header.Comment = HeaderValue(Lines, "COM:");
  header.DescF = HeaderValue(Lines, "DES:F:");
  header.DescI = HeaderValue(Lines, "DES:I:");
  header.DescD = HeaderValue(Lines, "DES:D:");
  std::string descX = HeaderValue(Lines, "DES:X:");
  if (descX.empty()) descX = Default;
  for (std::string* description : {&header.DescF, &header.DescI, &header.DescD}) {
    if (description->empty()) *description = descX;
    *description = Clean(*description);
  }
  header.Comment = Clean(header.Comment);
  return header;
}

}  // namespace kv
