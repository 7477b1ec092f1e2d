// The about box on real widgets and the built engine libraries: version texts,
// the engine lines against the libraries' own exports, the background
// covering the box, and a screenshot.
#include "gui/dialogs/about_information_form.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <cstdint>
#include <cstdlib>

#include "gui/controls/gradient_frame.h"
#include "gui/model/engine_library.h"
#include "gui/program_version.h"
#include "testing/gui/screenshot.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

TEST(EngineVersionTextTest, ThreeTwoDigitFields) {
  const struct {
    int32_t version;
    const char* text;
  } cases[] = {{10404, "1.4.4"}, {15060, "1.50.60"}, {10600, "1.6.0"}, {0, "0.0.0"},
               {999999, "99.99.99"}, {1234567, "23.45.67"}, {101, "0.1.1"}};
  for (const auto& c : cases) EXPECT_EQ(EngineVersionText(c.version), QLatin1String(c.text)) << c.version;
}

TEST(ProgramVersionTextTest, StageFollowsTheMinorNumberBelowOne) {
  const struct {
    int major, minor, revision;
    const char* text;
  } cases[] = {
      {0, 0, 1, "Version 0.0.1 Alpha Release"},    {0, 4, 9, "Version 0.4.9 Alpha Release"},
      {0, 5, 0, "Version 0.5.0 Beta Release"},     {0, 9, 12, "Version 0.9.12 Beta Release"},
      {0, 10, 0, "Version 0.10.0 Preview Release"}, {0, 27, 3, "Version 0.27.3 Preview Release"},
      {1, 0, 0, "Version 1.0.0"},                  {2, 3, 4, "Version 2.3.4"},
      {1, 4, 0, "Version 1.4.0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgramVersionText(c.major, c.minor, c.revision), QLatin1String(c.text)) << c.text;
  }
}

// The version the engine library itself reports, read through its own export.
int32_t ExportedEngineVersion(const char* library) {
  const std::string path = testing::BuiltLibraryPath(library);
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    ADD_FAILURE() << dlerror();
    return -1;
  }
  using Version = int32_t (*)();
  auto version = reinterpret_cast<Version>(dlsym(handle, "GetEngineVersion"));
  const int32_t result = version != nullptr ? version() : -1;
  dlclose(handle);
  return result;
}

class AboutInformationFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEngineLibraryFolder(
        QString::fromStdString(std::filesystem::path(testing::BuiltLibraryPath("libtrelin.so")).parent_path()));
  }
  void TearDown() override { SetEngineLibraryFolder(QString()); }
};

TEST_F(AboutInformationFormTest, ShowsTheProjectVersionAndTheEnginesOfTheBuild) {
  AboutInformationForm form;
  EXPECT_EQ(form.windowTitle(), QStringLiteral("バージョン情報"));

  // The version line follows project(Sorvel VERSION ...) of the top build file.
  const char* source = std::getenv("SORVEL_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  QFile build_file(QString::fromLocal8Bit(source) + QStringLiteral("/CMakeLists.txt"));
  ASSERT_TRUE(build_file.open(QIODevice::ReadOnly));
  const QRegularExpressionMatch match =
      QRegularExpression(QStringLiteral(R"(project\(Sorvel\s+VERSION\s+(\d+)\.(\d+)\.(\d+))"))
          .match(QString::fromUtf8(build_file.readAll()));
  ASSERT_TRUE(match.hasMatch());
  EXPECT_EQ(form.lblVersion->text(),
            ProgramVersionText(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt()));
  EXPECT_EQ(form.lblLegalNotice->text(), QString::fromUtf8(kProgramLegalNotice));
  EXPECT_FALSE(form.lblLegalNotice->text().isEmpty());

  const int32_t trelin = ExportedEngineVersion("libtrelin.so");
  const int32_t tazol = ExportedEngineVersion("libtazol.so");
  EXPECT_GT(trelin, 0);
  EXPECT_GT(tazol, 0);
  const QStringList lines = form.lblEngine->text().split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 3);
  EXPECT_FALSE(lines[0].isEmpty());
  EXPECT_EQ(lines[1], QStringLiteral("DriveRelayEngine Trelin -TRELIN- Version ") + EngineVersionText(trelin));
  EXPECT_EQ(lines[2], QStringLiteral("ImageMasteringEngine Tazol -TAZOL- Version ") + EngineVersionText(tazol));
}

TEST_F(AboutInformationFormTest, BackgroundCoversTheBoxAndOkCloses) {
  AboutInformationForm form;
  form.show();
  EXPECT_EQ(form.fraMain->geometry(), form.rect());
  EXPECT_EQ(form.fraMain->Orientation(), 2);
  for (QWidget* child : {static_cast<QWidget*>(form.lblVersion), static_cast<QWidget*>(form.lblEngine),
                         static_cast<QWidget*>(form.cmdOK)}) {
    EXPECT_EQ(child->parentWidget(), form.fraMain);
  }
  EXPECT_TRUE(form.cmdOK->isDefault());
  form.cmdOK->click();
  EXPECT_FALSE(form.isVisible());
}

TEST_F(AboutInformationFormTest, ShowModalCentresOnTheMainWindow) {
  QWidget main_window;
  main_window.setGeometry(200, 100, 800, 600);
  main_window.show();
  QPoint centre;
  QTimer::singleShot(0, [&] {
    auto* form = qobject_cast<AboutInformationForm*>(QApplication::activeModalWidget());
    ASSERT_NE(form, nullptr);
    centre = form->frameGeometry().center();
    form->cmdOK->click();
  });
  AboutInformationForm::ShowModal(&main_window);
  // Within the window frame's margin: a form that was never shown is placed by its inner size.
  EXPECT_LE((centre - main_window.frameGeometry().center()).manhattanLength(), 4);
}

TEST_F(AboutInformationFormTest, Screenshot) {
  AboutInformationForm form;
  EXPECT_FALSE(testing::SaveScreenshot(&form, QStringLiteral("AboutInformationForm")).isEmpty());
}

}  // namespace
}  // namespace sorvel
