// The print structure store: the two tables in which every company database keeps the layouts of
// its printed documents, "PRT_Params" (one row per printing list) and "PRT_Images" (pictures the
// layouts use), and the row operations of the print-list update: does a list exist, replace its
// text, insert it with the descriptions of its own header lines.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/Component.h"
#include "db/IBComponents.h"
#include "db/IBManagers.h"
#include "db/dmDBConnectionUnit.h"

namespace kv {

// The descriptions and the comment a printing list's header lines give it.
struct TPrintListHeader {
  std::string Comment;  // COM:
  std::string DescD;    // DES:D: (German)
  std::string DescI;    // DES:I: (Italian)
  std::string DescF;    // DES:F: (French)
};

class TdmStructurePrinting : public TComponent {
 public:
  // Bound to the connection module (not owned, must outlive the store). A folder that is not
  // empty is created on disk with its parents.
  TdmStructurePrinting(const std::string& Folder, TdmDBConnection* Connection);
  ~TdmStructurePrinting() override;

  // True when PRT_Params has a row of that list name. The database must be connected.
  bool PrintParamsExist(const std::string& Name);
  // Replaces the text of an existing list; its descriptions and comment stay as they are.
  void UpdatePrintParams(const std::string& Name, const std::vector<std::string>& Lines);
  // Inserts a list with the descriptions of its header; answers the French description.
  std::string InsertPrintParams(const std::string& Name, const std::vector<std::string>& Lines);

  // The header lines (matched at the first character, case-sensitive; the first of each kind
  // counts, at most 255 characters of it): COM: the comment, DES:F:, DES:I:, DES:D: the
  // descriptions, DES:X: the description of every language without one, else Default. Each
  // result ends before a "/*" and is trimmed of blanks and control characters.
  static TPrintListHeader ParsePrintListHeader(const std::vector<std::string>& Lines,
                                               const std::string& Default);

  // How long a row operation waits for a list another transaction holds, on Firebird 2 and later
  // servers (older ones wait as the client's default does).
  static constexpr int kLockTimeoutSeconds = TdmDBConnection::kLockTimeoutSeconds;

  // Components, in their order of creation.
  std::unique_ptr<TTableManager> ManagerPrintParams;
  std::unique_ptr<TTableManager> ManagerPrintImages;
  std::unique_ptr<TIBQuery> QueryPrint;
  std::unique_ptr<TIBSQL> IBSQL1;
  TdmDBConnection* FConnection;  // not owned

 private:
  // Wires the members to the connection and sets the table descriptions.
  void DataModuleCreate();
  // Runs the work as one unit of work of the connection module.
  template <typename Work>
  auto InUnitOfWork(Work&& work);
};

}  // namespace kv
