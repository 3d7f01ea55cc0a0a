#include "db/IBComponents.h"

#include <algorithm>

#include "formats/Text.h"

namespace kv {

namespace {

template <typename T>
void AddOnce(std::vector<T*>& list, T* item) {
  if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

}  // namespace

std::string JoinSqlLines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i];
  }
  return text;
}

// --- TIBDatabase ---------------------------------------------------------------------------

TIBDatabase::~TIBDatabase() {
  try {
    Close();
  } catch (...) {
    ForceClose();
  }
}

bool TIBDatabase::Connected() const {
  return attachment_.IsAttached();
}

void TIBDatabase::SetConnected(bool value) {
  if (value) {
    Open();
  } else {
    Close();
  }
}

void TIBDatabase::Open() {
  if (Connected()) return;
  if (DatabaseName.empty()) throw DatabaseError("Le nom de la base de données n'est pas renseigné.");
  if (BeforeConnect) BeforeConnect(*this);
  attachment_.Attach(DatabaseName, Params, SQLDialect);
  if (AfterConnect) AfterConnect(*this);
}

void TIBDatabase::CloseLinked(bool force) noexcept {
  for (TIBDataSet* dataset : datasets_) dataset->Unprepare(force);
  for (TIBTransaction* transaction : transactions_) {
    transaction->CloseDatasets();
    transaction->transaction_.ForceRollback();
  }
}

void TIBDatabase::Close() {
  if (!Connected()) return;
  for (TIBDataSet* dataset : datasets_) dataset->Close();
  for (TIBTransaction* transaction : transactions_) {
    if (transaction->Active()) {
      transaction->CloseDatasets();
      transaction->transaction_.Rollback();
    }
  }
  CloseLinked(false);
  attachment_.Detach();
}

void TIBDatabase::ForceClose() noexcept {
  for (TIBDataSet* dataset : datasets_) dataset->ForceInternalClose();
  CloseLinked(true);
  attachment_.ForceClose();
}

void TIBDatabase::CreateDatabase() {
  if (Connected()) throw DatabaseError("La base de données est déjà ouverte.");
  if (DatabaseName.empty()) throw DatabaseError("Le nom de la base de données n'est pas renseigné.");
  attachment_.Create(DatabaseName, CreateParams, SQLDialect);
  if (AfterConnect) AfterConnect(*this);
}

void TIBDatabase::DropDatabase() {
  if (!Connected()) throw DatabaseError("La base de données n'est pas ouverte.");
  for (TIBDataSet* dataset : datasets_) dataset->Close();
  for (TIBTransaction* transaction : transactions_) {
    if (transaction->Active()) {
      transaction->CloseDatasets();
      transaction->transaction_.Rollback();
    }
  }
  CloseLinked(false);
  attachment_.Drop();
}

bool TIBDatabase::TestConnected() noexcept {
  return attachment_.IsAlive();
}

std::vector<std::string> TIBDatabase::UserNames() {
  return attachment_.UserNames();
}

void TIBDatabase::SetDefaultTransaction(TIBTransaction* value) {
  defaultTransaction_ = value;
  if (value != nullptr) FreeNotification(value);
}

void TIBDatabase::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove) return;
  if (AComponent == defaultTransaction_) defaultTransaction_ = nullptr;
  std::erase_if(transactions_, [&](TIBTransaction* t) { return static_cast<TComponent*>(t) == AComponent; });
  std::erase_if(datasets_, [&](TIBDataSet* d) { return static_cast<TComponent*>(d) == AComponent; });
}

// --- TIBTransaction ------------------------------------------------------------------------

TIBTransaction::~TIBTransaction() {
  CloseDatasets();
  transaction_.ForceRollback();
}

void TIBTransaction::SetDefaultDatabase(TIBDatabase* value) {
  if (value == defaultDatabase_) return;
  if (Active())
    throw DatabaseError("La transaction " + Name + " est active : sa base de données ne peut changer.");
  if (defaultDatabase_ != nullptr) std::erase(defaultDatabase_->transactions_, this);
  defaultDatabase_ = value;
  if (value != nullptr) {
    AddOnce(value->transactions_, this);
    FreeNotification(value);
  }
}

