#include "app/qt/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QtGlobal>

namespace kv {

QtTranslation::QtTranslation() {
  QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  loaded_ = translator_.load(QStringLiteral("qtbase_fr"), folder) &&
            QCoreApplication::installTranslator(&translator_);
  if (!loaded_) qWarning("Qt's French texts (qtbase_fr.qm) were not found in %s", qPrintable(folder));
}

QtTranslation::~QtTranslation() {
  if (loaded_) QCoreApplication::removeTranslator(&translator_);
}

}  // namespace kv
