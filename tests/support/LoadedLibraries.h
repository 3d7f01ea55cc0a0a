// What the test process has loaded: for tests that a library is loaded only when it is needed.
#pragma once

#include <string>

namespace kv::test {

// Whether a file whose path contains `fragment` ("libfbclient") is mapped into this process.
bool IsLibraryMapped(const std::string& fragment);

}  // namespace kv::test
