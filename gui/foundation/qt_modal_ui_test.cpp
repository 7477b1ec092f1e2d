// The real modal interface's document opener: addresses reach the desktop's
// handler of their scheme, local files the file handler, and a file that does
// not exist reaches nothing. The handlers are recorded, nothing is started.
#include "gui/foundation/qt_modal_ui.h"

#include <gtest/gtest.h>

#include <QFile>

#include "testing/gui/recording_url_handler.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

struct OpenCase {
  const char* path;  // "@" stands for an existing local file
  bool opened;
  const char* url;   // handed to the handler ("@" as above), or "" for none
};

TEST(QtOpenDocumentTest, AddressesAndFilesReachTheirHandlers) {
  testing::ScratchDir dir;
  const QString file = QString::fromStdString((dir / "手引き.CHM").string());
  QFile created(file);
  ASSERT_TRUE(created.open(QIODevice::WriteOnly));
  created.close();
  auto at = [&](const char* text) { return QString::fromUtf8(text).replace(QLatin1Char('@'), file); };
  const OpenCase cases[] = {
      {"https://sorvel.example.org/contribution", true, "https://sorvel.example.org/contribution"},
      {"http://127.0.0.1:8801/a?b=c", true, "http://127.0.0.1:8801/a?b=c"},
      {"mailto:someone@example.org", true, "mailto:someone@example.org"},
      {"@", true, "file://@"},
      {"file://@", true, "file://@"},
      {"/no/such/file.chm", false, ""},
      {"file:///no/such/file.chm", false, ""},
      {"", false, ""},
  };
  for (const OpenCase& c : cases) {
    testing::RecordingUrlHandler handler({QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("mailto"),
                                          QStringLiteral("file")});
    QtModalUi ui;
    EXPECT_EQ(ui.OpenDocument(at(c.path)), c.opened) << c.path;
    if (*c.url == '\0') {
      EXPECT_TRUE(handler.urls().isEmpty()) << c.path;
    } else {
      ASSERT_EQ(handler.urls().size(), 1) << c.path;
      EXPECT_EQ(handler.urls()[0], QUrl(at(c.url))) << c.path;
    }
  }
}

}  // namespace
}  // namespace sorvel
