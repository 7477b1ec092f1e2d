#include "mastering_engine/iso_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "mastering_engine/iso_image_stream.h"
#include "mastering_engine/mastering_engine.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

std::string WriteFile(const testing::ScratchDir& dir, const std::string& name, const std::string& data) {
  std::string path = (dir / name).string();
  std::ofstream(path, std::ios::binary) << data;
  return path;
}

std::vector<std::string> Names(MasteringEngine& engine) {
  std::vector<std::string> names;
  IsoFindEntry entry;
  for (bool ok = engine.FindISOFirstFile(&entry); ok; ok = engine.FindISONextFile(&entry)) names.push_back(entry.name);
  return names;
}

TEST(IsoTree, FreshTreeIsEmptyWithVariant4) {
  IsoTree tree;
  EXPECT_EQ(tree.Variant(), 4);
  EXPECT_TRUE(tree.IsISOEmpty());
  EXPECT_EQ(tree.GetISOCurrentDirectory(), "\\");
  ASSERT_TRUE(tree.MakeISODirectory("dir", 0, 0));
  EXPECT_FALSE(tree.IsISOEmpty());
  tree.ClearISO();
  EXPECT_TRUE(tree.IsISOEmpty());
}

TEST(IsoTree, ChangeDirectoryWalksPathsAndRestoresOnFailure) {
  IsoTree tree;
  ASSERT_TRUE(tree.MakeISODirectory("Data", 0, 0));
  ASSERT_TRUE(tree.ChangeISODirectory("Data"));
  ASSERT_TRUE(tree.MakeISODirectory("Sub", 0, 0));
  ASSERT_TRUE(tree.AddISODummyFile("file", 0, 0, 0));
  ASSERT_TRUE(tree.ChangeISODirectory("\\"));

  struct Step {
    std::string path;
    bool ok;
    std::string after;
  };
  const std::vector<Step> steps = {
      {"\\DATA\\SUB", true, "\\Data\\Sub\\"},   // names compare case-insensitively
      {"..", true, "\\Data\\"},
      {"..\\..\\..", true, "\\"},                 // ".." in the root stays in the root
      {"Data\\missing", false, "\\"},             // restored
      {"Data\\file", false, "\\"},                // a file is no directory
      {"", false, "\\"},
      {"Data\\.\\Sub\\", true, "\\Data\\Sub\\"},
      {"\\", true, "\\"},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(tree.ChangeISODirectory(s.path), s.ok) << s.path;
    EXPECT_EQ(tree.GetISOCurrentDirectory(), s.after) << s.path;
  }
}

TEST(IsoTree, NamesCompareUpperCasedForAddButExactlyForRemove) {
  IsoTree tree;
  ASSERT_TRUE(tree.AddISODummyFile("NOTES.TXT", 0, 0, 0));
  EXPECT_FALSE(tree.AddISODummyFile("Notes.txt", 0, 0, 0));
  EXPECT_FALSE(tree.MakeISODirectory("notes.TXT", 0, 0));
  EXPECT_FALSE(tree.RemoveISOFile("notes.txt"));
  EXPECT_TRUE(tree.ChangeISOProperties("notes.txt", 2, 1234));
  EXPECT_EQ(tree.Current().entries.begin()->second->attributes, 2u);
  EXPECT_TRUE(tree.RemoveISOFile("NOTES.TXT"));
  EXPECT_TRUE(tree.IsISOEmpty());
}

TEST(IsoTree, EntriesAreOrderedByUpperCasedFirstName) {
  // Added out of order, in order (as a sorted folder listing), and in reverse;
  // a name that clashes with the last one added is refused in every variant.
  const std::vector<std::vector<std::string>> orders = {
      {"b", "C", "a", "_x", "B2"}, {"a", "b", "B2", "C", "_x"}, {"_x", "C", "B2", "b", "a"}};
  for (int variant : {4, 16}) {
    for (const auto& order : orders) {
      MasteringEngine engine;
      ASSERT_TRUE(engine.InitISOFS(variant));
      for (const std::string& n : order) {
        ASSERT_TRUE(engine.AddISODummyFile(n, 0, 0, 0)) << n;
        EXPECT_FALSE(engine.AddISODummyFile(n, 0, 0, 0)) << n;
      }
      EXPECT_FALSE(engine.AddISODummyFile("B", 0, 0, 0));
      EXPECT_EQ(Names(engine), (std::vector<std::string>{".", "..", "a", "b", "B2", "C", "_x"}))
          << variant << " " << order.front();
    }
  }
}

