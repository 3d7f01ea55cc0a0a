#include "db/client/Transaction.h"

#include <cstdint>
#include <map>

#include "db/client/Attachment.h"
#include "db/client/DatabaseError.h"
#include "db/client/IscApi.h"
#include "formats/Text.h"

namespace kv::fb {

using detail::Api;
using detail::Check;

namespace {

// The transaction existence block of isc_start_multiple (not declared by ibase.h).
struct TransactionExistenceBlock {
  isc_db_handle* database;
  int tpbLength;
  const char* tpb;
};

std::string BuildTpb(const std::vector<std::string>& params) {
  static const std::map<std::string, unsigned char> items = {{"consistency", isc_tpb_consistency},
                                                             {"concurrency", isc_tpb_concurrency},
                                                             {"shared", isc_tpb_shared},
                                                             {"protected", isc_tpb_protected},
                                                             {"exclusive", isc_tpb_exclusive},
                                                             {"wait", isc_tpb_wait},
                                                             {"nowait", isc_tpb_nowait},
                                                             {"read", isc_tpb_read},
                                                             {"write", isc_tpb_write},
                                                             {"read_committed", isc_tpb_read_committed},
                                                             {"rec_version", isc_tpb_rec_version},
                                                             {"no_rec_version", isc_tpb_no_rec_version},
                                                             {"autocommit", isc_tpb_autocommit},
                                                             {"ignore_limbo", isc_tpb_ignore_limbo},
                                                             {"no_auto_undo", isc_tpb_no_auto_undo},
                                                             {"restart_requests", isc_tpb_restart_requests}};
  if (params.empty()) return {};
  std::string tpb(1, static_cast<char>(isc_tpb_version3));
  for (const std::string& param : params) {
    const std::string name = text::ToLower(text::Trim(param));
    if (name.empty()) continue;
    // "lock_timeout=N": wait at most N seconds for a record another transaction holds (Firebird 2
    // and later); the value is a 4-byte little-endian number after its length.
    if (name.starts_with("lock_timeout=")) {
      const std::string digits = name.substr(13);
      if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        throw DatabaseError("Paramètre de transaction inconnu : " + param);
      const std::uint32_t seconds = static_cast<std::uint32_t>(std::stoul(digits));
      tpb += static_cast<char>(isc_tpb_lock_timeout);
      tpb += static_cast<char>(4);
      for (int shift = 0; shift < 32; shift += 8) tpb += static_cast<char>((seconds >> shift) & 0xFF);
      continue;
    }
    const auto it = items.find(name);
    if (it == items.end()) throw DatabaseError("Paramètre de transaction inconnu : " + param);
    tpb += static_cast<char>(it->second);
  }
  return tpb;
}

}  // namespace

Transaction::Transaction() : impl_(std::make_unique<Impl>()) {}

Transaction::~Transaction() {
  ForceRollback();
}

void Transaction::Start(Attachment& attachment, const std::vector<std::string>& params) {
  if (IsActive()) throw DatabaseError("La transaction est déjà active.");
  if (!attachment.IsAttached()) throw DatabaseError("La base de données n'est pas ouverte.");
  std::string tpb = BuildTpb(params);
  const auto& api = Api();
  TransactionExistenceBlock teb{&attachment.impl().db, static_cast<int>(tpb.size()),
                                tpb.empty() ? nullptr : tpb.data()};
  ISC_STATUS_ARRAY status = {};
  isc_tr_handle tr = 0;
  {
    const detail::WatchedCall watched(attachment.impl().db);
    api.isc_start_multiple(status, &tr, 1, &teb);
  }
  Check(status);
  impl_->tr = tr;
  impl_->db = attachment.impl().db;
}

void Transaction::Commit() {
  if (!IsActive()) throw DatabaseError("La transaction n'est pas active.");
  ISC_STATUS_ARRAY status = {};
  {
    const detail::WatchedCall watched(impl_->db);
    Api().isc_commit_transaction(status, &impl_->tr);
  }
  Check(status);
  impl_->tr = 0;
}

void Transaction::CommitRetaining() {
  if (!IsActive()) throw DatabaseError("La transaction n'est pas active.");
  ISC_STATUS_ARRAY status = {};
  {
    const detail::WatchedCall watched(impl_->db);
    Api().isc_commit_retaining(status, &impl_->tr);
  }
  Check(status);
}

void Transaction::Rollback() {
  if (!IsActive()) throw DatabaseError("La transaction n'est pas active.");
  ISC_STATUS_ARRAY status = {};
  {
    const detail::WatchedCall watched(impl_->db);
    Api().isc_rollback_transaction(status, &impl_->tr);
  }
  Check(status);
  impl_->tr = 0;
}

void Transaction::ForceRollback() noexcept {
  if (!IsActive()) return;
  try {
    ISC_STATUS_ARRAY status = {};
    const detail::WatchedCall watched(impl_->db);
    Api().isc_rollback_transaction(status, &impl_->tr);
  } catch (...) {
  }
  impl_->tr = 0;
}

bool Transaction::IsActive() const {
  return impl_->tr != 0;
}

}  // namespace kv::fb
