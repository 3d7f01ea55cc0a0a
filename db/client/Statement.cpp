#include "db/client/Statement.h"

#include <algorithm>
#include <cstring>

#include "db/client/Attachment.h"
#include "db/client/DatabaseError.h"
#include "db/client/IscApi.h"
#include "db/client/Transaction.h"
#include "formats/Text.h"

namespace kv::fb {

using detail::Api;
using detail::Check;

namespace {

// 1858-11-17, day 0 of the engine's dates, in the suite's day numbers (from 1899-12-30).
constexpr int kEngineEpoch = -15018;
constexpr double kEngineTicksPerDay = 864000000.0;  // 1/10000 s
constexpr std::size_t kSegmentSize = 32 * 1024 - 1;

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
}

long ReadLittleEndian(const char* p, int length) {
  unsigned long value = 0;
  for (int i = 0; i < length; ++i)
    value |= static_cast<unsigned long>(static_cast<unsigned char>(p[i])) << (8 * i);
  if (length > 0 && length < 8 && (value & (1UL << (8 * length - 1)))) value |= ~0UL << (8 * length);
  return static_cast<long>(value);
}

// An XSQLDA with the buffers of its variables.
class Sqlda {
 public:
  explicit Sqlda(int count = 1) { Resize(count); }

  void Resize(int count) {
    count = std::max(count, 1);
    storage_.assign(XSQLDA_LENGTH(count), 0);
    da()->version = SQLDA_VERSION1;
    da()->sqln = static_cast<ISC_SHORT>(count);
    buffers_.assign(static_cast<std::size_t>(count), {});
    indicators_.assign(static_cast<std::size_t>(count), 0);
  }
  XSQLDA* da() { return reinterpret_cast<XSQLDA*>(storage_.data()); }
  int Count() { return da()->sqld; }
  XSQLVAR& Var(int i) { return da()->sqlvar[i]; }
  // A buffer of `bytes` for the variable, 8-byte aligned, and its indicator.
  char* Allocate(int i, std::size_t bytes) {
    auto& buffer = buffers_[static_cast<std::size_t>(i)];
    buffer.assign(bytes / 8 + 1, 0);
    XSQLVAR& var = Var(i);
    var.sqldata = reinterpret_cast<ISC_SCHAR*>(buffer.data());
    var.sqlind = &indicators_[static_cast<std::size_t>(i)];
    indicators_[static_cast<std::size_t>(i)] = 0;
    return var.sqldata;
  }

 private:
  std::vector<char> storage_;
  std::vector<std::vector<std::int64_t>> buffers_;
  std::vector<ISC_SHORT> indicators_;
};

double FromEngineDate(ISC_DATE date, ISC_TIME time) {
  const double days = static_cast<double>(date) + kEngineEpoch;
  const double fraction = static_cast<double>(time) / kEngineTicksPerDay;
  return days >= 0 ? days + fraction : days - fraction;
}

ISC_TIMESTAMP ToEngineTimestamp(double dateTime) {
  DateTimeParts parts = DecodeDateTime(dateTime);
  const int ms = ((parts.Hour * 60 + parts.Minute) * 60 + parts.Second) * 1000 + parts.Millisecond;
  parts.Hour = parts.Minute = parts.Second = parts.Millisecond = 0;
  ISC_TIMESTAMP ts;
  ts.timestamp_date = static_cast<ISC_DATE>(EncodeDateTime(parts) - kEngineEpoch);
  ts.timestamp_time = static_cast<ISC_TIME>(ms) * 10;
  return ts;
}

}  // namespace

