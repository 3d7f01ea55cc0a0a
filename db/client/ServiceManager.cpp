#include "db/client/ServiceManager.h"

#include <algorithm>
#include <vector>

#include "db/client/CallWatchdog.h"
#include "db/client/ClientLibrary.h"
#include "db/client/DatabaseError.h"
#include "db/client/IscApi.h"
#include "formats/Text.h"

namespace kv::fb {

using detail::Api;
using detail::Check;

namespace {

// A services parameter buffer.
class Spb {
 public:
  explicit Spb(char first) { bytes_ += first; }
  Spb& Byte(char item) {
    bytes_ += item;
    return *this;
  }
  Spb& Text1(char item, const std::string& text) {  // one-byte length (attachment items)
    const std::string value = detail::ToDatabaseText(text);
    if (value.size() > 255) throw DatabaseError("Paramètre du service trop long.");
    bytes_ += item;
    bytes_ += static_cast<char>(value.size());
    bytes_ += value;
    return *this;
  }
  Spb& Text2(char item, const std::string& text) {  // two-byte length (action items)
    return Bytes2(item, detail::ToDatabaseText(text));
  }
  Spb& Bytes2(char item, const std::string& value) {
    if (value.size() > 65535) throw DatabaseError("Paramètre du service trop long.");
    bytes_ += item;
    bytes_ += static_cast<char>(value.size() & 0xFF);
    bytes_ += static_cast<char>(value.size() >> 8);
    bytes_ += value;
    return *this;
  }
  Spb& Int1(char item, std::uint32_t value) {  // one-byte length, 4-byte number (attachment items)
    bytes_ += item;
    bytes_ += static_cast<char>(4);
    return Number(value);
  }
  Spb& Int4(char item, std::uint32_t value) {
    bytes_ += item;
    return Number(value);
  }
  const std::string& Bytes() const { return bytes_; }

 private:
  Spb& Number(std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_ += static_cast<char>((value >> (8 * i)) & 0xFF);
    return *this;
  }

  std::string bytes_;
};

std::uint32_t ReadUInt(const char* p, int length) {
  std::uint32_t value = 0;
  for (int i = 0; i < length; ++i)
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  return value;
}

bool IsValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t n = b < 0x80             ? 1
                          : (b & 0xE0) == 0xC0 ? 2
                          : (b & 0xF0) == 0xE0 ? 3
                          : (b & 0xF8) == 0xF0 ? 4
                                               : 0;
    if (n == 0 || i + n > s.size() || (n == 2 && b < 0xC2)) return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

// Output lines mix the engine's ASCII texts with file names in the server's own character set:
// UTF-8 on this host, an ANSI code page on a Windows server (read as ISO 8859-1).
std::string OutputLineToUtf8(const std::string& bytes) {
  return IsValidUtf8(bytes) ? bytes : text::Latin1ToUtf8(bytes);
}

}  // namespace

struct ServiceManager::Impl {
  isc_svc_handle svc = 0;
  bool remote = false;
  bool outputDone = true;

  // The database name in the client's bytes: on the local engine through the host prefix.
  std::string DatabaseName(const std::string& database) const {
    return remote ? detail::ToDatabaseText(database) : detail::ClientNameBytes(database);
  }