// On disc the list is sorted by the bytes of the names as written: CP932 for the
// ISO 9660 variants, UCS-2 (code-point order) for the Joliet tree.
TEST(IsoTree, EntriesAreOrderedByTheBytesWrittenOnDisc) {
  const std::vector<std::string> names = {"ｱ", "亜", "ア", "Ａ", "b"};
  struct Case {
    int variant;
    std::vector<std::string> order;
  };
  for (const Case& c : {Case{4, {"b", "Ａ", "ア", "亜", "ｱ"}}, Case{1, {"B", "Ａ", "ア", "亜", "ｱ"}},
                        Case{16, {"b", "ア", "亜", "Ａ", "ｱ"}}}) {
    MasteringEngine engine;
    ASSERT_TRUE(engine.InitISOFS(c.variant));
    for (const std::string& n : names) ASSERT_TRUE(engine.AddISODummyFile(n, 0, 0, 0)) << n;
    std::vector<std::string> expected = {".", ".."};
    expected.insert(expected.end(), c.order.begin(), c.order.end());
    EXPECT_EQ(Names(engine), expected) << c.variant;
    // Lookups still find every entry by its name, in any letter case.
    EXPECT_TRUE(engine.ChangeISOProperties("B", 0, 1)) << c.variant;
    EXPECT_TRUE(engine.RemoveISOFile(c.order[1])) << c.variant;
    EXPECT_FALSE(engine.AddISODummyFile("亜", 0, 0, 0)) << c.variant;
  }
}

TEST(IsoTree, RenamingADirectoryKeepsItsSubtree) {
  MasteringEngine engine;
  ASSERT_TRUE(engine.InitISOFS(16));
  ASSERT_TRUE(engine.MakeISODirectory("Old Name", 0, 100));
  ASSERT_TRUE(engine.ChangeISODirectory("Old Name"));
  ASSERT_TRUE(engine.MakeISODirectory("inner", 0, 0));
  ASSERT_TRUE(engine.ChangeISODirectory("inner"));
  ASSERT_TRUE(engine.AddISODummyFile("deep.txt", 0, 7, 0));
  ASSERT_TRUE(engine.ChangeISODirectory("\\"));
  ASSERT_TRUE(engine.RenameISOFile("old name", "New Name"));
  EXPECT_EQ(engine.GetISONewFileDirectoryName(), "New Name");
  EXPECT_FALSE(engine.ChangeISODirectory("Old Name"));
  ASSERT_TRUE(engine.ChangeISODirectory("\\New Name\\inner"));
  EXPECT_EQ(engine.GetISOCurrentDirectory(), "\\New Name\\inner\\");
  EXPECT_EQ(Names(engine), (std::vector<std::string>{".", "..", "deep.txt"}));
  ASSERT_TRUE(engine.ChangeISODirectory(".."));
  IsoFindEntry dot;
  ASSERT_TRUE(engine.FindISOFirstFile(&dot));
  EXPECT_EQ(dot.source, "New Name");
  EXPECT_EQ(engine.Current().owner->short_name, "NEW_NAME");
  ASSERT_TRUE(engine.ChangeISODirectory("\\"));
  // Refusals change nothing.
  ASSERT_TRUE(engine.AddISODummyFile("other", 0, 0, 0));
  EXPECT_FALSE(engine.RenameISOFile("New Name", "OTHER"));
  EXPECT_FALSE(engine.RenameISOFile("missing", "x"));
  EXPECT_EQ(Names(engine), (std::vector<std::string>{".", "..", "New Name", "other"}));
  ASSERT_TRUE(engine.RenameISOFile("other", "renamed.bin"));
  EXPECT_EQ(Names(engine), (std::vector<std::string>{".", "..", "New Name", "renamed.bin"}));
  EXPECT_TRUE(engine.RemoveISOFile("New Name"));
  EXPECT_EQ(engine.Directories().size(), 1u);
}

TEST(IsoTree, FindReportsFixedEntriesThenSiblingsAndStopsWhenTheTreeChanges) {
  MasteringEngine engine;
  ASSERT_TRUE(engine.InitISOFS(0));
  ASSERT_TRUE(engine.MakeISODirectory("dir", 0x12, 500));
  ASSERT_TRUE(engine.AddISODummyFile("dummy.bin", 2, 4096, 600));
  IsoFindEntry e;
  ASSERT_TRUE(engine.FindISOFirstFile(&e));
  EXPECT_EQ(e.name, ".");
  EXPECT_TRUE(e.is_directory);
  EXPECT_EQ(e.source, "");
  ASSERT_TRUE(engine.FindISONextFile(&e));
  EXPECT_EQ(e.name, "..");
  ASSERT_TRUE(engine.FindISONextFile(&e));
  EXPECT_EQ(e.name, "DIR");
  EXPECT_EQ(e.attributes, 0x12u);
  EXPECT_EQ(e.time, 500);
  EXPECT_EQ(e.size, 0u);
  ASSERT_TRUE(engine.FindISONextFile(&e));
  EXPECT_EQ(e.name, "DUMMY.BIN");
  EXPECT_EQ(e.size, 4096u);
  EXPECT_EQ(e.source, "");
  EXPECT_FALSE(e.is_directory);
  IsoFindEntry untouched = e;
  EXPECT_FALSE(engine.FindISONextFile(&e));
  EXPECT_EQ(e.name, untouched.name);

  ASSERT_TRUE(engine.FindISOFirstFile(&e));
  ASSERT_TRUE(engine.FindISONextFile(&e));
  ASSERT_TRUE(engine.RemoveISOFile("DIR"));
  EXPECT_FALSE(engine.FindISONextFile(&e));
  EXPECT_EQ(e.name, "..");
  ASSERT_TRUE(engine.ChangeISODirectory("\\"));
  EXPECT_EQ(Names(engine), (std::vector<std::string>{".", "..", "DUMMY.BIN"}));
}