void TIBTransaction::StartTransaction() {
  if (defaultDatabase_ == nullptr)
    throw DatabaseError("La transaction " + Name + " n'a pas de base de données.");
  if (!defaultDatabase_->Connected()) throw DatabaseError("La base de données n'est pas ouverte.");
  if (Params.empty() && LockTimeout > 0) {
    transaction_.Start(defaultDatabase_->attachment_,
                       {"concurrency", "wait", "lock_timeout=" + std::to_string(LockTimeout)});
  } else {
    transaction_.Start(defaultDatabase_->attachment_, Params);
  }
}

void TIBTransaction::CloseDatasets() noexcept {
  for (TIBDataSet* dataset : datasets_) dataset->Close();
}

void TIBTransaction::Commit() {
  if (!Active()) throw DatabaseError("La transaction n'est pas active.");
  CloseDatasets();
  transaction_.Commit();
}

void TIBTransaction::CommitRetaining() {
  transaction_.CommitRetaining();
}

void TIBTransaction::Rollback() {
  if (!Active()) throw DatabaseError("La transaction n'est pas active.");
  CloseDatasets();
  transaction_.Rollback();
}

void TIBTransaction::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove) return;
  if (AComponent == defaultDatabase_) {
    // The attachment went with the database, and the transaction with it.
    transaction_.ForceRollback();
    defaultDatabase_ = nullptr;
  }
  std::erase_if(datasets_, [&](TIBDataSet* d) { return static_cast<TComponent*>(d) == AComponent; });
}

// --- TParams -------------------------------------------------------------------------------

TParam* TParams::FindParam(const std::string& name) {
  for (TParam& param : items_) {
    if (!param.Name.empty() && text::IEquals(param.Name, name)) return &param;
  }
  return nullptr;
}

TParam& TParams::ParamByName(const std::string& name) {
  if (TParam* param = FindParam(name)) return *param;
  throw DatabaseError("Le paramètre « " + name + " » n'existe pas dans la requête.");
}

void TParams::ClearValues() {
  for (TParam& param : items_) param.Clear();
}

// --- TIBDataSet ----------------------------------------------------------------------------

TIBDataSet::~TIBDataSet() {
  Close();
  Unprepare(database_ == nullptr || !database_->Connected());
}

void TIBDataSet::SetDatabase(TIBDatabase* value) {
  if (value == database_) return;
  Close();
  Unprepare(database_ == nullptr || !database_->Connected());
  if (database_ != nullptr) std::erase(database_->datasets_, this);
  database_ = value;
  if (value != nullptr) {
    AddOnce(value->datasets_, this);
    FreeNotification(value);
  }
}

void TIBDataSet::SetTransaction(TIBTransaction* value) {
  if (value == transaction_) return;
  Close();
  if (transaction_ != nullptr) std::erase(transaction_->datasets_, this);
  transaction_ = value;
  if (value != nullptr) {
    AddOnce(value->datasets_, this);
    FreeNotification(value);
  }
}

void TIBDataSet::SyncParams() {
  const std::string text = JoinSqlLines(SQL);
  if (paramsParsed_ && text == paramsText_ && ParamCheck == paramsChecked_) return;
  Close();
  Unprepare(database_ == nullptr || !database_->Connected());
  params_.items_.clear();
  if (ParamCheck) {
    for (const std::string& name : fb::ParseParams(text).Names) {
      if (name.empty() || params_.FindParam(name) == nullptr) params_.items_.push_back(TParam{name, {}});
    }
  }
  paramsText_ = text;
  paramsChecked_ = ParamCheck;
  paramsParsed_ = true;
}

TParams& TIBDataSet::Params() {
  SyncParams();
  return params_;
}

TIBDatabase& TIBDataSet::RunDatabase() {
  TIBDatabase* database = database_ != nullptr ? database_ : nullptr;
  if (database == nullptr && transaction_ != nullptr) database = transaction_->DefaultDatabase();
  if (database == nullptr) throw DatabaseError(Name + " : aucune base de données.");
  if (!database->Connected()) throw DatabaseError("La base de données n'est pas ouverte.");
  return *database;
}

