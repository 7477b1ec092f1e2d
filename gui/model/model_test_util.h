// Helpers of the disc model tests: whole files as bytes, and a recorder of the
// status events of a TOC model.
#pragma once

#include "gui/model/toc_information.h"

#include <QString>
#include <QStringList>

#include <filesystem>
#include <ostream>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

// Readable texts in test failures (QString lives in the global namespace).
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& list, std::ostream* os) {
  *os << '{';
  for (const QString& text : list) *os << " \"" << text.toStdString() << '"';
  *os << " }";
}

namespace sorvel::testing {

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A file of `size` zero bytes, made sparse so that large images cost nothing.
inline void MakeSizedFile(const std::filesystem::path& path, uintmax_t size) {
  WriteBytes(path, std::string());
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