// Entries stamped outside the 32-bit time (host files after 2038-01-19 or
// before 1901-12-13): reported at the nearest end of it; that report given
// back keeps the real stamp, any other time is set.
TEST(IsoTree, TimesBeyond32BitsSurviveTheirOwnReportGivenBack) {
  struct Case {
    const char* name;
    int64_t stamp;
    int32_t reported;  // what the exports carry
  };
  const Case cases[] = {
      {"y1965.bin", -157766400, -157766400},
      {"y2100.bin", 4102444800, INT32_MAX},
      {"y1900.bin", -2208988800, INT32_MIN},
      {"y2001.bin", 978307200, 978307200},
  };
  MasteringEngine engine;
  ASSERT_TRUE(engine.InitISOFS(16));
  for (const Case& c : cases) ASSERT_TRUE(engine.AddISODummyFile(c.name, 0, 10, c.stamp)) << c.name;
  auto time_of = [&](const std::string& name) {
    IsoFindEntry e;
    for (bool ok = engine.FindISOFirstFile(&e); ok; ok = engine.FindISONextFile(&e))
      if (e.name == name) return e.time;
    return int64_t{-1};
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(time_of(c.name), c.stamp);
    EXPECT_EQ(ExportedTime(time_of(c.name)), c.reported);
    ASSERT_TRUE(engine.ChangeISOProperties(c.name, 2, c.reported));
    EXPECT_EQ(time_of(c.name), c.stamp);
    ASSERT_TRUE(engine.ChangeISOProperties(c.name, 0, 1000));
    EXPECT_EQ(time_of(c.name), 1000);
    // The far end of the range is a time like any other for an entry inside it.
    ASSERT_TRUE(engine.ChangeISOProperties(c.name, 0, INT32_MAX));
    EXPECT_EQ(time_of(c.name), INT32_MAX);
  }
}

TEST(IsoTree, SourcesMustBeRegularFilesBelow4GiB) {
  testing::ScratchDir dir;
  IsoTree tree;
  std::string plain = WriteFile(dir, "plain.txt", "hello");
  std::string hidden = WriteFile(dir, ".hidden", "x");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "folder");
  std::string big = (dir / "big.bin").string();
  std::string huge = (dir / "huge.bin").string();
  ASSERT_EQ(truncate(std::string(WriteFile(dir, "big.bin", "")).c_str(), 3LL << 30), 0);
  ASSERT_EQ(truncate(std::string(WriteFile(dir, "huge.bin", "")).c_str(), 5LL << 30), 0);
  std::string max = WriteFile(dir, "max.bin", "");
  ASSERT_EQ(truncate(max.c_str(), (4LL << 30) - 1), 0);
  std::string over = WriteFile(dir, "over.bin", "");
  ASSERT_EQ(truncate(over.c_str(), 4LL << 30), 0);

  EXPECT_TRUE(tree.AddISOFile("plain.txt", plain));
  EXPECT_TRUE(tree.AddISOFile("hidden", hidden));
  EXPECT_TRUE(tree.AddISOFile("big.bin", big));
  EXPECT_TRUE(tree.AddISOFile("max.bin", max));
  EXPECT_FALSE(tree.AddISOFile("over.bin", over));
  EXPECT_FALSE(tree.AddISOFile("huge.bin", huge));
  EXPECT_EQ(tree.GetISONewFileDirectoryName(), "huge.bin");  // the name was converted before the refusal
  EXPECT_FALSE(tree.AddISOFile("fifo", (dir / "fifo").string()));
  EXPECT_FALSE(tree.AddISOFile("folder", (dir / "folder").string()));
  EXPECT_FALSE(tree.AddISOFile("missing", (dir / "missing").string()));
  const auto& entries = tree.Current().entries;
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries.at("BIG.BIN")->size, 3ull << 30);
  EXPECT_EQ(entries.at("MAX.BIN")->size, 0xFFFFFFFFull);
  EXPECT_EQ(entries.at("HIDDEN")->attributes, 2u);
  EXPECT_EQ(entries.at("PLAIN.TXT")->attributes, 0u);
  EXPECT_EQ(entries.at("PLAIN.TXT")->size, 5u);
  struct stat st;
  ASSERT_EQ(stat(plain.c_str(), &st), 0);
  EXPECT_EQ(entries.at("PLAIN.TXT")->time, st.st_mtime);
}

