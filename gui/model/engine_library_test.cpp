// Loading of the engine libraries and the fatal path of a binding that
// cannot start its engine.
#include "gui/model/engine_library.h"

#include <gtest/gtest.h>

#include <QFile>
#include <array>
#include <filesystem>

#include "gui/model/fake_engine/fake_engine_control.h"
#include "gui/model/tazol.h"
#include "gui/model/trelin.h"
#include "testing/gui/scripted_modal_ui.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

const char kTrelinMessage[] = "光盤中継機構－Trelin－が異常若しくは見つかりません。";
const char kTazolMessage[] = "像盤組成機構－Tazol－が異常若しくは見つかりません。";

class ScopedFolder {
 public:
  explicit ScopedFolder(const std::filesystem::path& folder) {
    SetEngineLibraryFolder(QString::fromStdString(folder.string()));
  }
  ~ScopedFolder() { SetEngineLibraryFolder(QString()); }
};

// In the child of a death test: the box is scripted, then the program ends.
template <typename Binding>
void ConstructInChild() {
  testing::ScriptedModalUi ui;
  Binding binding;
}

TEST(EngineLibraryDeathTest, MissingLibraryShowsTheMessageAndEnds) {
  testing::ScratchDir empty;
  ScopedFolder folder(empty.path());
  EXPECT_EXIT(ConstructInChild<Trelin>(), ::testing::ExitedWithCode(1), kTrelinMessage);
  EXPECT_EXIT(ConstructInChild<Tazol>(), ::testing::ExitedWithCode(1), kTazolMessage);
}

TEST(EngineLibraryDeathTest, BrokenLibraryShowsTheMessageAndEnds) {
  testing::ScratchDir dir;
  for (const char* name : {"libtrelin.so", "libtazol.so"}) {
    QFile file(QString::fromStdString((dir / name).string()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\x7F" "ELF but not really a library");
  }
  ScopedFolder folder(dir.path());
  EXPECT_EXIT(ConstructInChild<Trelin>(), ::testing::ExitedWithCode(1), kTrelinMessage);
  EXPECT_EXIT(ConstructInChild<Tazol>(), ::testing::ExitedWithCode(1), kTazolMessage);
}

TEST(EngineLibraryDeathTest, MissingInitializeShowsTheMessageAndEnds) {
  ScopedFolder folder(std::filesystem::path(SORVEL_FAKE_ENGINE_DIR) / "no_init");
  EXPECT_EXIT(ConstructInChild<Trelin>(), ::testing::ExitedWithCode(1), kTrelinMessage);
  EXPECT_EXIT(ConstructInChild<Tazol>(), ::testing::ExitedWithCode(1), kTazolMessage);
}

TEST(EngineLibraryDeathTest, NullHandleShowsTheMessageAndEnds) {
  auto child = [] {
    testing::FakeEngine fake("full", "libtrelin.so");
    fake.SetResult("Initialize", 0);
    ConstructInChild<Trelin>();
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(1), kTrelinMessage);
}

TEST(EngineLibraryTest, FatalPathShowsACriticalBoxAndCallsTheEnd) {
  testing::ScratchDir empty;
  ScopedFolder folder(empty.path());
  testing::ScriptedModalUi ui;
  int ended = 0;
  auto previous = SetEngineFatalEnd([&] { ++ended; });
  {
    Trelin trelin;
    // Without an engine every member answers with its failure value and calls nothing.
    EXPECT_EQ(trelin.engine_handle(), 0);
    EXPECT_FALSE(trelin.OpenDevice(3));
    EXPECT_EQ(trelin.ReadStart(0, 0), CBR_UNKNOWNMEDIA);
    EXPECT_EQ(trelin.GetEngineVersion(), 0);
    EXPECT_EQ(trelin.GetTOCStructure()->TOCCount(), 0);
    Tazol tazol;
    EXPECT_FALSE(tazol.InitISOFS(0));
  }
  SetEngineFatalEnd(previous);
  EXPECT_EQ(ended, 2);
  ASSERT_EQ(ui.messages().size(), 2);
  EXPECT_EQ(ui.messages()[0].text, QString::fromUtf8(kTrelinMessage));
  EXPECT_EQ(ui.messages()[0].style, 16);
  EXPECT_EQ(ui.messages()[0].caption, QStringLiteral("Sorvel"));
  EXPECT_EQ(ui.messages()[1].text, QString::fromUtf8(kTazolMessage));
}

TEST(EngineLibraryTest, ExportsAreBoundOnTheirOwnLibraryOnlyWhenFirstCalled) {
  static constexpr std::array<const char*, 3> kNames = {"Initialize", "GetLastWroteLBA", "NoSuchExport"};
  const std::string folder = std::string(SORVEL_FAKE_ENGINE_DIR) + "/partial";
  ScopedFolder scoped(folder);
  EngineLibrary& library = EngineLibrary::For("libtrelin.so", kNames);
  EXPECT_EQ(&library, &EngineLibrary::For("libtrelin.so", kNames));
  EXPECT_NE(library.Export(0), nullptr);
  EXPECT_EQ(library.path(), folder + "/libtrelin.so");
  EXPECT_EQ(library.Export(1), nullptr);  // the partial library lacks it
  EXPECT_FALSE(library.error().isEmpty());
  EXPECT_EQ(library.Export(2), nullptr);
  EXPECT_EQ(library.Export(7), nullptr);  // outside the list
  // The same names in another library resolve there, not here.
  testing::ScratchDir other;
  ScopedFolder elsewhere(std::filesystem::path(SORVEL_FAKE_ENGINE_DIR) / "full");
  EngineLibrary& full = EngineLibrary::For("libtrelin.so", kNames);
  EXPECT_NE(&full, &library);
  EXPECT_NE(full.Export(1), nullptr);
  EXPECT_NE(full.Export(0), library.Export(0));
}

}  // namespace
}  // namespace sorvel