  void Start(const Spb& spb) {
    if (svc == 0) throw DatabaseError("Le gestionnaire de services n'est pas connecté.");
    ISC_STATUS_ARRAY status = {};
    detail::FileNameLocale names;
    Api().isc_service_start(status, &svc, nullptr, static_cast<unsigned short>(spb.Bytes().size()),
                            spb.Bytes().data());
    Check(status);
    outputDone = false;
  }
};

ServiceManager::ServiceManager() : impl_(std::make_unique<Impl>()) {}

ServiceManager::~ServiceManager() {
  if (impl_->svc == 0) return;
  try {
    ISC_STATUS_ARRAY status = {};
    Api().isc_service_detach(status, &impl_->svc);
  } catch (...) {
  }
}

void ServiceManager::Attach(const std::string& server, const std::string& user, const std::string& password) {
  if (impl_->svc != 0) throw DatabaseError("Le gestionnaire de services est déjà connecté.");
  Spb spb(isc_spb_version);
  spb.Byte(isc_spb_current_version);
  spb.Text1(isc_spb_user_name, user).Text1(isc_spb_password, password);
  // A service manager has no handle the watchdog could abort: a server that takes the connection
  // but never answers is bounded by the client's connect time-out.
  if (!server.empty()) spb.Int1(isc_spb_connect_timeout, static_cast<std::uint32_t>(CallTimeLimit().count()));
  const std::string name = detail::ToDatabaseText(server.empty() ? "service_mgr" : server + ":service_mgr");
  ISC_STATUS_ARRAY status = {};
  isc_svc_handle svc = 0;
  detail::FileNameLocale names;
  Api().isc_service_attach(status, 0, name.c_str(), &svc, static_cast<unsigned short>(spb.Bytes().size()),
                           spb.Bytes().data());
  Check(status);
  impl_->svc = svc;
  impl_->remote = !server.empty();
  impl_->outputDone = true;
}

void ServiceManager::Detach() {
  if (impl_->svc == 0) return;
  ISC_STATUS_ARRAY status = {};
  Api().isc_service_detach(status, &impl_->svc);
  impl_->svc = 0;
  Check(status);
}

bool ServiceManager::IsAttached() const {
  return impl_->svc != 0;
}

ServerVersionInfo ServiceManager::QueryVersion() {
  if (impl_->svc == 0) throw DatabaseError("Le gestionnaire de services n'est pas connecté.");
  const char items[] = {isc_info_svc_server_version, isc_info_svc_implementation, isc_info_svc_version};
  char buffer[1024] = {};
  ISC_STATUS_ARRAY status = {};
  Api().isc_service_query(status, &impl_->svc, nullptr, 0, nullptr, sizeof items, items, sizeof buffer,
                          buffer);
  Check(status);
  ServerVersionInfo info;
  std::size_t pos = 0;
  while (pos < sizeof buffer && buffer[pos] != isc_info_end) {
    const char item = buffer[pos++];
    if (item == isc_info_svc_version) {
      info.ServiceVersion = static_cast<int>(ReadUInt(buffer + pos, 4));
      pos += 4;
    } else if (item == isc_info_svc_server_version || item == isc_info_svc_implementation) {
      const std::size_t length = ReadUInt(buffer + pos, 2);
      const std::string value = text::Latin1ToUtf8(std::string(buffer + pos + 2, length));
      (item == isc_info_svc_server_version ? info.ServerVersion : info.Implementation) = value;
      pos += 2 + length;
    } else {
      break;  // isc_info_truncated or an unexpected answer
    }
  }
  return info;
}

void ServiceManager::StartBackup(const std::string& database, const std::string& backupFile) {
  Spb spb(isc_action_svc_backup);
  spb.Bytes2(isc_spb_dbname, impl_->DatabaseName(database))
      .Bytes2(isc_spb_bkp_file, impl_->DatabaseName(backupFile));
  spb.Byte(isc_spb_verbose);
  spb.Int4(isc_spb_options,
           isc_spb_bkp_ignore_limbo | isc_spb_bkp_no_garbage_collect | isc_spb_bkp_non_transportable);
  impl_->Start(spb);
}

void ServiceManager::StartValidation(const std::string& database, bool sweepOnly) {
  Spb spb(isc_action_svc_repair);
  spb.Bytes2(isc_spb_dbname, impl_->DatabaseName(database));
  spb.Int4(isc_spb_options, sweepOnly ? isc_spb_rpr_sweep_db : isc_spb_rpr_validate_db);
  impl_->Start(spb);
}

void ServiceManager::StartHeaderStatistics(const std::string& database) {
  Spb spb(isc_action_svc_db_stats);
  spb.Bytes2(isc_spb_dbname, impl_->DatabaseName(database));
  spb.Int4(isc_spb_options, isc_spb_sts_hdr_pages);
  impl_->Start(spb);
}

void ServiceManager::SetSweepInterval(const std::string& database, unsigned interval) {
  Spb spb(isc_action_svc_properties);
  spb.Bytes2(isc_spb_dbname, impl_->DatabaseName(database));
  spb.Int4(isc_spb_prp_sweep_interval, interval);
  impl_->Start(spb);
  ReadLines([](const std::string&) {});  // waits for the end of the action and its errors
}

void ServiceManager::SetForcedWrites(const std::string& database, bool synchronous) {
  Spb spb(isc_action_svc_properties);
  spb.Bytes2(isc_spb_dbname, impl_->DatabaseName(database));
  spb.Byte(isc_spb_prp_write_mode).Byte(synchronous ? isc_spb_prp_wm_sync : isc_spb_prp_wm_async);
  impl_->Start(spb);
  ReadLines([](const std::string&) {});
}

bool ServiceManager::NextLine(std::string& line) {
  if (impl_->svc == 0) throw DatabaseError("Le gestionnaire de services n'est pas connecté.");
  if (impl_->outputDone) return false;
  const char items[] = {isc_info_svc_line};
  std::vector<char> buffer(64 * 1024);
  ISC_STATUS_ARRAY status = {};
  Api().isc_service_query(status, &impl_->svc, nullptr, 0, nullptr, sizeof items, items,
                          static_cast<unsigned short>(buffer.size() - 1), buffer.data());
  if (detail::Failed(status)) {
    impl_->outputDone = true;
    detail::Raise(status);
  }
  if (buffer[0] != isc_info_svc_line) {
    impl_->outputDone = true;
    return false;
  }
  const std::size_t length = ReadUInt(buffer.data() + 1, 2);
  if (length == 0) {  // the end of the output
    impl_->outputDone = true;
    return false;
  }
  line = OutputLineToUtf8(std::string(buffer.data() + 3, std::min(length, buffer.size() - 3)));
  return true;
}

void ServiceManager::ReadLines(const std::function<void(const std::string&)>& onLine) {
  std::string line;
  while (NextLine(line)) onLine(line);
}

}  // namespace kv::fb
