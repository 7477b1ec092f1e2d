#include "gui/jobs/id3_track_text.h"

#include "gui/foundation/input_check.h"

namespace sorvel::jobs {

bool Id3TrackText::IsHalfWidth() const {
  return IsHalfWidthOnly(Title + Performer + Songwriter + Composer + Arranger + Message);
}

QString ToFullWidth(const QString& text) {
  QString out;
  out.reserve(text.size());
  qsizetype i = 0;
  while (i < text.size()) {
    const char16_t c = text.at(i).unicode();
    if (c == u' ') {
      out += QChar(0x3000);
      ++i;
    } else if (c >= 0x21 && c <= 0x7E) {
      out += QChar(static_cast<char16_t>(c + 0xFEE0));
      ++i;
    } else if (c >= 0xFF61 && c <= 0xFF9F) {
      // A run of half-width katakana: compatibility composition gives the
      // full-width letters with voiced marks joined; lone marks become the
      // spacing forms.
      qsizetype end = i;
      while (end < text.size() && text.at(end).unicode() >= 0xFF61 && text.at(end).unicode() <= 0xFF9F) ++end;
      QString run = text.mid(i, end - i).normalized(QString::NormalizationForm_KC);
      run.replace(QChar(0x3099), QChar(0x309B));
      run.replace(QChar(0x309A), QChar(0x309C));
      out += run;
      i = end;
    } else {
      out += text.at(i);
      ++i;
    }
  }
  return out;
}

}  // namespace sorvel::jobs
