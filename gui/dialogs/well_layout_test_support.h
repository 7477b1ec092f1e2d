// A mastering layout for the layout dialog tests: files in folders (Japanese
// names included) and, when asked, two audio tracks with 2-second pregaps.
#pragma once

#include <gtest/gtest.h>

#include <QDateTime>
#include <filesystem>
#include <memory>
#include <string>

#include "gui/foundation/wave_header.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/tazol.h"
#include "gui/model/model_test_util.h"
#include "testing/file_bytes.h"
#include "testing/test_paths.h"

namespace sorvel::testing {

class LayoutSource {
 public:
  // Builds the tree below `dir` and a layout of it labelled `label`.
  LayoutSource(const std::filesystem::path& dir, const QString& label) : tree(dir / "tree") {
    std::filesystem::create_directories(tree / "docs" / "深い");
    WriteFileBytes(tree / "readme.txt", "hello\r\n");
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    WriteFileBytes(tree / "docs" / "big.bin", big);
    WriteFileBytes(tree / "docs" / "深い" / "日本語.txt", "テキスト");
    layout = std::make_unique<Tazol>();
    EXPECT_TRUE(layout->InitISOFS(SORVEL_JISX0606_JOLIET));
    layout->VolumeLabel = label;
    Add("readme.txt", tree / "readme.txt");
    MakeDir("docs");
    Add("big.bin", tree / "docs" / "big.bin");
    MakeDir("深い");
    Add("日本語.txt", tree / "docs" / "深い" / "日本語.txt");
    EXPECT_TRUE(layout->ChangeISODirectory(QStringLiteral("\\")));
    wave_dir = dir;
  }

  // Two audio tracks of `sectors1` and `sectors2` sectors after the data.
  void AddTracks(int sectors1 = 400, int sectors2 = 350) {
    pcm1 = Pcm(sectors1, 1);
    pcm2 = Pcm(sectors2, 2);
    WriteWave(wave_dir / "one.wav", pcm1);
    WriteWave(wave_dir / "two.wav", pcm2);
    EXPECT_TRUE(layout->AddTrack(Q(wave_dir / "one.wav"), 150, 0, 0));
    EXPECT_TRUE(layout->AddTrack(Q(wave_dir / "two.wav"), 150, 0, 0));
  }

  static std::string Pcm(int sectors, int seed) {
    std::string pcm(static_cast<size_t>(sectors) * 2352, '\0');
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<char>((i * 31 + seed) & 0xFF);
    return pcm;
  }

  std::filesystem::path tree;
  std::filesystem::path wave_dir;
  std::unique_ptr<Tazol> layout;
  std::string pcm1;
  std::string pcm2;

 private:
  static void WriteWave(const std::filesystem::path& path, const std::string& pcm) {
    const auto header = MakeWaveHeader(static_cast<uint32_t>(pcm.size()), 44100, 16, true);
    ASSERT_TRUE(header.has_value());
    WriteFileBytes(path, std::string(header->data(), header->size()) + pcm);
  }
  void Add(const char* name, const std::filesystem::path& source) {
    QString n = QString::fromUtf8(name);
    EXPECT_TRUE(layout->AddISOFile(n, Q(source))) << name;
  }
  void MakeDir(const char* name) {
    QString n = QString::fromUtf8(name);
    EXPECT_TRUE(layout->MakeISODirectory(n, 0, QDateTime::currentDateTime()));
    EXPECT_TRUE(layout->ChangeISODirectory(n));
  }
};

}  // namespace sorvel::testing
