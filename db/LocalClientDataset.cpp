#include "db/LocalClientDataset.h"

#include <cctype>

#include "db/client/DatabaseError.h"
#include "formats/Text.h"

namespace kv {

namespace {

bool IsBlank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Upper case of ASCII letters only, so that byte positions stay those of the text.
std::string AsciiUpper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// A column name as the server gives it, written so that the server reads it back unchanged.
std::string QuotedName(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

// Starts the dataset's transaction when it is not active, and ends it with the work.
class ProviderWork {
 public:
  explicit ProviderWork(TIBQuery& dataset) : transaction_(dataset.Transaction()) {
    if (transaction_ == nullptr) throw DatabaseError(dataset.Name + " : aucune transaction.");
    own_ = !transaction_->Active();
    if (own_) transaction_->StartTransaction();
  }
  ~ProviderWork() {
    if (own_ && transaction_->Active()) {
      try {
        transaction_->Rollback();
      } catch (...) {
        transaction_->Transaction().ForceRollback();
      }
    }
  }
  ProviderWork(const ProviderWork&) = delete;
  ProviderWork& operator=(const ProviderWork&) = delete;
  void Done() {
    if (own_) transaction_->Commit();
  }
  void Failed() noexcept {
    if (!own_ || !transaction_->Active()) return;
    try {
      transaction_->Rollback();
    } catch (...) {
      transaction_->Transaction().ForceRollback();
    }
  }

 private:
  TIBTransaction* transaction_;
  bool own_ = false;
};

TUpdateKind KindOf(TClientRow::State state) {
  switch (state) {
    case TClientRow::State::Inserted:
      return ukInsert;
    case TClientRow::State::Deleted:
      return ukDelete;
    default:
      return ukModify;
  }
}

}  // namespace

// --- Provider --------------------------------------------------------------------------------

std::string TDataSetProvider::Table() const {
  if (!TableName.empty()) return TableName;
  if (DataSet == nullptr) return {};
  const std::string sql = JoinSqlLines(DataSet->SQL);
  const std::string upper = AsciiUpper(sql);
  for (std::size_t at = upper.find("FROM"); at != std::string::npos; at = upper.find("FROM", at + 4)) {
    const bool before = at == 0 || IsBlank(upper[at - 1]);
    const bool after = at + 4 < upper.size() && IsBlank(upper[at + 4]);
    if (!before || !after) continue;
    std::size_t start = at + 4;
    while (start < sql.size() && IsBlank(sql[start])) ++start;
    std::size_t end = start;
    while (end < sql.size() && !IsBlank(sql[end]) && sql[end] != ',' && sql[end] != ';' && sql[end] != ')')
      ++end;
    return sql.substr(start, end - start);
  }
  return {};
}

void TDataSetProvider::GetRecords(std::vector<std::string>& FieldNames, std::vector<TClientRow>& Rows) {
  if (DataSet == nullptr) throw DatabaseError(Name + " : aucun dataset.");
  FieldNames.clear();
  Rows.clear();
  ProviderWork work(*DataSet);
  DataSet->Open();
  FieldNames = DataSet->FieldNames();
  for (; !DataSet->Eof(); DataSet->Next()) {
    TClientRow row;
    for (int i = 0; i < DataSet->FieldCount(); ++i) row.Original.push_back(DataSet->Fields(i).Value);
    row.Current = row.Original;
    Rows.push_back(std::move(row));
  }
  DataSet->Close();
  work.Done();
}

void TDataSetProvider::ApplyOne(const std::vector<std::string>& FieldNames, const TClientRow& Row) {
  TIBSQL statement;
  statement.Name = Name + "_update";
  statement.SetDatabase(DataSet->Database());
  statement.SetTransaction(DataSet->Transaction());
  std::vector<fb::Value> values;
  const auto param = [&values](const fb::Value& value) {
    values.push_back(value);
    return ":p" + std::to_string(values.size() - 1);
  };
  // The WHERE clause that finds the row as it was read.
  const auto where = [&]() {
    std::string clause;
    for (std::size_t i = 0; i < FieldNames.size(); ++i) {
      bool key = KeyFields.empty();
      for (const std::string& k : KeyFields) key = key || text::IEquals(k, FieldNames[i]);
      if (!key) continue;
      const fb::Value& original = Row.Original[i];
      if (!KeyFields.empty() || original.GetKind() != fb::Value::Kind::Bytes) {
        clause += clause.empty() ? " WHERE " : " AND ";
        clause += QuotedName(FieldNames[i]) + (original.IsNull() ? " IS NULL" : " = " + param(original));
      }
    }
    return clause;
  };
  const std::string table = Table();
  if (table.empty()) throw DatabaseError(Name + " : la table à mettre à jour est inconnue.");
  std::string sql;
  if (Row.Status == TClientRow::State::Inserted) {
    std::string columns, marks;
    for (std::size_t i = 0; i < FieldNames.size(); ++i) {
      if (Row.Current[i].IsNull()) continue;
      columns += (columns.empty() ? "" : ", ") + QuotedName(FieldNames[i]);
      marks += (marks.empty() ? "" : ", ") + param(Row.Current[i]);
    }
    sql = columns.empty() ? "INSERT INTO " + table + " DEFAULT VALUES"
                          : "INSERT INTO " + table + " (" + columns + ") VALUES (" + marks + ")";
  } else if (Row.Status == TClientRow::State::Deleted) {
    sql = "DELETE FROM " + table + where();
  } else {
    std::string set;
    for (std::size_t i = 0; i < FieldNames.size(); ++i) {
      if (Row.Current[i] == Row.Original[i]) continue;
      set += (set.empty() ? "" : ", ") + QuotedName(FieldNames[i]) + " = " + param(Row.Current[i]);
    }
    if (set.empty()) return;
    sql = "UPDATE " + table + " SET " + set;
    sql += where();
  }
  statement.SQL = {sql};
  for (std::size_t i = 0; i < values.size(); ++i)
    statement.ParamByName("p" + std::to_string(i)).Value = values[i];
  statement.ExecQuery();
  if (Row.Status != TClientRow::State::Inserted && statement.RowsAffected() != 1) {
    throw DatabaseError("L'enregistrement n'a pas été retrouvé ou a été modifié par un autre utilisateur.");
  }
}

void TDataSetProvider::ApplyUpdates(const std::vector<std::string>& FieldNames,
                                    const std::vector<TClientRow>& Rows) {
  if (DataSet == nullptr) throw DatabaseError(Name + " : aucun dataset.");
  ProviderWork work(*DataSet);
  for (const TClientRow& row : Rows) {
    if (row.Status == TClientRow::State::Unchanged) continue;
    try {
      ApplyOne(FieldNames, row);
    } catch (const std::exception& E) {
      work.Failed();
      if (OnUpdateError) OnUpdateError(E, KindOf(row.Status));
      throw;
    }
  }
  work.Done();
}

// --- Client dataset --------------------------------------------------------------------------

TLocalClientDataset::~TLocalClientDataset() = default;

void TLocalClientDataset::Open() {
  if (!Dsp) throw DatabaseError(Name + " : aucun fournisseur.");
  std::vector<std::string> names;
  std::vector<TClientRow> rows;
  Dsp->GetRecords(names, rows);
  fieldNames_ = std::move(names);
  rows_ = std::move(rows);
  active_ = true;
}

void TLocalClientDataset::Close() {
  active_ = false;
  fieldNames_.clear();
  rows_.clear();
}

void TLocalClientDataset::CheckActive() const {
  if (!active_) throw DatabaseError(Name + " : le dataset est fermé.");
}

int TLocalClientDataset::RecordCount() const {
  int count = 0;
  for (const TClientRow& row : rows_) count += row.Status != TClientRow::State::Deleted ? 1 : 0;
  return count;
}

std::size_t TLocalClientDataset::RowIndex(int Row) const {
  CheckActive();
  int seen = 0;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].Status == TClientRow::State::Deleted) continue;
    if (seen++ == Row) return i;
  }
  throw DatabaseError(Name + " : ligne " + std::to_string(Row) + " hors limites.");
}

