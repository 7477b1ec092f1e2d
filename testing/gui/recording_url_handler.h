// The desktop's URL handler for tests: records the URLs that
// QDesktopServices::openUrl hands over for the given schemes, and never
// starts a browser. Registered for its lifetime.
#pragma once

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace sorvel::testing {

class RecordingUrlHandler final : public QObject {
  Q_OBJECT

 public:
  explicit RecordingUrlHandler(QStringList schemes = {QStringLiteral("http"), QStringLiteral("https")})
      : schemes_(std::move(schemes)) {
    for (const QString& scheme : schemes_) QDesktopServices::setUrlHandler(scheme, this, "Open");
  }
  ~RecordingUrlHandler() override {
    for (const QString& scheme : schemes_) QDesktopServices::unsetUrlHandler(scheme);
  }

  const QList<QUrl>& urls() const { return urls_; }

 public slots:
  void Open(const QUrl& url) { urls_ << url; }

 private:
  QStringList schemes_;
  QList<QUrl> urls_;
};

}  // namespace sorvel::testing