void TIBDataSet::Run(bool rowsExpected) {
  SyncParams();
  Close();
  if (transaction_ == nullptr) throw DatabaseError(Name + " : aucune transaction.");
  TIBDatabase& database = RunDatabase();
  if (!transaction_->Active()) throw DatabaseError("La transaction n'est pas active.");
  if (!statement_) statement_ = std::make_unique<fb::Statement>();
  statement_->Prepare(database.Attachment(), transaction_->Transaction(), paramsText_, ParamCheck);
  if (rowsExpected && !statement_->IsQuery()) {
    throw DatabaseError(Name + " : la requête ne renvoie pas de lignes (ExecSQL l'exécute).");
  }
  const auto& names = statement_->ParamNames();
  std::size_t unnamed = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!names[i].empty()) {
      statement_->SetParam(i, params_.ParamByName(names[i]).Value);
      continue;
    }
    // The k-th "?" takes the k-th unnamed parameter.
    std::size_t seen = 0;
    for (TParam& param : params_.items_) {
      if (param.Name.empty() && seen++ == unnamed) statement_->SetParam(i, param.Value);
    }
    ++unnamed;
  }
  statement_->Execute(transaction_->Transaction());
  if (!statement_->IsQuery()) return;
  fields_.clear();
  for (const fb::Column& column : statement_->Columns()) fields_.push_back(TField{column.Alias, {}});
  active_ = true;
  eof_ = false;
  ReadRow();
}

void TIBDataSet::ReadRow() {
  if (!statement_->Fetch()) {
    eof_ = true;
    return;
  }
  const auto& row = statement_->Row();
  for (std::size_t i = 0; i < row.size() && i < fields_.size(); ++i) fields_[i].Value = row[i];
}

void TIBDataSet::Next() {
  if (!active_) throw DatabaseError(Name + " : le jeu de données est fermé.");
  if (eof_) return;
  ReadRow();
}

void TIBDataSet::Close() noexcept {
  if (statement_) statement_->Close();
  fields_.clear();
  active_ = false;
  eof_ = true;
}

void TIBDataSet::ForceInternalClose() noexcept {
  if (statement_) statement_->Forget();
  fields_.clear();
  active_ = false;
  eof_ = true;
}

void TIBDataSet::Unprepare(bool force) noexcept {
  if (!statement_) return;
  if (force) statement_->Forget();
  statement_.reset();
}

TField& TIBDataSet::Fields(int index) {
  if (index < 0 || index >= FieldCount()) {
    throw DatabaseError(Name + " : la colonne n° " + std::to_string(index) + " n'existe pas.");
  }
  return fields_[static_cast<std::size_t>(index)];
}

TField* TIBDataSet::FindField(const std::string& name) {
  for (TField& field : fields_) {
    if (text::IEquals(field.FieldName, name)) return &field;
  }
  return nullptr;
}

TField& TIBDataSet::FieldByName(const std::string& name) {
  if (TField* field = FindField(name)) return *field;
  throw DatabaseError(Name + " : la colonne « " + name + " » n'existe pas.");
}

std::vector<std::string> TIBDataSet::FieldNames() const {
  std::vector<std::string> names;
  for (const TField& field : fields_) names.push_back(field.FieldName);
  return names;
}

long TIBDataSet::RowsAffected() const {
  return statement_ ? statement_->RowsAffected() : 0;
}

void TIBDataSet::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove) return;
  if (AComponent == database_) {
    ForceInternalClose();
    Unprepare(true);
    database_ = nullptr;
  }
  if (AComponent == transaction_) {
    Close();
    transaction_ = nullptr;
  }
}

// --- TIBQuery, TIBSQL ----------------------------------------------------------------------

void TIBQuery::Open() {
  if (Active()) return;
  Run(true);
}

void TIBQuery::SetActive(bool value) {
  if (value) {
    Open();
  } else {
    Close();
  }
}

void TIBQuery::ExecSQL() {
  Run(false);
  Close();
}

void TIBSQL::ExecQuery() {
  Run(false);
}

}  // namespace kv