// A tree that believes the track list already holds `tracks` audio tracks.
class TrackCountTree : public IsoTree {
 public:
  explicit TrackCountTree(size_t tracks) : tracks_(tracks) {}

 protected:
  size_t AudioTrackCount() const override { return tracks_; }

 private:
  size_t tracks_;
};

TEST(IsoTree, NinetyNineAudioTracksLeaveNoRoomForData) {
  testing::ScratchDir dir;
  std::string src = WriteFile(dir, "a", "a");
  for (size_t tracks : {98u, 99u}) {
    TrackCountTree tree(tracks);
    bool room = tracks < 99;
    EXPECT_EQ(tree.AddISOFile("a", src), room);
    EXPECT_EQ(tree.AddISODummyFile("b", 0, 0, 0), room);
    EXPECT_EQ(tree.MakeISODirectory("c", 0, 0), room);
  }
}

// The path tables number a directory's parent in 16 bits: the tree takes
// 65,535 directories with the root and refuses the next, so every tree it
// holds lays out. Once the 65,536th was taken and the layout then failed,
// which the burn told as an empty layout.
TEST(IsoTree, DirectoriesStopWhereThePathTablesEnd) {
  IsoImageStream tree;
  ASSERT_TRUE(tree.MakeISODirectory("top", 0, 0));
  ASSERT_TRUE(tree.ChangeISODirectory("top"));
  for (size_t i = 2; i < IsoTree::kMaxDirectories; ++i) {
    const std::string name = std::to_string(i).insert(0, 1, 'D');
    ASSERT_TRUE(tree.MakeISODirectory(name, 0, 0)) << i;
  }
  EXPECT_EQ(tree.Directories().size(), 65535u);
  EXPECT_FALSE(tree.MakeISODirectory("ONEMORE", 0, 0));
  ASSERT_TRUE(tree.ChangeISODirectory("D2"));
  EXPECT_FALSE(tree.MakeISODirectory("DEEPER", 0, 0));
  EXPECT_EQ(tree.Directories().size(), 65535u);
  // Files still go in; the full tree lays out.
  EXPECT_TRUE(tree.AddISODummyFile("f", 0, 1, 0));
  EXPECT_GT(tree.BuildDataTrack("FULL"), 0u);
  tree.EndDataTrack();
  // A removed directory makes room for one.
  ASSERT_TRUE(tree.ChangeISODirectory("\\top"));
  ASSERT_TRUE(tree.RemoveISOFile("D3"));
  EXPECT_TRUE(tree.MakeISODirectory("ONEMORE", 0, 0));
  EXPECT_FALSE(tree.MakeISODirectory("TWOMORE", 0, 0));
}

TEST(IsoTree, RemovingADeepTreeFreesEverything) {
  IsoTree tree;
  ASSERT_TRUE(tree.MakeISODirectory("top", 0, 0));
  ASSERT_TRUE(tree.ChangeISODirectory("top"));
  for (int i = 0; i < 50000; ++i) {
    ASSERT_TRUE(tree.MakeISODirectory("d", 0, 0));
    ASSERT_TRUE(tree.AddISODummyFile("f", 0, 1, 0));
    ASSERT_TRUE(tree.ChangeISODirectory("d"));
  }
  ASSERT_TRUE(tree.ChangeISODirectory("\\"));
  EXPECT_EQ(tree.Directories().size(), 50002u);
  ASSERT_TRUE(tree.RemoveISOFile("top"));
  EXPECT_EQ(tree.Directories().size(), 1u);
  EXPECT_TRUE(tree.IsISOEmpty());
  // Emptying and destroying deep trees does not recurse per level either.
  for (int i = 0; i < 50000; ++i) {
    ASSERT_TRUE(tree.MakeISODirectory("d", 0, 0));
    ASSERT_TRUE(tree.ChangeISODirectory("d"));
  }
  tree.ClearISO();
  EXPECT_TRUE(tree.IsISOEmpty());
  IsoTree deep;
  for (int i = 0; i < 50000; ++i) {
    ASSERT_TRUE(deep.MakeISODirectory("d", 0, 0));
    ASSERT_TRUE(deep.ChangeISODirectory("d"));
  }
}

}  // namespace
}  // namespace sorvel
