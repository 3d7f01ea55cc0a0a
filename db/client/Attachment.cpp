#include "db/client/Attachment.h"

#include <algorithm>
#include <map>

#include "db/client/CallWatchdog.h"
#include "db/client/ClientLibrary.h"
#include "db/client/DatabaseError.h"
#include "db/client/IscApi.h"
#include "formats/Text.h"

namespace kv::fb {

using detail::Api;
using detail::Check;

namespace {

// The parameter names of the suite's attachment lists and their DPB items.
const std::map<std::string, unsigned char>& DpbStrings() {
  static const std::map<std::string, unsigned char> items = {{"user_name", isc_dpb_user_name},
                                                             {"password", isc_dpb_password},
                                                             {"sql_role_name", isc_dpb_sql_role_name},
                                                             {"lc_ctype", isc_dpb_lc_ctype},
                                                             {"password_enc", isc_dpb_password_enc}};
  return items;
}
const std::map<std::string, unsigned char>& DpbNumbers() {
  static const std::map<std::string, unsigned char> items = {{"sql_dialect", isc_dpb_sql_dialect},
                                                             {"num_buffers", isc_dpb_num_buffers},
                                                             {"connect_timeout", isc_dpb_connect_timeout}};
  return items;
}

std::string BuildDpb(const std::vector<std::string>& params) {
  std::string dpb(1, static_cast<char>(isc_dpb_version1));
  for (const std::string& param : params) {
    const std::size_t eq = param.find('=');
    const std::string name = text::ToLower(text::Trim(param.substr(0, eq)));
    const std::string value = eq == std::string::npos ? std::string() : param.substr(eq + 1);
    if (auto it = DpbStrings().find(name); it != DpbStrings().end()) {
      const std::string bytes = detail::ToDatabaseText(value);
      if (bytes.size() > 255) throw DatabaseError("Paramètre de connexion trop long : " + name);
      dpb += static_cast<char>(it->second);
      dpb += static_cast<char>(bytes.size());
      dpb += bytes;
    } else if (auto nit = DpbNumbers().find(name); nit != DpbNumbers().end()) {
      const auto number = static_cast<std::uint32_t>(std::stoul(text::Trim(value)));
      dpb += static_cast<char>(nit->second);
      dpb += static_cast<char>(4);
      for (int i = 0; i < 4; ++i) dpb += static_cast<char>((number >> (8 * i)) & 0xFF);
    } else if (!name.empty()) {
      throw DatabaseError("Paramètre de connexion inconnu : " + param);
    }
  }
  return dpb;
}

// Quoted as an SQL string literal (bytes: the name is already in the client's form).
std::string SqlQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

}  // namespace

Attachment::Attachment() : impl_(std::make_unique<Impl>()) {}

Attachment::~Attachment() {
  ForceClose();
}

void Attachment::Attach(const std::string& connectionString, const std::vector<std::string>& params,
                        int dialect) {
  if (IsAttached()) throw DatabaseError("La base de données est déjà ouverte.");
  std::vector<std::string> all = params;
  // The attachment has no handle for the watchdog yet: a server that takes the connection but
  // never answers is bounded by the client's own connect time-out.
  if (!IsLocalConnectionString(connectionString))
    all.push_back("connect_timeout=" + std::to_string(CallTimeLimit().count()));
  const std::string dpb = BuildDpb(all);
  const std::string name = detail::ClientNameBytes(connectionString);
  const auto& api = Api();
  ISC_STATUS_ARRAY status = {};
  isc_db_handle db = 0;
  detail::FileNameLocale names;
  api.isc_attach_database(status, 0, name.c_str(), &db, static_cast<short>(dpb.size()), dpb.data());
  Check(status);
  impl_->db = db;
  impl_->dialect = dialect;
  impl_->odsMajor = 0;
}

void Attachment::Create(const std::string& connectionString, const std::vector<std::string>& createParams,
                        int dialect) {
  if (IsAttached()) throw DatabaseError("La base de données est déjà ouverte.");
  std::string params;
  for (const std::string& param : createParams) params += " " + param;
  const std::string bytes = "CREATE DATABASE " + SqlQuoted(detail::ClientNameBytes(connectionString)) +
                            detail::ToDatabaseText(params);
  const auto& api = Api();
  ISC_STATUS_ARRAY status = {};
  isc_db_handle db = 0;
  isc_tr_handle tr = 0;
  detail::FileNameLocale names;
  api.isc_dsql_execute_immediate(status, &db, &tr, 0, bytes.c_str(), static_cast<unsigned short>(dialect),
                                 nullptr);
  Check(status);
  impl_->db = db;
  impl_->dialect = dialect;
  impl_->odsMajor = 0;
}

void Attachment::Drop() {
  if (!IsAttached()) throw DatabaseError("La base de données n'est pas ouverte.");
  ISC_STATUS_ARRAY status = {};
  const detail::WatchedCall watched(impl_->db);
  Api().isc_drop_database(status, &impl_->db);
  Check(status);
  impl_->db = 0;
}

void Attachment::Detach() {
  if (!IsAttached()) return;
  ISC_STATUS_ARRAY status = {};
  {
    const detail::WatchedCall watched(impl_->db);
    Api().isc_detach_database(status, &impl_->db);
  }
  Check(status);
  impl_->db = 0;
}

void Attachment::ForceClose() noexcept {
  if (!IsAttached()) return;
  try {
    ISC_STATUS_ARRAY status = {};
    const detail::WatchedCall watched(impl_->db);
    Api().isc_detach_database(status, &impl_->db);
  } catch (...) {
  }
  impl_->db = 0;
}

bool Attachment::IsAttached() const {
  return impl_->db != 0;
}

int Attachment::Dialect() const {
  return impl_->dialect;
}

int Attachment::OdsMajorVersion() const {
  if (!IsAttached()) throw DatabaseError("La base de données n'est pas ouverte.");
  if (impl_->odsMajor != 0) return impl_->odsMajor;
  ISC_STATUS_ARRAY status = {};
  const char items[] = {isc_info_ods_version, isc_info_end};
  char buffer[64] = {};
  {
    const detail::WatchedCall watched(impl_->db);
    Api().isc_database_info(status, &impl_->db, sizeof items, items, sizeof buffer, buffer);
  }
  Check(status);
  if (static_cast<unsigned char>(buffer[0]) != isc_info_ods_version) {
    throw DatabaseError("Le serveur n'a pas donné la version de la structure de la base de données.");
  }
  const auto length = static_cast<unsigned>(static_cast<unsigned char>(buffer[1]) |
                                            (static_cast<unsigned char>(buffer[2]) << 8));
  int value = 0;
  for (unsigned i = 0; i < length && i < 4; ++i)
    value |= static_cast<unsigned char>(buffer[3 + i]) << (8 * i);
  impl_->odsMajor = value;
  return value;
}

bool Attachment::IsAlive() const noexcept {
  if (!IsAttached()) return false;
  try {
    ISC_STATUS_ARRAY status = {};
    const char items[] = {isc_info_ods_version, isc_info_end};
    char buffer[64] = {};
    const detail::WatchedCall watched(impl_->db);
    Api().isc_database_info(status, &impl_->db, sizeof items, items, sizeof buffer, buffer);
    return !detail::Failed(status) && buffer[0] == isc_info_ods_version;
  } catch (...) {
    return false;
  }
}

std::vector<std::string> Attachment::UserNames() const {
  if (!IsAttached()) throw DatabaseError("La base de données n'est pas ouverte.");
  const auto& api = Api();
  const char items[] = {isc_info_user_names, isc_info_end};
  // One clump per attachment: grow the buffer until the answer fits.
  for (std::size_t size = 1024; size <= 1024 * 1024; size *= 4) {
    std::string buffer(size, '\0');
    ISC_STATUS_ARRAY status = {};
    {
      const detail::WatchedCall watched(impl_->db);
      api.isc_database_info(status, &impl_->db, sizeof items, items,
                            static_cast<short>(std::min<std::size_t>(size, 32767)), buffer.data());
    }
    Check(status);
    std::vector<std::string> names;
    std::size_t pos = 0;
    bool truncated = false;
    while (pos < buffer.size()) {
      const auto item = static_cast<unsigned char>(buffer[pos]);
      if (item == isc_info_end) break;
      if (item == isc_info_truncated) {
        truncated = true;
        break;
      }
      if (pos + 3 > buffer.size()) break;
      const std::size_t length = static_cast<unsigned char>(buffer[pos + 1]) |
                                 (static_cast<std::size_t>(static_cast<unsigned char>(buffer[pos + 2])) << 8);
      if (item == isc_info_user_names && length >= 1) {
        const std::size_t nameLength = static_cast<unsigned char>(buffer[pos + 3]);
        names.push_back(text::Latin1ToUtf8(buffer.substr(pos + 4, std::min(nameLength, length - 1))));
      }
      pos += 3 + length;
    }
    if (!truncated) return names;
    if (size >= 32767) break;
  }
  throw DatabaseError("La liste des utilisateurs connectés est trop longue.");
}

}  // namespace kv::fb
