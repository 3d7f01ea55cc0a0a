// The error of the database layer: the engine's SQL code, its status code and its message.
#pragma once

#include <string>

#include "platform/Errors.h"

namespace kv {

class DatabaseError : public Error {
 public:
  // sqlCode: isc_sqlcode of the failure (0 when the client library was never reached);
  // engineCode: the first status code of the failure (335544569 for a syntax or unknown name,
  // ...), 0 likewise.
  DatabaseError(const std::string& message, long sqlCode = 0, long engineCode = 0)
      : Error(message), sqlCode_(sqlCode), engineCode_(engineCode) {}

  long SQLCode() const noexcept { return sqlCode_; }
  long EngineCode() const noexcept { return engineCode_; }

 private:
  long sqlCode_;
  long engineCode_;
};

}  // namespace kv
