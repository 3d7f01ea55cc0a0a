// The dataset-role classes over the client layer, named as the suite's database code names them:
// a database attachment (TIBDatabase), a transaction whose Tag carries the nesting depth of units
// of work (TIBTransaction), a dataset that is opened, read and closed (TIBQuery) and a statement
// (TIBSQL), with parameters by name (":p0") or by position ("?").
//
// Links between them are plain pointers kept safe by the free notification of TComponent: a
// destroyed database, transaction or dataset is forgotten by everything linked to it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/Component.h"
#include "db/client/Attachment.h"
#include "db/client/DatabaseError.h"
#include "db/client/Statement.h"
#include "db/client/Transaction.h"
#include "db/client/Value.h"

namespace kv {

class TIBTransaction;
class TIBDataSet;

// The lines of an SQL text or parameter list joined as the suite's SQL reaches the server: CR LF,
// as Windows string lists join their lines (procedure sources keep the suite's line breaks).
std::string JoinSqlLines(const std::vector<std::string>& lines);

class TIBDatabase : public TComponent {
 public:
  TIBDatabase() = default;
  // Closes: open datasets closed, active transactions rolled back, detached; never throws.
  ~TIBDatabase() override;

  // The connection string: C:\Data\SOC.FDB (local, through the host prefix) or server:path.
  std::string DatabaseName;
  // Attachment parameters: "user_name=X", "password=Y", "sql_role_name=Z", "lc_ctype=ISO8859_1".
  std::vector<std::string> Params;
  // Creation parameters of CreateDatabase: "USER 'X'", "PASSWORD 'Y'", "PAGE_SIZE 4096",
  // "DEFAULT CHARACTER SET ISO8859_1" (joined by blanks after CREATE DATABASE '<name>').
  std::vector<std::string> CreateParams;
  int SQLDialect = 3;
  // Called before attaching and after a successful attachment (also by CreateDatabase).
  std::function<void(TIBDatabase&)> BeforeConnect;
  std::function<void(TIBDatabase&)> AfterConnect;

  bool Connected() const;
  void SetConnected(bool value);
  void Open();
  // Closes the linked datasets, rolls back the linked active transactions, detaches. A rollback
  // never commits work behind the caller's back.
  void Close();
  // Ends the attachment ignoring every failure (a lost server): datasets are closed internally,
  // transactions forgotten.
  void ForceClose() noexcept;
  // Creates DatabaseName with CreateParams; the new database stays attached.
  void CreateDatabase();
  // Drops the attached database (its file is deleted).
  void DropDatabase();
  // Whether the attachment is still alive (asks the server); never throws.
  bool TestConnected() noexcept;
  // The users attached to the database, one entry per attachment.
  std::vector<std::string> UserNames();

  TIBTransaction* DefaultTransaction() const { return defaultTransaction_; }
  void SetDefaultTransaction(TIBTransaction* value);

  fb::Attachment& Attachment() { return attachment_; }

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  friend class TIBTransaction;
  friend class TIBDataSet;
  void CloseLinked(bool force) noexcept;

  fb::Attachment attachment_;
  TIBTransaction* defaultTransaction_ = nullptr;
  std::vector<TIBTransaction*> transactions_;
  std::vector<TIBDataSet*> datasets_;
};

class TIBTransaction : public TComponent {
 public:
  TIBTransaction() = default;
  // Closes its datasets and rolls back when active; never throws.
  ~TIBTransaction() override;

  // Transaction parameters: "concurrency", "nowait", "read", "no_rec_version", "wait", "write",
  // "read_committed", "rec_version"; empty: the client's default.
  std::vector<std::string> Params;
  // Seconds a start with empty Params waits at most for a record another transaction holds
  // ("concurrency", "wait", "lock_timeout=N"); 0: the client's default, which waits for as long as
  // the record is held. Servers before Firebird 2 know no lock time-out: 0 for them.
  int LockTimeout = 0;

  TIBDatabase* DefaultDatabase() const { return defaultDatabase_; }
  void SetDefaultDatabase(TIBDatabase* value);

  bool Active() const { return transaction_.IsActive(); }
  bool InTransaction() const { return Active(); }
  void StartTransaction();
  // Commit and Rollback close the datasets on the transaction (their cursors end with it).
  void Commit();
  void CommitRetaining();
  void Rollback();

  fb::Transaction& Transaction() { return transaction_; }

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  friend class TIBDatabase;
  friend class TIBDataSet;
  void CloseDatasets() noexcept;

  fb::Transaction transaction_;
  TIBDatabase* defaultDatabase_ = nullptr;
  std::vector<TIBDataSet*> datasets_;
};

// A column of the current row.
class TField {
 public:
  std::string FieldName;
  fb::Value Value;

  bool IsNull() const { return Value.IsNull(); }
  std::string AsString() const { return Value.AsString(); }
  std::int32_t AsInteger() const { return Value.AsInteger(); }
  std::int64_t AsInt64() const { return Value.AsInt64(); }
  double AsFloat() const { return Value.AsFloat(); }
  double AsDateTime() const { return Value.AsDateTime(); }
  bool AsBoolean() const { return Value.AsBoolean(); }
  // The bytes of a binary blob (the UTF-8 text of a text column).
  std::string AsBytes() const { return Value.AsBytes(); }
};

// A parameter of the SQL text; every occurrence of its name takes its value. NULL until set.
class TParam {
 public:
  std::string Name;  // empty for a "?" parameter
  fb::Value Value;

