// The Firebird root of the tests: FIREBIRD must name a root with intl/ (character sets) and
// firebird.msg before the client library is loaded, once per process.
#pragma once

#include <filesystem>

namespace kv::test {

// Leaves FIREBIRD alone when it is set; otherwise points it at the build's root (build/firebird)
// when that has intl/, or else at a root made once for this process in a temporary folder by the
// build's recipe (real copies of Debian's libfbintl.so and fbintl.conf, firebird.msg, an empty
// databases.conf and UDF/), removed at exit. Answers the root in use.
std::filesystem::path UseTestFirebirdRoot();

}  // namespace kv::test