ParsedSql ParseParams(const std::string& sql) {
  ParsedSql out;
  out.Text.reserve(sql.size());
  const std::size_t n = sql.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {  // a string or a quoted name, doubled quotes inside
      std::size_t j = i + 1;
      while (j < n) {
        if (sql[j] == c) {
          if (j + 1 < n && sql[j + 1] == c) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      const std::size_t end = std::min(j + 1, n);
      out.Text.append(sql, i, end - i);
      i = end;
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      std::size_t end = sql.find('\n', i);
      end = end == std::string::npos ? n : end;
      out.Text.append(sql, i, end - i);
      i = end;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      std::size_t end = sql.find("*/", i + 2);
      end = end == std::string::npos ? n : end + 2;
      out.Text.append(sql, i, end - i);
      i = end;
    } else if (c == ':' && i + 1 < n && IsNameChar(sql[i + 1])) {
      std::size_t j = i + 1;
      while (j < n && IsNameChar(sql[j])) ++j;
      out.Names.push_back(sql.substr(i + 1, j - i - 1));
      out.Text += '?';
      i = j;
    } else if (c == '?') {
      out.Names.emplace_back();
      out.Text += '?';
      ++i;
    } else {
      out.Text += c;
      ++i;
    }
  }
  return out;
}

struct Statement::Impl {
  isc_stmt_handle stmt = 0;
  isc_db_handle db = 0;
  isc_tr_handle tr = 0;  // of the last execution: blobs of the rows are read in it
  int dialect = 3;
  int type = 0;  // isc_info_sql_stmt_*
  Sqlda in;
  Sqlda out;
  std::vector<XSQLVAR> described;  // the parameters as the server described them
  std::vector<std::string> names;
  std::vector<Value> params;
  std::vector<Column> columns;
  std::vector<Value> row;
  bool cursorOpen = false;
  bool pendingRow = false;  // EXECUTE PROCEDURE's one row, not yet fetched

  void Free() noexcept {
    if (stmt == 0) return;
    try {
      ISC_STATUS_ARRAY status = {};
      const detail::WatchedCall watched(db);
      Api().isc_dsql_free_statement(status, &stmt, DSQL_drop);
    } catch (...) {
    }
    stmt = 0;
    cursorOpen = pendingRow = false;
  }

  std::string ReadBlob(ISC_QUAD id) {
    const auto& api = Api();
    const detail::WatchedCall watched(db);  // the whole blob: a printing list is small
    ISC_STATUS_ARRAY status = {};
    isc_blob_handle blob = 0;
    api.isc_open_blob2(status, &db, &tr, &blob, &id, 0, nullptr);
    Check(status);
    std::string content;
    std::vector<char> segment(kSegmentSize);
    for (;;) {
      unsigned short length = 0;
      const ISC_STATUS result = api.isc_get_segment(
          status, &blob, &length, static_cast<unsigned short>(segment.size()), segment.data());
      if (result == isc_segstr_eof) break;
      if (result != 0 && result != isc_segment) {
        ISC_STATUS_ARRAY ignored = {};
        api.isc_cancel_blob(ignored, &blob);
        Check(status);
      }
      content.append(segment.data(), length);
    }
    api.isc_close_blob(status, &blob);
    Check(status);
    return content;
  }

  ISC_QUAD WriteBlob(const std::string& content) {
    const auto& api = Api();
    const detail::WatchedCall watched(db);
    ISC_STATUS_ARRAY status = {};
    isc_blob_handle blob = 0;
    ISC_QUAD id{};
    api.isc_create_blob2(status, &db, &tr, &blob, &id, 0, nullptr);
    Check(status);
    for (std::size_t pos = 0; pos < content.size(); pos += kSegmentSize) {
      const std::size_t length = std::min(kSegmentSize, content.size() - pos);
      api.isc_put_segment(status, &blob, static_cast<unsigned short>(length), content.data() + pos);
      if (detail::Failed(status)) {
        ISC_STATUS_ARRAY ignored = {};
        api.isc_cancel_blob(ignored, &blob);
        Check(status);
      }
    }
    api.isc_close_blob(status, &blob);
    Check(status);
    return id;
  }

  // Binds the parameter values into the input XSQLDA, converting on the client's side only what
  // the engine cannot (text to ISO 8859-1, blobs); the engine converts the rest to the
  // parameter's own type.
  void BindParams() {
    for (int i = 0; i < in.Count(); ++i) {
      XSQLVAR& var = in.Var(i);
      // Each execution starts from the described type, not from the previous value's.
      const XSQLVAR& original = described[static_cast<std::size_t>(i)];
      var.sqltype = original.sqltype;
      var.sqllen = original.sqllen;
      var.sqlscale = original.sqlscale;
      var.sqlsubtype = original.sqlsubtype;
      const Value& value = params[static_cast<std::size_t>(i)];
      const short described = static_cast<short>(var.sqltype & ~1);
      if (value.IsNull()) {
        var.sqltype = static_cast<ISC_SHORT>(described | 1);
        in.Allocate(i, static_cast<std::size_t>(std::max<int>(var.sqllen, 8)) + 2);
        *var.sqlind = -1;
        continue;
      }
      if (described == SQL_BLOB) {
        const std::string bytes = value.GetKind() == Value::Kind::Bytes
                                      ? value.AsBytes()
                                      : detail::ToDatabaseText(value.AsString());
        const ISC_QUAD id = WriteBlob(bytes);
        var.sqltype = SQL_BLOB | 1;
        std::memcpy(in.Allocate(i, sizeof id), &id, sizeof id);
        continue;
      }
      switch (value.GetKind()) {
        case Value::Kind::Integer: {
          var.sqltype = SQL_INT64 | 1;
          var.sqlscale = static_cast<ISC_SHORT>(value.Scale());
          var.sqllen = sizeof(ISC_INT64);
          const ISC_INT64 n = value.RawInteger();
          std::memcpy(in.Allocate(i, sizeof n), &n, sizeof n);
          break;
        }
        case Value::Kind::Float: {
          var.sqltype = SQL_DOUBLE | 1;
          var.sqlscale = 0;
          var.sqllen = sizeof(double);
          const double d = value.AsFloat();
          std::memcpy(in.Allocate(i, sizeof d), &d, sizeof d);
          break;
        }
        case Value::Kind::DateTime: {
          var.sqltype = SQL_TIMESTAMP | 1;
          var.sqlscale = 0;
          var.sqllen = sizeof(ISC_TIMESTAMP);
          const ISC_TIMESTAMP ts = ToEngineTimestamp(value.AsDateTime());
          std::memcpy(in.Allocate(i, sizeof ts), &ts, sizeof ts);
          break;
        }
        case Value::Kind::Text:
        case Value::Kind::Bytes: {
          const bool binary = value.GetKind() == Value::Kind::Bytes;
          const std::string bytes = binary ? value.AsBytes() : detail::ToDatabaseText(value.AsString());
          if (bytes.size() > 32767)
            throw DatabaseError("Texte trop long pour le paramètre " + names[i] + ".");
          const bool textual = described == SQL_TEXT || described == SQL_VARYING;
          var.sqlsubtype = binary ? 1 /* OCTETS */ : (textual ? var.sqlsubtype : 0);
          var.sqltype = SQL_TEXT | 1;
          var.sqlscale = 0;
          var.sqllen = static_cast<ISC_SHORT>(bytes.size());
          std::memcpy(in.Allocate(i, bytes.size()), bytes.data(), bytes.size());
          break;
        }
        case Value::Kind::Null:
          break;
      }
    }
  }

  void AllocateOutput() {
    for (int i = 0; i < out.Count(); ++i) {
      XSQLVAR& var = out.Var(i);
      const short type = static_cast<short>(var.sqltype & ~1);
      out.Allocate(i, static_cast<std::size_t>(var.sqllen) + (type == SQL_VARYING ? 2 : 0));
    }
  }

  Value ReadColumn(int i) {
    XSQLVAR& var = out.Var(i);
    if ((var.sqltype & 1) && *var.sqlind < 0) return Value::Null();
    const char* data = var.sqldata;
    switch (var.sqltype & ~1) {
      case SQL_SHORT: {
        ISC_SHORT n;
        std::memcpy(&n, data, sizeof n);
        return Value::Integer(n, var.sqlscale);
      }
      case SQL_LONG: {
        ISC_LONG n;
        std::memcpy(&n, data, sizeof n);
        return Value::Integer(n, var.sqlscale);
      }
      case SQL_INT64: {
        ISC_INT64 n;
        std::memcpy(&n, data, sizeof n);
        return Value::Integer(n, var.sqlscale);
      }
      case SQL_FLOAT: {
        float f;
        std::memcpy(&f, data, sizeof f);
        return Value::Float(f);
      }
      case SQL_DOUBLE:
      case SQL_D_FLOAT: {
        double d;
        std::memcpy(&d, data, sizeof d);
        return Value::Float(d);
      }
      case SQL_BOOLEAN:
        return Value::Integer(*data != 0 ? 1 : 0);
      case SQL_TEXT: {
        const std::string bytes(data, static_cast<std::size_t>(var.sqllen));
        return (var.sqlsubtype & 0xFF) == 1 ? Value::Bytes(bytes) : Value::Text(text::Latin1ToUtf8(bytes));
      }
      case SQL_VARYING: {
        ISC_USHORT length;
        std::memcpy(&length, data, sizeof length);
        const std::string bytes(data + 2, length);
        return (var.sqlsubtype & 0xFF) == 1 ? Value::Bytes(bytes) : Value::Text(text::Latin1ToUtf8(bytes));
      }
      case SQL_TIMESTAMP: {
        ISC_TIMESTAMP ts;
        std::memcpy(&ts, data, sizeof ts);
        return Value::DateTime(FromEngineDate(ts.timestamp_date, ts.timestamp_time));
      }
      case SQL_TYPE_DATE: {
        ISC_DATE d;
        std::memcpy(&d, data, sizeof d);
        return Value::DateTime(FromEngineDate(d, 0));
      }
      case SQL_TYPE_TIME: {
        ISC_TIME t;
        std::memcpy(&t, data, sizeof t);
        return Value::DateTime(static_cast<double>(t) / kEngineTicksPerDay);
      }
      case SQL_BLOB: {
        ISC_QUAD id;
        std::memcpy(&id, data, sizeof id);
        const std::string bytes = ReadBlob(id);
        return var.sqlsubtype == 1 ? Value::Text(text::Latin1ToUtf8(bytes)) : Value::Bytes(bytes);
      }
      case SQL_NULL:
        return Value::Null();
      default:
        throw DatabaseError("Type de colonne non géré (" + std::to_string(var.sqltype & ~1) +
                            ") : " + columns[static_cast<std::size_t>(i)].Alias);
    }
  }

  void ReadRow() {
    row.clear();
    for (int i = 0; i < out.Count(); ++i) row.push_back(ReadColumn(i));
  }
};

Statement::Statement() : impl_(std::make_unique<Impl>()) {}

Statement::~Statement() {
  impl_->Free();
}

void Statement::Prepare(Attachment& attachment, Transaction& transaction, const std::string& sql,
                        bool paramCheck) {
  if (!attachment.IsAttached()) throw DatabaseError("La base de données n'est pas ouverte.");
  if (!transaction.IsActive()) throw DatabaseError("La transaction n'est pas active.");
  Impl& s = *impl_;
  s.Free();
  s.names.clear();
  s.params.clear();
  s.columns.clear();
  s.row.clear();
  s.type = 0;

  ParsedSql parsed;
  if (paramCheck) {
    parsed = ParseParams(sql);
  } else {
    parsed.Text = sql;
  }
  const std::string bytes = detail::ToDatabaseText(parsed.Text);
  const auto& api = Api();
  ISC_STATUS_ARRAY status = {};
  s.db = attachment.impl().db;
  s.dialect = attachment.Dialect();
  const detail::WatchedCall watched(s.db);  // the few calls of the preparation together
  api.isc_dsql_allocate_statement(status, &s.db, &s.stmt);
  Check(status);
  try {
    s.out.Resize(16);
    api.isc_dsql_prepare(status, &transaction.impl().tr, &s.stmt, 0, bytes.c_str(),
                         static_cast<unsigned short>(s.dialect), s.out.da());
    Check(status);
    if (s.out.da()->sqld > s.out.da()->sqln) {
      s.out.Resize(s.out.da()->sqld);
      api.isc_dsql_describe(status, &s.stmt, static_cast<unsigned short>(s.dialect), s.out.da());
      Check(status);
    }
    s.in.Resize(16);
    api.isc_dsql_describe_bind(status, &s.stmt, static_cast<unsigned short>(s.dialect), s.in.da());
    Check(status);
    if (s.in.da()->sqld > s.in.da()->sqln) {
      s.in.Resize(s.in.da()->sqld);
      api.isc_dsql_describe_bind(status, &s.stmt, static_cast<unsigned short>(s.dialect), s.in.da());
      Check(status);
    }
    const char items[] = {isc_info_sql_stmt_type};
    char answer[16] = {};
    api.isc_dsql_sql_info(status, &s.stmt, sizeof items, items, sizeof answer, answer);
    Check(status);
    if (answer[0] == isc_info_sql_stmt_type) {
      const int length = static_cast<int>(ReadLittleEndian(answer + 1, 2));
      s.type = static_cast<int>(ReadLittleEndian(answer + 3, length));
    }
  } catch (...) {
    s.Free();
    throw;
  }
  s.described.assign(s.in.da()->sqlvar, s.in.da()->sqlvar + s.in.Count());
  s.names = parsed.Names;
  s.names.resize(static_cast<std::size_t>(s.in.Count()));
  s.params.assign(static_cast<std::size_t>(s.in.Count()), Value::Null());
  for (int i = 0; i < s.out.Count(); ++i) {
    const XSQLVAR& var = s.out.Var(i);
    s.columns.push_back(
        {text::Latin1ToUtf8(std::string(var.sqlname, static_cast<std::size_t>(var.sqlname_length))),
         text::Latin1ToUtf8(std::string(var.aliasname, static_cast<std::size_t>(var.aliasname_length)))});
  }
  s.AllocateOutput();
}

bool Statement::IsPrepared() const {
  return impl_->stmt != 0;
}

bool Statement::IsQuery() const {
  return impl_->type == isc_info_sql_stmt_select || impl_->type == isc_info_sql_stmt_select_for_upd ||
         (impl_->type == isc_info_sql_stmt_exec_procedure && impl_->out.Count() > 0);
}

std::size_t Statement::ParamCount() const {
  return impl_->params.size();
}

const std::vector<std::string>& Statement::ParamNames() const {
  return impl_->names;
}

void Statement::SetParam(std::size_t index, const Value& value) {
  if (index >= impl_->params.size()) {
    throw DatabaseError("Le paramètre n° " + std::to_string(index) + " n'existe pas dans la requête.");
  }
  impl_->params[index] = value;
}

void Statement::SetParam(const std::string& name, const Value& value) {
  bool found = false;
  for (std::size_t i = 0; i < impl_->names.size(); ++i) {
    if (text::IEquals(impl_->names[i], name)) {
      impl_->params[i] = value;
      found = true;
    }
  }
  if (!found) throw DatabaseError("Le paramètre " + name + " n'existe pas dans la requête.");
}

void Statement::Execute(Transaction& transaction) {
  Impl& s = *impl_;
  if (s.stmt == 0) throw DatabaseError("La requête n'est pas préparée.");
  if (!transaction.IsActive()) throw DatabaseError("La transaction n'est pas active.");
  Close();
  s.row.clear();
  s.tr = transaction.impl().tr;
  s.BindParams();
  const auto& api = Api();
  ISC_STATUS_ARRAY status = {};
  const auto dialect = static_cast<unsigned short>(s.dialect);
  XSQLDA* in = s.in.Count() > 0 ? s.in.da() : nullptr;
  const detail::WatchedCall watched(s.db);
  if (s.type == isc_info_sql_stmt_exec_procedure && s.out.Count() > 0) {
    api.isc_dsql_execute2(status, &transaction.impl().tr, &s.stmt, dialect, in, s.out.da());
    Check(status);
    s.pendingRow = true;
  } else {
    api.isc_dsql_execute(status, &transaction.impl().tr, &s.stmt, dialect, in);
    Check(status);
    s.cursorOpen = s.type == isc_info_sql_stmt_select || s.type == isc_info_sql_stmt_select_for_upd;
  }
}

bool Statement::Fetch() {
  Impl& s = *impl_;
  if (s.pendingRow) {
    s.pendingRow = false;
    s.ReadRow();
    return true;
  }
  if (!s.cursorOpen) {
    s.row.clear();
    return false;
  }
  ISC_STATUS_ARRAY status = {};
  ISC_STATUS result = 0;
  {
    const detail::WatchedCall watched(s.db);
    result = Api().isc_dsql_fetch(status, &s.stmt, static_cast<unsigned short>(s.dialect), s.out.da());
  }
  if (result == 100) {
    Close();
    s.row.clear();
    return false;
  }
  Check(status);
  s.ReadRow();
  return true;
}

void Statement::Close() noexcept {
  Impl& s = *impl_;
  s.pendingRow = false;
  if (!s.cursorOpen) return;
  s.cursorOpen = false;
  try {
    ISC_STATUS_ARRAY status = {};
    const detail::WatchedCall watched(s.db);
    Api().isc_dsql_free_statement(status, &s.stmt, DSQL_close);
  } catch (...) {
  }
}

void Statement::Forget() noexcept {
  impl_->cursorOpen = impl_->pendingRow = false;
  impl_->row.clear();
  impl_->stmt = 0;  // the lost attachment took the statement with it
}

long Statement::RowsAffected() const {
  if (impl_->stmt == 0) return 0;
  const char items[] = {isc_info_sql_records};
  char answer[128] = {};
  ISC_STATUS_ARRAY status = {};
  {
    const detail::WatchedCall watched(impl_->db);
    Api().isc_dsql_sql_info(status, &impl_->stmt, sizeof items, items, sizeof answer, answer);
  }
  Check(status);
  if (answer[0] != isc_info_sql_records) return 0;
  long total = 0;
  std::size_t pos = 3;
  while (pos + 3 <= sizeof answer && answer[pos] != isc_info_end) {
    const char item = answer[pos];
    const int length = static_cast<int>(ReadLittleEndian(answer + pos + 1, 2));
    if (pos + 3 + static_cast<std::size_t>(length) > sizeof answer) break;
    const long count = ReadLittleEndian(answer + pos + 3, length);
    if (item == isc_info_req_insert_count || item == isc_info_req_update_count ||
        item == isc_info_req_delete_count) {
      total += count;
    }
    pos += 3 + static_cast<std::size_t>(length);
  }
  return total;
}

const std::vector<Column>& Statement::Columns() const {
  return impl_->columns;
}

const std::vector<Value>& Statement::Row() const {
  return impl_->row;
}

}  // namespace kv::fb
