// The client dataset of the connection module: an in-memory table read from a query through its
// provider, changed row by row in memory and written back through the same provider.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/Component.h"
#include "db/IBComponents.h"
#include "db/client/Value.h"

namespace kv {

// The kind of a change written back by a provider.
enum TUpdateKind : int { ukModify = 0, ukInsert = 1, ukDelete = 2 };

// One row of a client dataset: its values as read and as changed.
struct TClientRow {
  enum class State { Unchanged, Modified, Inserted, Deleted };
  State Status = State::Unchanged;
  std::vector<fb::Value> Original;
  std::vector<fb::Value> Current;
};

// Reads its dataset's rows and writes changed rows back as INSERT, UPDATE and DELETE statements on
// the dataset's database and transaction. A transaction that is not active is started for the
// work and ended with it (committed, or rolled back on a failure); an active one is left to its
// owner.
class TDataSetProvider : public TComponent {
 public:
  using TUpdateErrorEvent = std::function<void(const std::exception& E, TUpdateKind UpdateKind)>;

  TIBQuery* DataSet = nullptr;  // not owned
  // The table written; empty: the name after the first FROM of the dataset's SQL.
  std::string TableName;
  // The columns that find a row again; empty: every column read, by its value as read.
  std::vector<std::string> KeyFields;
  // Told of a change the database refused, before the failure leaves ApplyUpdates.
  TUpdateErrorEvent OnUpdateError;

  // Opens the dataset, reads every row, closes it.
  void GetRecords(std::vector<std::string>& FieldNames, std::vector<TClientRow>& Rows);
  // Writes the changed rows in order; every row must be found exactly once. The first refused
  // change ends the work (rolled back when the provider started the transaction) and raises.
  void ApplyUpdates(const std::vector<std::string>& FieldNames, const std::vector<TClientRow>& Rows);

 private:
  std::string Table() const;
  void ApplyOne(const std::vector<std::string>& FieldNames, const TClientRow& Row);
};

class TLocalClientDataset : public TComponent {
 public:
  TLocalClientDataset() = default;
  ~TLocalClientDataset() override;

  // Its provider, reading Query.
  std::unique_ptr<TDataSetProvider> Dsp;
  std::unique_ptr<TIBQuery> Query;

  // Reads the rows through the provider; every change is forgotten.
  void Open();
  void Close();
  bool Active() const { return active_; }

  // The rows not deleted, in order; Row indexes count them.
  int RecordCount() const;
  const std::vector<std::string>& FieldNames() const { return fieldNames_; }
  const fb::Value& FieldValue(int Row, const std::string& FieldName) const;
  void SetFieldValue(int Row, const std::string& FieldName, const fb::Value& Value);
  // A new row; the values are given by position, missing ones NULL.
  void AppendRecord(const std::vector<fb::Value>& Values);
  void Delete(int Row);
  // Rows changed, inserted or deleted since the rows were read or last written.
  int ChangeCount() const;
  // Writes the changes back through the provider; on success they become the rows as read.
  void ApplyUpdates();
  void CancelUpdates();

 private:
  void CheckActive() const;
  std::size_t RowIndex(int Row) const;
  std::size_t FieldIndex(const std::string& FieldName) const;

  bool active_ = false;
  std::vector<std::string> fieldNames_;
  std::vector<TClientRow> rows_;
};

}  // namespace kv
