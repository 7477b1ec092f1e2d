#include "gui/foundation/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

namespace sorvel {

QtJapaneseTexts::QtJapaneseTexts() {
  // "qt_ja" names the catalogues of every Qt module, qtbase among them.
  if (translator_.load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qt"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    installed_ = QCoreApplication::installTranslator(&translator_);
}

QtJapaneseTexts::~QtJapaneseTexts() {
  if (installed_) QCoreApplication::removeTranslator(&translator_);
}

}  // namespace sorvel