std::size_t TLocalClientDataset::FieldIndex(const std::string& FieldName) const {
  for (std::size_t i = 0; i < fieldNames_.size(); ++i) {
    if (text::IEquals(fieldNames_[i], FieldName)) return i;
  }
  throw DatabaseError(Name + " : champ '" + FieldName + "' introuvable.");
}

const fb::Value& TLocalClientDataset::FieldValue(int Row, const std::string& FieldName) const {
  return rows_[RowIndex(Row)].Current[FieldIndex(FieldName)];
}

void TLocalClientDataset::SetFieldValue(int Row, const std::string& FieldName, const fb::Value& Value) {
  TClientRow& row = rows_[RowIndex(Row)];
  row.Current[FieldIndex(FieldName)] = Value;
  if (row.Status == TClientRow::State::Unchanged) row.Status = TClientRow::State::Modified;
}

void TLocalClientDataset::AppendRecord(const std::vector<fb::Value>& Values) {
  CheckActive();
  if (Values.size() > fieldNames_.size()) throw DatabaseError(Name + " : trop de valeurs.");
  TClientRow row;
  row.Status = TClientRow::State::Inserted;
  row.Current = Values;
  row.Current.resize(fieldNames_.size());
  row.Original.resize(fieldNames_.size());
  rows_.push_back(std::move(row));
}

void TLocalClientDataset::Delete(int Row) {
  const std::size_t index = RowIndex(Row);
  if (rows_[index].Status == TClientRow::State::Inserted) {
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
    return;
  }
  rows_[index].Status = TClientRow::State::Deleted;
}

int TLocalClientDataset::ChangeCount() const {
  int count = 0;
  for (const TClientRow& row : rows_) count += row.Status != TClientRow::State::Unchanged ? 1 : 0;
  return count;
}

void TLocalClientDataset::ApplyUpdates() {
  CheckActive();
  Dsp->ApplyUpdates(fieldNames_, rows_);
  std::vector<TClientRow> merged;
  for (TClientRow& row : rows_) {
    if (row.Status == TClientRow::State::Deleted) continue;
    row.Status = TClientRow::State::Unchanged;
    row.Original = row.Current;
    merged.push_back(std::move(row));
  }
  rows_ = std::move(merged);
}

void TLocalClientDataset::CancelUpdates() {
  std::vector<TClientRow> kept;
  for (TClientRow& row : rows_) {
    if (row.Status == TClientRow::State::Inserted) continue;
    row.Status = TClientRow::State::Unchanged;
    row.Current = row.Original;
    kept.push_back(std::move(row));
  }
  rows_ = std::move(kept);
}

}  // namespace kv
