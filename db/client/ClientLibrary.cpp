#include "db/client/ClientLibrary.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "db/client/DatabaseError.h"
#include "db/client/IscApi.h"
#include "formats/Text.h"
#include "formats/VersionResource.h"
#include "platform/Errors.h"
#include "platform/Win32.h"
#ifndef _WIN32
#include "platform/host/Prefix.h"
#endif

#ifdef _WIN32
// After the port's headers, which use names <windows.h> defines as macros.
// clang-format off
#include <windows.h>
// clang-format on
#undef GetFileVersionInfo
#else
#include <dlfcn.h>
#include <locale.h>
#include <unistd.h>
#endif

namespace kv::fb {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr const char* kDefaultClient = "gds32.dll";
#else
constexpr const char* kDefaultClient = "libfbclient.so.2";
#endif

// One loaded (or failed) client library file. Never unloaded: handles of it may live until exit.
struct LoadedClient {
  detail::IscApi api;
  std::string error;        // French text; empty when loaded
  std::string fileVersion;  // the loaded file's FileVersion text, where the system gives it
};

std::mutex gMutex;
std::map<std::string, std::unique_ptr<LoadedClient>> gClients;

// At the end of the process, each loaded client is shut down (fb_shutdown): the embedded engine's
// threads and the client's own end before the process does, so that nothing scans or runs them
// while the process is torn down (LeakSanitizer's check comes after this). Registered with atexit
// once a client is loaded, so that it runs before the client library's own static destructors.
// Only the process that loaded the client does it: a child made by fork() has none of its threads.
long gLoader = 0;
void ShutdownClients() {
  if (detail::ProcessId() != gLoader) return;
  std::lock_guard lock(gMutex);
  for (auto& [name, client] : gClients) {
    if (client && client->error.empty() && client->api.fb_shutdown != nullptr)
      client->api.fb_shutdown(0, fb_shutrsn_exit_called);
  }
}

// --- The only platform-specific part: the library loader -----------------------------------

#ifdef _WIN32
using LibraryHandle = HMODULE;
LibraryHandle OpenLibrary(const std::string& name, std::string& reason) {
  const std::u16string wide = text::Utf8ToUtf16(name);
  HMODULE module = ::LoadLibraryW(reinterpret_cast<const wchar_t*>(wide.c_str()));
  if (module == nullptr) reason = SystemError::FromLastError().what();
  return module;
}
// The FileVersion of the file the system loaded (GetModuleFileNameW of the module), as the
// suite's clients (gds32.dll of Firebird 1.0 to 2.5) carry it: "WI-V6.3.0.4290".
std::string LoadedFileVersion(LibraryHandle library) {
  wchar_t buffer[MAX_PATH * 4] = {};
  const DWORD n = ::GetModuleFileNameW(library, buffer, MAX_PATH * 4);
  if (n == 0) return {};
  const std::u16string path(reinterpret_cast<const char16_t*>(buffer), n);
  const auto version = win::GetFileVersionInfo(text::Utf16ToUtf8(path));
  if (!version || version->translations.empty()) return {};
  return version->QueryString(win::TranslationKey(version->translations.front()), "FileVersion").value_or("");
}
void* Symbol(LibraryHandle library, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(library, name));
}
fs::path RunningProgram() {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD n = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH * 4);
  return fs::path(std::wstring(buffer, n));
}
void SetEnvironment(const char* name, const std::string& value) {
  ::_putenv_s(name, value.c_str());
}
#else
using LibraryHandle = void*;
LibraryHandle OpenLibrary(const std::string& name, std::string& reason) {
  void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* text = ::dlerror();
    reason = text != nullptr ? text : "?";
  }
  return handle;
}
void* Symbol(LibraryHandle library, const char* name) {
  return ::dlsym(library, name);
}
fs::path RunningProgram() {
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec);
}
void SetEnvironment(const char* name, const std::string& value) {
  ::setenv(name, value.c_str(), 1);
}
// The client answers its own version (isc_get_client_version).
std::string LoadedFileVersion(LibraryHandle) {
  return {};
}
#endif

// --------------------------------------------------------------------------------------------

std::string MissingText(const std::string& name, const std::string& reason) {
  return "La bibliothèque cliente Firebird (" + name + ") est introuvable ou inutilisable : " + reason;
}

template <typename F>
bool Bind(LibraryHandle library, F& entry, const char* symbol) {
  entry = reinterpret_cast<F>(Symbol(library, symbol));
  return entry != nullptr;
}

