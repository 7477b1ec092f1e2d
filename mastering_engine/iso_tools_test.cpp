// Independent readers (isoinfo, xorriso, bsdtar, 7-Zip) check the images the
// layout produces: names, sizes, dates and contents against the sources.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "mastering_engine/iso_image_stream.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;

std::string Pattern(size_t n, int seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((seed * 31 + i * 13) & 0xFF);
  return s;
}

void Put(const fs::path& path, const std::string& data) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << data;
}

// Joins pieces by appending (operator+ on temporaries trips a false g++ 12 warning).
std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view p : parts) out.append(p);
  return out;
}

std::string Quote(const fs::path& p) { return Cat({"'", p.string(), "'"}); }

// The source tree: three levels of directories, a directory of 80 entries that
// spans several sectors, an empty file, a 2,049-byte file and a hidden file;
// Japanese names under the Joliet variants and a 200-byte name under variant 4.
constexpr int64_t kSourceTime = 1614859200;  // 2021-03-04 12:00:00 UTC

void MakeSources(const fs::path& root, int variant) {
  Put(root / "readme.txt", "hello, disc\n");
  Put(root / "empty.dat", "");
  Put(root / "odd.bin", Pattern(2049, 1));
  Put(root / ".hidden", "hidden\n");
  Put(root / "docs" / "level2" / "level3" / "deep.txt", Pattern(7000, 2));
  Put(root / "docs" / "level2" / "notes.md", "notes\n");
  for (int i = 0; i < 80; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "entry_number_%02d.txt", i);
    Put(root / "many" / name, Pattern(static_cast<size_t>(i * 97), i));
  }
  if (variant & 0x10) {
    Put(root / "日本語のファイル.txt", "にほんご\n");
    Put(root / "資料" / "表.csv", "a,b\n");
  }
  if (variant == 4) Put(root / (std::string(196, 'L') + ".txt"), "long name\n");
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) {
      struct timespec times[2] = {{kSourceTime, 0}, {kSourceTime, 0}};
      utimensat(AT_FDCWD, e.path().c_str(), times, 0);
    }
  }
}

// Adds the host folder to the current directory of the tree, depth first.
void AddFolder(IsoTree& tree, const fs::path& folder) {
  std::vector<fs::path> entries;
  for (const auto& e : fs::directory_iterator(folder)) entries.push_back(e.path());
  std::sort(entries.begin(), entries.end());
  for (const fs::path& p : entries) {
    std::string name = p.filename().string();
    if (fs::is_directory(p)) {
      ASSERT_TRUE(tree.MakeISODirectory(name, 0, 1600000000)) << name;
      ASSERT_TRUE(tree.ChangeISODirectory(tree.GetISONewFileDirectoryName()));
      AddFolder(tree, p);
      ASSERT_TRUE(tree.ChangeISODirectory(".."));
    } else {
      ASSERT_TRUE(tree.AddISOFile(name, p.string())) << name;
    }
  }
}

// The tree as a reader should extract it: names of one descriptor's tree, contents of the sources.
void MakeExpected(const IsoDirectory& dir, const fs::path& out, bool short_names) {
  fs::create_directories(out);
  for (const auto& [key, node] : dir.entries) {
    std::string name = short_names ? node->short_name : node->name;
    // Readers take primary-tree names as ASCII; the CP932 ones are checked apart.
    if (short_names && name != NameToCp932(name)) continue;
    if (node->is_directory) {
      MakeExpected(*node->directory, out / name, short_names);
    } else {
      fs::copy_file(node->source, out / name);
    }
  }
}

uint32_t WriteImage(IsoImageStream& s, const fs::path& image, const std::string& label) {
  uint32_t volume = s.BuildDataTrack(label);
  std::ofstream out(image, std::ios::binary);
  uint8_t block[2048];
  for (uint32_t i = 0; i < volume; ++i) {
    EXPECT_TRUE(s.ReadDataBlock(block));
    out.write(reinterpret_cast<const char*>(block), sizeof block);
  }
  s.EndDataTrack();
  return volume;
}

