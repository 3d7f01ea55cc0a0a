// The status vector of the client library turned into DatabaseError.
#include "db/client/DatabaseError.h"
#include "db/client/IscApi.h"
#include "formats/Text.h"

namespace kv::fb::detail {

bool Failed(const ISC_STATUS* status) {
  return status[0] == 1 && status[1] > 0;
}

void Raise(const ISC_STATUS* status) {
  const IscApi& api = Api();
  const long sqlCode = api.isc_sqlcode(status);
  const long engineCode = static_cast<long>(status[1]);
  // Every line the client gives, in its order; the texts are ISO 8859-1.
  std::string message;
  char line[1024];
  const ISC_STATUS* cursor = status;
  for (int guard = 0; guard < 64; ++guard) {
    ISC_LONG length = 0;
    if (api.fb_interpret != nullptr) {
      length = api.fb_interpret(line, sizeof line, &cursor);
    } else {
      ISC_STATUS* legacy = const_cast<ISC_STATUS*>(cursor);
      length = api.isc_interprete(line, &legacy);
      cursor = legacy;
    }
    if (length <= 0) break;
    if (!message.empty()) message += "\r\n";
    message += text::Latin1ToUtf8(std::string_view(line, static_cast<std::size_t>(length)));
  }
  if (message.empty()) message = "Erreur Firebird " + std::to_string(engineCode);
  throw DatabaseError(message, sqlCode, engineCode);
}

void Check(const ISC_STATUS* status) {
  if (Failed(status)) Raise(status);
}

std::string ToDatabaseText(const std::string& utf8) {
  auto latin1 = text::Utf8ToLatin1Exact(utf8);
  if (!latin1) {
    throw DatabaseError("Le texte « " + utf8 +
                        " » contient un caractère que la base de données (ISO 8859-1) ne peut pas "
                        "enregistrer.");
  }
  return *latin1;
}

}  // namespace kv::fb::detail
