// Qt's own texts (the standard buttons of message boxes, the file dialogs) in
// Japanese, as the rest of the program reads, whatever the desktop's locale.
#pragma once

#include <QTranslator>

namespace sorvel {

// Loads Qt's Japanese catalogue from Qt's translations folder and installs it
// on the application for as long as the object lives. Boxes and dialogs made
// meanwhile take their texts from it.
class QtJapaneseTexts {
 public:
  QtJapaneseTexts();
  ~QtJapaneseTexts();
  QtJapaneseTexts(const QtJapaneseTexts&) = delete;
  QtJapaneseTexts& operator=(const QtJapaneseTexts&) = delete;

  // False when the catalogue is not installed (Debian: qt6-translations-l10n);
  // Qt's texts then stay in English.
  bool installed() const { return installed_; }

 private:
  QTranslator translator_;
  bool installed_ = false;
};

}  // namespace sorvel