  void SetAsString(const std::string& utf8) { Value = fb::Value::Text(utf8); }
  void SetAsInteger(std::int32_t n) { Value = fb::Value::Integer(n); }
  void SetAsInt64(std::int64_t n) { Value = fb::Value::Integer(n); }
  void SetAsFloat(double d) { Value = fb::Value::Float(d); }
  void SetAsDateTime(double dateTime) { Value = fb::Value::DateTime(dateTime); }
  void SetAsBlob(const std::string& bytes) { Value = fb::Value::Bytes(bytes); }
  void Clear() { Value = fb::Value::Null(); }

  bool IsNull() const { return Value.IsNull(); }
  std::string AsString() const { return Value.AsString(); }
  std::int32_t AsInteger() const { return Value.AsInteger(); }
  std::int64_t AsInt64() const { return Value.AsInt64(); }
  double AsDateTime() const { return Value.AsDateTime(); }
};

class TParams {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TParam& operator[](int index) { return items_.at(static_cast<std::size_t>(index)); }
  // Compared without regard to case; DatabaseError "Le paramètre « x » n'existe pas dans la
  // requête." when absent.
  TParam& ParamByName(const std::string& name);
  TParam* FindParam(const std::string& name);
  // Every value back to NULL.
  void ClearValues();

 private:
  friend class TIBDataSet;
  std::vector<TParam> items_;
};

// What TIBQuery and TIBSQL share: SQL lines, links, parameters, the statement and the current
// row.
class TIBDataSet : public TComponent {
 public:
  TIBDataSet() = default;
  ~TIBDataSet() override;  // closes, never throws

  // The SQL text, one entry per line (joined by JoinSqlLines). Changing it closes the dataset
  // and gives new parameters (NULL) at the next access.
  std::vector<std::string> SQL;
  // Whether ":name" parameters are recognised; off for procedure bodies, whose ":variable"
  // references are the server's.
  bool ParamCheck = true;

  TIBDatabase* Database() const { return database_; }
  void SetDatabase(TIBDatabase* value);
  TIBTransaction* Transaction() const { return transaction_; }
  void SetTransaction(TIBTransaction* value);

  TParams& Params();
  TParam& ParamByName(const std::string& name) { return Params().ParamByName(name); }

  bool Active() const { return active_; }
  bool Eof() const { return eof_; }
  // The next row; at the end Eof becomes true and the fields keep the last row.
  void Next();
  // Ends the cursor and drops the fields; failures of the client are ignored.
  void Close() noexcept;
  // Drops the cursor, the current row and the fields without asking the client (the attachment
  // is lost).
  void ForceInternalClose() noexcept;

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField& Fields(int index);
  // Compared without regard to case; DatabaseError when absent.
  TField& FieldByName(const std::string& name);
  TField* FindField(const std::string& name);
  // The result's column names in order (valid from opening until Close).
  std::vector<std::string> FieldNames() const;
  // Rows changed by the last INSERT, UPDATE or DELETE.
  long RowsAffected() const;

 protected:
  // Prepares and executes the text with the parameters; a query's cursor is opened and its first
  // row read. With rowsExpected, a statement that gives no rows is refused before it runs.
  void Run(bool rowsExpected);
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  friend class TIBDatabase;
  friend class TIBTransaction;
  void SyncParams();
  TIBDatabase& RunDatabase();
  void ReadRow();
  // Frees the prepared statement (forgets it without the client when `force`).
  void Unprepare(bool force) noexcept;

  TIBDatabase* database_ = nullptr;
  TIBTransaction* transaction_ = nullptr;
  TParams params_;
  std::string paramsText_;
  bool paramsChecked_ = true;
  bool paramsParsed_ = false;
  std::unique_ptr<fb::Statement> statement_;
  std::vector<TField> fields_;
  bool active_ = false;
  bool eof_ = true;
};

// A dataset: opened, read row by row, closed.
class TIBQuery : public TIBDataSet {
 public:
  // Rows are always read forward only here; the flag records what the caller asked for.
  bool UniDirectional = false;
  // The statements and events of an editable dataset, kept for the code that edits its rows
  // through them (the rows themselves are read only by this class).
  std::vector<std::string> InsertSQL;
  std::vector<std::string> ModifySQL;
  std::vector<std::string> DeleteSQL;
  std::function<void(TIBDataSet&)> AfterInsert;
  std::function<void(TIBDataSet&)> AfterPost;
  std::function<void(TIBDataSet&)> AfterDelete;

  // Runs the SELECT (or EXECUTE PROCEDURE with outputs) and reads its first row.
  void Open();
  void SetActive(bool value);
  // Runs a statement that gives no rows.
  void ExecSQL();
};

// A statement; a SELECT's rows are read through Fields, Eof and Next.
class TIBSQL : public TIBDataSet {
 public:
  // Runs the statement; for a SELECT the cursor is opened and the first row read.
  void ExecQuery();
};

}  // namespace kv
