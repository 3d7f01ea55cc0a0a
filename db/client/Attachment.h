// An attachment to one database: attach, create, drop, detach. The destructor detaches and never
// throws.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace kv::fb {

class Attachment {
 public:
  Attachment();
  ~Attachment();
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;

  // Attaches with the parameter list as the suite writes it: "user_name=X", "password=Y",
  // "sql_role_name=Z", "lc_ctype=ISO8859_1" (also "sql_dialect=N", "num_buffers=N"); an unknown
  // name raises DatabaseError. The connection string is local or server:path
  // (ClientDatabaseName).
  void Attach(const std::string& connectionString, const std::vector<std::string>& params, int dialect = 3);
  // Runs CREATE DATABASE '<name>' <params joined by blanks>, e.g. "USER 'KORVANE'",
  // "PAGE_SIZE 4096", "DEFAULT CHARACTER SET ISO8859_1". The new database stays attached (its
  // attachment has the client's default character set).
  void Create(const std::string& connectionString, const std::vector<std::string>& createParams,
              int dialect = 3);
  // Removes the attached database's file and ends the attachment.
  void Drop();
  void Detach();
  // Ends the attachment, whatever the client says (a lost server, open transactions).
  void ForceClose() noexcept;

  bool IsAttached() const;
  // Asks the server: false when the attachment is lost (never throws).
  bool IsAlive() const noexcept;
  // The users attached to the database, one entry per attachment (isc_info_user_names).
  std::vector<std::string> UserNames() const;
  int Dialect() const;
  // The major on-disk structure version of the attached database (isc_info_ods_version), asked
  // once per attachment: 10 for Firebird 1.x, 11 for 2.x, 12 for 3.0, 13 for 4 and later. A
  // server opens no database of a newer structure than its own, so 12 or more means a server of
  // the Firebird 3 family or later. Every server since InterBase answers it.
  int OdsMajorVersion() const;

  struct Impl;
  Impl& impl() const { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace kv::fb
