// A transaction on one attachment. The destructor rolls an active transaction back and never
// throws.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace kv::fb {

class Attachment;

class Transaction {
 public:
  Transaction();
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Starts with the parameter list ("concurrency", "consistency", "read_committed",
  // "rec_version", "no_rec_version", "wait", "nowait", "read", "write", ...); an empty list gives
  // the client's default (concurrency, wait, write). An unknown name raises DatabaseError.
  void Start(Attachment& attachment, const std::vector<std::string>& params = {});
  void Commit();
  void CommitRetaining();
  void Rollback();
  // Forgets the transaction after a rollback that ignores every failure (a lost attachment).
  void ForceRollback() noexcept;
  bool IsActive() const;

  struct Impl;
  Impl& impl() const { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace kv::fb
