// A prepared SQL statement with its parameters and, for a query, its current result row.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "db/client/Value.h"

namespace kv::fb {

class Attachment;
class Transaction;

// SQL with named parameters rewritten for the client: ":name" becomes "?" outside quoted strings,
// quoted names and comments; Names[i] is the name of the i-th "?" (empty for a "?" written as
// such). A name may occur several times.
struct ParsedSql {
  std::string Text;
  std::vector<std::string> Names;
};
ParsedSql ParseParams(const std::string& sql);

struct Column {
  std::string Name;   // the column's own name (empty for an expression)
  std::string Alias;  // the name the result gives it (its alias, or the name)
};

class Statement {
 public:
  Statement();
  ~Statement();  // frees the statement, never throws
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Prepares the text (SQL dialect of the attachment). With paramCheck, ":name" parameters are
  // recognised (ParseParams); without it the text goes to the server as it is (procedure bodies
  // hold ":variable" references).
  void Prepare(Attachment& attachment, Transaction& transaction, const std::string& sql,
               bool paramCheck = true);
  bool IsPrepared() const;
  // Whether the statement gives rows (SELECT, or EXECUTE PROCEDURE with outputs).
  bool IsQuery() const;

  std::size_t ParamCount() const;
  const std::vector<std::string>& ParamNames() const;
  void SetParam(std::size_t index, const Value& value);
  // Sets every occurrence of the name (compared without regard to case); DatabaseError when the
  // statement has no such parameter.
  void SetParam(const std::string& name, const Value& value);

  // Runs the statement with the parameters set. For a SELECT the cursor is opened: Fetch reads
  // the rows. EXECUTE PROCEDURE's outputs are the one row of its result (Fetch gives it once).
  void Execute(Transaction& transaction);
  // The next row into Row(); false at the end (the cursor is then closed).
  bool Fetch();
  // Closes an open cursor; failures (a cursor closed by a commit) are ignored.
  void Close() noexcept;
  // Forgets the cursor without asking the client (a lost attachment).
  void Forget() noexcept;
  // Rows changed by the last INSERT, UPDATE or DELETE.
  long RowsAffected() const;

  const std::vector<Column>& Columns() const;
  const std::vector<Value>& Row() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace kv::fb