std::unique_ptr<LoadedClient> Load(const std::string& name) {
  auto loaded = std::make_unique<LoadedClient>();
  // The client reads FIREBIRD once, when loaded: the program's private root (messages, intl,
  // configuration) unless the caller chose another.
  // A root that is not there (a Windows program away from its build) is no root: the installed
  // client then uses its own.
  if (std::getenv("FIREBIRD") == nullptr) {
    const fs::path root = ProgramFirebirdRoot();
    std::error_code error;
    if (fs::is_regular_file(root / "firebird.conf", error)) SetEnvironment("FIREBIRD", root.string());
  }
  std::string reason;
  LibraryHandle library = OpenLibrary(name, reason);
  if (library == nullptr) {
    loaded->error = MissingText(name, reason);
    return loaded;
  }
  loaded->fileVersion = LoadedFileVersion(library);
  detail::IscApi& api = loaded->api;
  std::string missing;
#define KV_REQUIRE(entry) \
  if (!Bind(library, api.entry, #entry) && missing.empty()) missing = #entry;
  KV_REQUIRE(isc_attach_database)
  KV_REQUIRE(isc_detach_database)
  KV_REQUIRE(isc_drop_database)
  KV_REQUIRE(isc_database_info)
  KV_REQUIRE(isc_dsql_execute_immediate)
  KV_REQUIRE(isc_start_multiple)
  KV_REQUIRE(isc_commit_transaction)
  KV_REQUIRE(isc_commit_retaining)
  KV_REQUIRE(isc_rollback_transaction)
  KV_REQUIRE(isc_dsql_allocate_statement)
  KV_REQUIRE(isc_dsql_prepare)
  KV_REQUIRE(isc_dsql_describe)
  KV_REQUIRE(isc_dsql_describe_bind)
  KV_REQUIRE(isc_dsql_execute)
  KV_REQUIRE(isc_dsql_execute2)
  KV_REQUIRE(isc_dsql_fetch)
  KV_REQUIRE(isc_dsql_free_statement)
  KV_REQUIRE(isc_dsql_sql_info)
  KV_REQUIRE(isc_create_blob2)
  KV_REQUIRE(isc_open_blob2)
  KV_REQUIRE(isc_put_segment)
  KV_REQUIRE(isc_get_segment)
  KV_REQUIRE(isc_close_blob)
  KV_REQUIRE(isc_cancel_blob)
  KV_REQUIRE(isc_sqlcode)
  KV_REQUIRE(isc_service_attach)
  KV_REQUIRE(isc_service_detach)
  KV_REQUIRE(isc_service_start)
  KV_REQUIRE(isc_service_query)
#undef KV_REQUIRE
  Bind(library, api.fb_interpret, "fb_interpret");
  Bind(library, api.isc_interprete, "isc_interprete");
  Bind(library, api.isc_get_client_version, "isc_get_client_version");
  Bind(library, api.fb_cancel_operation, "fb_cancel_operation");
  Bind(library, api.fb_shutdown, "fb_shutdown");
  if (missing.empty() && api.fb_interpret == nullptr && api.isc_interprete == nullptr)
    missing = "fb_interpret";
  if (!missing.empty()) {
    loaded->error = MissingText(name, "la fonction " + missing + " manque");
    api = detail::IscApi{};
  } else if (gLoader == 0) {
    gLoader = detail::ProcessId();
    std::atexit(ShutdownClients);
  }
  return loaded;
}

const LoadedClient& Current() {
  const std::string name = ClientLibraryName();
  std::lock_guard lock(gMutex);
  auto& slot = gClients[name];
  if (!slot) slot = Load(name);
  return *slot;
}

}  // namespace

std::string ClientLibraryName() {
  const char* chosen = std::getenv(kClientOverrideVariable);
  return chosen != nullptr && *chosen != '\0' ? chosen : kDefaultClient;
}

bool IsClientAvailable() noexcept {
  try {
    return Current().error.empty();
  } catch (...) {
    return false;
  }
}

std::string ClientVersion() {
  const detail::IscApi& api = detail::Api();
  if (const std::string& fileVersion = Current().fileVersion; !fileVersion.empty()) return fileVersion;
  if (api.isc_get_client_version == nullptr) return "?";
  char buffer[256] = {};
  api.isc_get_client_version(buffer);
  return text::Latin1ToUtf8(buffer);
}

fs::path ProgramFirebirdRoot() {
  const fs::path program = RunningProgram();
  if (!program.empty()) {
    const fs::path beside = (program.parent_path().parent_path() / "firebird").lexically_normal();
    std::error_code error;
    if (fs::is_regular_file(beside / "firebird.conf", error)) return beside;
  }
  // A copy of the program outside the build (an update executable on a CD-ROM drive of the
  // prefix) has no root beside it: it uses the root of the build that made it.
  return fs::path(KV_BUILD_FIREBIRD_ROOT);
}

bool IsLocalConnectionString(const std::string& connectionString) {
  // The kinds are tested in the connection module's order: a local string has ":\" at the second
  // character and none of the marks of the other kinds before it.
  const std::string& s = connectionString;
  if (s.size() < 3 || s.compare(1, 2, ":\\") != 0) return false;
  return s.find(":/") == std::string::npos && s.find("\\\\") == std::string::npos &&
         s.find('@') == std::string::npos;
}

std::string ClientDatabaseName(const std::string& connectionString) {
#ifdef _WIN32
  return connectionString;  // Windows opens its own paths
#else
  if (!IsLocalConnectionString(connectionString)) return connectionString;
  const auto hostPath = host::Prefix::Current().ToHost(connectionString);
  if (!hostPath) {
    throw DatabaseError("Le chemin de la base de données " + connectionString +
                        " ne se trouve sur aucun lecteur de cet ordinateur.");
  }
  return hostPath->string();
#endif
}

namespace detail {

long ProcessId() noexcept {
#ifdef _WIN32
  return static_cast<long>(::GetCurrentProcessId());
#else
  return static_cast<long>(::getpid());
#endif
}

#ifdef _WIN32
FileNameLocale::FileNameLocale() = default;
FileNameLocale::~FileNameLocale() = default;
#else
FileNameLocale::FileNameLocale() {
  static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (utf8 != static_cast<locale_t>(nullptr)) previous_ = ::uselocale(utf8);
}
FileNameLocale::~FileNameLocale() {
  if (previous_ != nullptr) ::uselocale(static_cast<locale_t>(previous_));
}
#endif

std::string ClientNameBytes(const std::string& connectionString) {
#ifndef _WIN32
  if (IsLocalConnectionString(connectionString)) return ClientDatabaseName(connectionString);
#endif
  return ToDatabaseText(connectionString);
}

const IscApi& Api() {
  const LoadedClient& client = Current();
  if (!client.error.empty()) throw DatabaseError(client.error);
  return client.api;
}

}  // namespace detail

}  // namespace kv::fb
