// What an operation raises, as text, for comparing exact error messages.
#pragma once

#include <string>

#include "platform/Errors.h"

namespace kv::test {

// The message of the kv::Error it raises, "<silent abort>" for the silent abort, "" for none.
template <typename Operation>
std::string RaisedText(Operation operation) {
  try {
    operation();
  } catch (const SilentAbort&) {
    return "<silent abort>";
  } catch (const Error& e) {
    return e.what();
  }
  return {};
}

}  // namespace kv::test
