// The base of every error the program raises on purpose. Every message is French UTF-8 text,
// ready to show.
#pragma once

#include <stdexcept>

namespace kv {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace kv
