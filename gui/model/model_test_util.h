// Helpers of the disc model tests: sized files, CR LF texts, and a recorder of
// the status events of a TOC model.
#pragma once

#include <QString>
#include <QStringList>
#include <filesystem>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "gui/model/toc_information.h"
#include "testing/file_bytes.h"

// Readable texts in test failures (QString lives in the global namespace).
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& list, std::ostream* os) {
  *os << '{';
  for (const QString& text : list) *os << " \"" << text.toStdString() << '"';
  *os << " }";
}

namespace sorvel::testing {

// A file of `size` zero bytes, made sparse so that large images cost nothing.
inline void MakeSizedFile(const std::filesystem::path& path, uintmax_t size) {
  WriteFileBytes(path, std::string());
  std::filesystem::resize_file(path, size);
}

inline QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

// Lines joined with CR LF, one after each line.
inline std::string CrLf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// Records (type, text) of every StatusChangeEx and checks that StatusChange follows it.
class StatusRecorder {
 public:
  explicit StatusRecorder(TOCInformation& toc) {
    typed_ = QObject::connect(&toc, &TOCInformation::StatusChangeEx,
                              [this](int32_t type, const QString& text) { events.emplace_back(type, text); });
    plain_ = QObject::connect(&toc, &TOCInformation::StatusChange, [this](const QString& text) { plain << text; });
  }
  ~StatusRecorder() {
    QObject::disconnect(typed_);
    QObject::disconnect(plain_);
  }
  StatusRecorder(const StatusRecorder&) = delete;
  StatusRecorder& operator=(const StatusRecorder&) = delete;
  QStringList Texts() const {
    QStringList texts;
    for (const auto& event : events) texts << event.second;
    return texts;
  }
  std::vector<std::pair<int32_t, QString>> events;
  QStringList plain;

 private:
  QMetaObject::Connection typed_;
  QMetaObject::Connection plain_;
};

}  // namespace sorvel::testing
