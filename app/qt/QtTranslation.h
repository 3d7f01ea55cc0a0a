// Qt's own texts in French: the standard buttons, and the file, folder and printer dialogs, which
// Qt draws with its own texts. Installed for the life of the object.
#pragma once

#include <QTranslator>

namespace kv {

class QtTranslation {
 public:
  // Loads Qt's French catalogue (qtbase_fr.qm) from Qt's translations folder and installs it in
  // the running application; the program's locale becomes French (France) too. Without the
  // catalogue the toolkit keeps its English texts.
  QtTranslation();
  ~QtTranslation();
  QtTranslation(const QtTranslation&) = delete;
  QtTranslation& operator=(const QtTranslation&) = delete;

  bool Loaded() const { return loaded_; }

 private:
  QTranslator translator_;
  bool loaded_ = false;
};

}  // namespace kv
