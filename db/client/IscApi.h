// Private to db/client: the entry points of the Firebird client library, loaded at run time, and
// the status-vector check. The only header that includes ibase.h.
#pragma once

#include <ibase.h>

#include <string>

namespace kv::fb::detail {

struct IscApi {
#define KV_ISC_ENTRY(name) decltype(&::name) name = nullptr;
  KV_ISC_ENTRY(isc_attach_database)
  KV_ISC_ENTRY(isc_detach_database)
  KV_ISC_ENTRY(isc_drop_database)
  KV_ISC_ENTRY(isc_database_info)
  KV_ISC_ENTRY(isc_dsql_execute_immediate)
  KV_ISC_ENTRY(isc_start_multiple)
  KV_ISC_ENTRY(isc_commit_transaction)
  KV_ISC_ENTRY(isc_commit_retaining)
  KV_ISC_ENTRY(isc_rollback_transaction)
  KV_ISC_ENTRY(isc_dsql_allocate_statement)
  KV_ISC_ENTRY(isc_dsql_prepare)
  KV_ISC_ENTRY(isc_dsql_describe)
  KV_ISC_ENTRY(isc_dsql_describe_bind)
  KV_ISC_ENTRY(isc_dsql_execute)
  KV_ISC_ENTRY(isc_dsql_execute2)
  KV_ISC_ENTRY(isc_dsql_fetch)
  KV_ISC_ENTRY(isc_dsql_free_statement)
  KV_ISC_ENTRY(isc_dsql_sql_info)
  KV_ISC_ENTRY(isc_create_blob2)
  KV_ISC_ENTRY(isc_open_blob2)
  KV_ISC_ENTRY(isc_put_segment)
  KV_ISC_ENTRY(isc_get_segment)
  KV_ISC_ENTRY(isc_close_blob)
  KV_ISC_ENTRY(isc_cancel_blob)
  KV_ISC_ENTRY(isc_sqlcode)
  KV_ISC_ENTRY(isc_service_attach)
  KV_ISC_ENTRY(isc_service_detach)
  KV_ISC_ENTRY(isc_service_start)
  KV_ISC_ENTRY(isc_service_query)
  // Optional: Firebird 1.0's client has neither (isc_interprete and no version call).
  KV_ISC_ENTRY(fb_interpret)
  // Deprecated in today's ibase.h, hence its type written out.
  ISC_LONG(ISC_EXPORT* isc_interprete)(ISC_SCHAR*, ISC_STATUS**) = nullptr;
  KV_ISC_ENTRY(isc_get_client_version)
  // Optional: Firebird 2.5 and later.
  KV_ISC_ENTRY(fb_cancel_operation)
  KV_ISC_ENTRY(fb_shutdown)
#undef KV_ISC_ENTRY
};

// The running process: a child made by fork() shares the parent's memory, not its threads.
long ProcessId() noexcept;

// Around every call that waits for the server on an attachment: past the call time limit
// (CallWatchdog.h) the watchdog thread aborts the attachment, and the call returns its network
// error. Entering and leaving never throw.
class WatchedCall {
 public:
  explicit WatchedCall(isc_db_handle db) noexcept;
  ~WatchedCall();
  WatchedCall(const WatchedCall&) = delete;
  WatchedCall& operator=(const WatchedCall&) = delete;

 private:
  unsigned long long id_ = 0;  // 0: not watched (no handle)
};

// The loaded client library (loaded on first use, FIREBIRD set first). Throws DatabaseError with
// the French text when the library or one of its required entry points is missing.
const IscApi& Api();

// Throws DatabaseError built from the status vector when it reports a failure.
void Check(const ISC_STATUS* status);
bool Failed(const ISC_STATUS* status);
// The DatabaseError of a failed status vector.
[[noreturn]] void Raise(const ISC_STATUS* status);

// Text as the databases hold it (ISO 8859-1) from UTF-8: a character without an ISO 8859-1 form
// raises DatabaseError naming the text.
std::string ToDatabaseText(const std::string& utf8);

// The bytes the client is given for a connection string: a local string's host path as the file
// system spells it (UTF-8 here), any other string in ISO 8859-1, as the suite's Windows programs
// give it to their servers.
std::string ClientNameBytes(const std::string& connectionString);

// Around every client call that carries a file name: the client converts names between UTF-8
// and the calling thread's character type, which must then be UTF-8 as the host's file names
// are (under the "C" locale any accented name fails). Thread-local; restores the previous
// locale; no effect on Windows.
class FileNameLocale {
 public:
  FileNameLocale();
  ~FileNameLocale();
  FileNameLocale(const FileNameLocale&) = delete;
  FileNameLocale& operator=(const FileNameLocale&) = delete;

 private:
  void* previous_ = nullptr;
};

}  // namespace kv::fb::detail

#include "db/client/Attachment.h"
#include "db/client/Transaction.h"

namespace kv::fb {

struct Attachment::Impl {
  isc_db_handle db = 0;
  int dialect = 3;
  int odsMajor = 0;  // asked once per attachment; 0 until then
};

struct Transaction::Impl {
  isc_tr_handle tr = 0;
  isc_db_handle db = 0;  // the attachment it was started on
};

}  // namespace kv::fb