void ExpectSameTree(const fs::path& expected, const fs::path& actual, const std::string& what) {
  std::string diff;
  int rc = testing::RunCommand("diff -r " + Quote(expected) + " " + Quote(actual) + " 2>&1", &diff);
  EXPECT_EQ(rc, 0) << what << "\n" << diff;
}

class ReaderCheck : public ::testing::TestWithParam<int> {};

TEST_P(ReaderCheck, ToolsAgreeWithTheLayout) {
  const int variant = GetParam();
  for (const char* tool : {"isoinfo", "xorriso", "bsdtar", "7zz", "diff"}) ASSERT_TRUE(testing::RequireTool(tool));
  testing::ScratchDir scratch;
  const fs::path src = scratch / "src";
  MakeSources(src, variant);
  IsoImageStream s;
  ASSERT_TRUE(s.InitISOFS(variant));
  AddFolder(s, src);
  const bool joliet = variant & 0x10;
  const fs::path image = scratch / "image.iso";
  uint32_t volume = WriteImage(s, image, "TESTDISC");
  ASSERT_GT(volume, 300u);
  EXPECT_EQ(fs::file_size(image), uint64_t{volume} * 2048);

  std::string out;
  ASSERT_EQ(testing::RunCommand("isoinfo -d -i " + Quote(image) + " 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("Volume size is: " + std::to_string(volume)), std::string::npos) << out;
  EXPECT_NE(out.find("Volume id: TESTDISC"), std::string::npos) << out;
  EXPECT_EQ(out.find("Joliet with UCS level 3 found") != std::string::npos, joliet) << out;

  // isoinfo -l lists every directory with the sizes of the records.
  out.clear();
  ASSERT_EQ(testing::RunCommand(Cat({"LC_ALL=C.UTF-8 isoinfo -l ", joliet ? "-J " : "", "-i ", Quote(image), " 2>&1"}), &out), 0);
  const std::string odd_name = joliet ? "odd.bin" : (variant == 3 ? "ODD.BIN" : variant == 4 ? "odd.bin" : "ODD.BIN");
  EXPECT_NE(out.find(" 2049 "), std::string::npos) << out;
  EXPECT_NE(out.find(odd_name), std::string::npos) << out;
  // isoinfo prints a "_" for each Joliet character outside Latin-1.
  if (joliet) {
    EXPECT_NE(out.find("________.txt;1"), std::string::npos) << out;
  }
  // Dates: the sources' modification time, local time.
  EXPECT_NE(out.find("2049 Mar  4 2021"), std::string::npos) << out;

  out.clear();
  ASSERT_EQ(testing::RunCommand("isoinfo -p -i " + Quote(image) + " 2>&1", &out), 0);
  EXPECT_NE(out.find(variant == 4 ? "level3" : joliet ? "LEVEL2" : "LEVEL3"), std::string::npos) << out;

  // xorriso extracts the primary tree, and with -joliet on the Joliet tree.
  // xorriso extracts the tree plain and with -joliet on (the Joliet tree when
  // there is one), and under Joliet variants the primary tree of 8.3 names.
  struct Pass {
    std::string option;
    bool short_names;
  };
  std::vector<Pass> passes = {{"", false}, {"-joliet on", false}};
  if (joliet) passes.push_back({"-read_fs ecma119", true});
  for (const Pass& pass : passes) {
    const fs::path expected = scratch / (pass.short_names ? "expected-short" : "expected");
    const fs::path extracted = scratch / Cat({"xorriso", pass.option.empty() ? "-plain" : pass.option});
    if (!fs::exists(expected)) MakeExpected(*s.Root().directory, expected, pass.short_names);
    out.clear();
    int rc = testing::RunCommand(Cat({"xorriso -abort_on NEVER -report_about WARNING ", pass.option,
                                      " -osirrox on -indev ", Quote(image), " -extract / ", Quote(extracted), " 2>&1"}),
                                 &out);
    EXPECT_EQ(rc, 0) << out;
    std::string checked = out;
    if (pass.short_names) {
      // The CP932 names of the primary tree are no ASCII to xorriso; it warns and mangles them.
      size_t at;
      while ((at = checked.find("WARNING : Cannot convert from charset ASCII")) != std::string::npos) checked.erase(at, 9);
    }
    for (const char* bad : {"WARNING", "SORRY", "FAILURE"}) {
      EXPECT_EQ(checked.find(bad), std::string::npos) << pass.option << "\n" << out;
    }
    std::string diff;
    // Only the mangled names of the CP932 entries begin with "_" in the primary tree.
    rc = testing::RunCommand(
        Cat({"diff -r ", pass.short_names ? "-x '_*' " : "", Quote(expected), " ", Quote(extracted), " 2>&1"}), &diff);
    EXPECT_EQ(rc, 0) << "xorriso " << pass.option << "\n" << diff;
    const std::string odd = pass.short_names || variant <= 3 ? "ODD.BIN" : "odd.bin";
    EXPECT_EQ(fs::last_write_time(extracted / odd), fs::last_write_time(src / "odd.bin")) << pass.option;
  }
  if (joliet) {
    // The primary tree holds the 8.3 name of the Japanese file in CP932.
    out.clear();
    ASSERT_EQ(testing::RunCommand(Cat({"isoinfo -l -i ", Quote(image)}), &out), 0);
    EXPECT_NE(out.find(NameToCp932("日本語~1.TXT;1")), std::string::npos);
  }

  // bsdtar reads Joliet when it is there.
  const fs::path tar_dir = scratch / "bsdtar";
  fs::create_directories(tar_dir);
  out.clear();
  EXPECT_EQ(testing::RunCommand("bsdtar -xf " + Quote(image) + " -C " + Quote(tar_dir) + " 2>&1", &out), 0) << out;
  ExpectSameTree(scratch / "expected", tar_dir, "bsdtar");

  out.clear();
  EXPECT_EQ(testing::RunCommand("7zz t " + Quote(image) + " 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("Everything is Ok"), std::string::npos) << out;

  // 7-Zip lists every file with its size.
  std::map<std::string, uint64_t> want;
  for (const auto& e : fs::recursive_directory_iterator(scratch / "expected")) {
    if (e.is_regular_file()) want[fs::relative(e.path(), scratch / "expected").string()] = e.file_size();
  }
  out.clear();
  ASSERT_EQ(testing::RunCommand(Cat({"7zz l -slt ", Quote(image)}), &out), 0) << out;
  std::map<std::string, uint64_t> listed;
  std::string path;
  bool folder = false;
  std::istringstream lines(out.substr(out.find("----------")));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Path = ", 0) == 0) path = line.substr(7);
    if (line.rfind("Folder = ", 0) == 0) folder = line == "Folder = +";
    if (line.rfind("Size = ", 0) == 0 && !folder) listed[path] = std::stoull(line.substr(7));
  }
  EXPECT_EQ(listed, want);
}

TEST(ReaderCheckDummy, DummyFilesListWithTheirSizeAndNoData) {
  ASSERT_TRUE(testing::RequireTool("isoinfo"));
  testing::ScratchDir scratch;
  IsoImageStream s;
  ASSERT_TRUE(s.InitISOFS(16));
  ASSERT_TRUE(s.AddISODummyFile("placeholder.bin", 0, 1234567, static_cast<int32_t>(kSourceTime)));
  ASSERT_TRUE(s.AddISODummyFile("secret.bin", 2, 42, static_cast<int32_t>(kSourceTime)));
  const fs::path image = scratch / "dummy.iso";
  uint32_t volume = WriteImage(s, image, "DUMMY");
  EXPECT_EQ(volume, 300u);
  for (const char* option : {"", "-J "}) {
    std::string out;
    ASSERT_EQ(testing::RunCommand(Cat({"isoinfo -l ", option, "-i ", Quote(image), " 2>&1"}), &out), 0) << out;
    EXPECT_NE(out.find("1234567 Mar  4 2021 [     -1 00]"), std::string::npos) << out;
    EXPECT_NE(out.find("42 Mar  4 2021 [     -1 01]"), std::string::npos) << out;
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, ReaderCheck, ::testing::Values(0, 1, 2, 3, 4, 16, 17));

}  // namespace
}  // namespace sorvel
