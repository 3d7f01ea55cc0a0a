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

  struct Impl;
  Impl& impl() const { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace kv::fb
