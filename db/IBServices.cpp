#include "db/IBServices.h"

#include <cctype>

#include "db/client/DatabaseError.h"

namespace kv {

namespace {

// The value of a "name=value" line of Params, compared without regard to the name's case.
std::string ParamValue(const std::vector<std::string>& params, const std::string& name) {
  for (const std::string& line : params) {
    const auto equal = line.find('=');
    if (equal == std::string::npos || equal != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < equal && same; ++i)
      same = std::tolower(static_cast<unsigned char>(line[i])) ==
             std::tolower(static_cast<unsigned char>(name[i]));
    if (same) return line.substr(equal + 1);
  }
  return {};
}

}  // namespace

TIBCustomService::TIBCustomService() : manager_(std::make_unique<fb::ServiceManager>()) {}

TIBCustomService::~TIBCustomService() = default;  // the service manager detaches itself

bool TIBCustomService::Active() const {
  return manager_->IsAttached();
}

void TIBCustomService::Attach() {
  std::string server;
  switch (Protocol) {
    case TProtocol::Local:
      break;
    case TProtocol::TCP:
      if (ServerName.empty()) throw DatabaseError("Le nom du serveur manque.");
      server = ServerName;
      break;
    default:
      throw DatabaseError("Ce protocole n'est pas disponible pour les services.");
  }
  manager_->Attach(server, ParamValue(Params, "user_name"), ParamValue(Params, "password"));
}

void TIBCustomService::Detach() {
  manager_->Detach();
}

void TIBCustomService::CheckActive() const {
  if (!Active()) throw DatabaseError("Le service n'est pas connecté.");
}

void TIBServerProperties::FetchVersionInfo() {
  CheckActive();
  const fb::ServerVersionInfo info = Manager().QueryVersion();
  VersionInfo.ServerVersion = info.ServerVersion;
  VersionInfo.ServerImplementation = info.Implementation;
  VersionInfo.ServiceVersion = info.ServiceVersion;
}

bool TIBControlService::NextLine(std::string& line) {
  CheckActive();
  if (Manager().NextLine(line)) return true;
  eof_ = true;
  return false;
}

std::string TIBControlService::GetNextLine() {
  std::string line;
  if (!NextLine(line)) return {};
  return line;
}

void TIBBackupService::ServiceStart() {
  CheckActive();
  if (BackupFile.empty()) throw DatabaseError("Aucun fichier de sauvegarde.");
  Manager().StartBackup(DatabaseName, BackupFile.front());
  Started();
}

void TIBConfigService::SetSweepInterval(int Value) {
  CheckActive();
  Manager().SetSweepInterval(DatabaseName, static_cast<unsigned>(Value));
}

void TIBConfigService::SetAsyncMode(bool Value) {
  CheckActive();
  Manager().SetForcedWrites(DatabaseName, !Value);
}

void TIBValidationService::ServiceStart() {
  CheckActive();
  Manager().StartValidation(DatabaseName, Options == SweepDB);
  Started();
}

void TIBStatisticalService::ServiceStart() {
  CheckActive();
  if (Options != HeaderPages) throw DatabaseError("Seules les statistiques d'en-tête sont disponibles.");
  Manager().StartHeaderStatistics(DatabaseName);
  Started();
}

}  // namespace kv
