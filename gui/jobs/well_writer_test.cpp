#include "gui/jobs/well_writer.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTimer>

#include "gui/foundation/wave_header.h"
#include "gui/jobs/disc_reader.h"
#include "gui/jobs/disc_verifier.h"
#include "gui/jobs/job_test_rig.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/tazol.h"
#include "gui/model/toc_information.h"
#include "testing/exfat_folder.h"
#include "testing/file_bytes.h"
#include "testing/file_size_limit.h"
#include "testing/kestrow_standalone.h"
#include "testing/stand_in_file.h"
#include "testing/gui/fake_forms.h"

namespace sorvel {
namespace {

using testing::JobRecorder;
using testing::JobRig;
using testing::Q;
using testing::ReadFileBytes;
using testing::RequireTool;
using testing::RunCommand;
using testing::ScratchDir;
using testing::WriteFileBytes;

std::string Pcm(int sectors, int seed) {
  std::string pcm(static_cast<size_t>(sectors) * 2352, '\0');
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<char>((i * 31 + seed) & 0xFF);
  return pcm;
}

void WriteWave(const std::filesystem::path& path, const std::string& pcm) {
  const auto header = MakeWaveHeader(static_cast<uint32_t>(pcm.size()), 44100, 16, true);
  ASSERT_TRUE(header.has_value());
  WriteFileBytes(path, std::string(header->data(), header->size()) + pcm);
}

// A layout of files in folders (Japanese names included), optionally with two audio tracks.
class WellWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEngineLibraryFolder(QFileInfo(Q(testing::BuiltLibraryPath("libtazol.so"))).path());
    tree_ = dir_.path() / "tree";
    std::filesystem::create_directories(tree_ / "docs" / "深い");
    WriteFileBytes(tree_ / "readme.txt", "hello\r\n");
    WriteFileBytes(tree_ / "docs" / "big.bin", std::string(300000, '\x42'));
    WriteFileBytes(tree_ / "docs" / "深い" / "日本語.txt", "テキスト");
    image_ = std::make_unique<Tazol>();
    ASSERT_TRUE(image_->InitISOFS(SORVEL_JISX0606_JOLIET));
    image_->VolumeLabel = QStringLiteral("WELL");
    Add("readme.txt", tree_ / "readme.txt");
    MakeDir("docs");
    Add("big.bin", tree_ / "docs" / "big.bin");
    MakeDir("深い");
    Add("日本語.txt", tree_ / "docs" / "深い" / "日本語.txt");
    ASSERT_TRUE(image_->ChangeISODirectory(QStringLiteral("\\")));
  }
  void TearDown() override {
    image_.reset();
    SetEngineLibraryFolder(QString());
  }
  void Add(const char* name, const std::filesystem::path& source) {
    QString n = QString::fromUtf8(name);
    ASSERT_TRUE(image_->AddISOFile(n, Q(source))) << name;
  }
  void MakeDir(const char* name) {
    QString n = QString::fromUtf8(name);
    ASSERT_TRUE(image_->MakeISODirectory(n, 0, QDateTime::currentDateTime()));
    ASSERT_TRUE(image_->ChangeISODirectory(n));
  }
  void AddTracks() {
    WriteWave(dir_.path() / "one.wav", pcm1_);
    WriteWave(dir_.path() / "two.wav", pcm2_);
    ASSERT_TRUE(image_->AddTrack(Q(dir_.path() / "one.wav"), 150, 0, 0));
    ASSERT_TRUE(image_->AddTrack(Q(dir_.path() / "two.wav"), 150, 0, 0));
    image_->SetEnabledTrackText(true);
    image_->SetTrackText(2, 0, 0, QStringLiteral("First Song"));
    image_->SetTrackText(3, 0, 0, QStringLiteral("Second Song"));
  }

  ScratchDir dir_;
  std::filesystem::path tree_;
  std::unique_ptr<Tazol> image_;
  std::string pcm1_ = Pcm(400, 1);
  std::string pcm2_ = Pcm(350, 2);
};

TEST_F(WellWriterTest, DataLayoutToFilesIsAnIsoThatToolsExtract) {
  for (const char* tool : {"isoinfo", "xorriso", "diff"}) ASSERT_TRUE(RequireTool(tool));
  WellWriter writer;
  JobRecorder events(writer);
  ASSERT_TRUE(writer.StartWriteFile(Q(dir_.path() / "out" / "Disc.iso"), *image_) == false);  // no such folder
  EXPECT_TRUE(events.WithPrefix("2:ファイルが開けません - ").size() == 1);
  std::filesystem::create_directories(dir_.path() / "out");
  ASSERT_TRUE(writer.StartWriteFile(Q(dir_.path() / "out" / "Disc.iso"), *image_));
  const auto img = dir_.path() / "out" / "Disc.img";
  EXPECT_EQ(std::filesystem::file_size(img) % 2048, 0u);
  std::string out;
  EXPECT_EQ(RunCommand("isoinfo -d -i '" + img.string() + "'", &out), 0);
  EXPECT_NE(out.find("Volume id: WELL"), std::string::npos) << out;
  ASSERT_EQ(RunCommand("xorriso -osirrox on -indev '" + img.string() + "' -extract / '" +
                       (dir_.path() / "extracted").string() + "' 2>&1", &out), 0) << out;
  EXPECT_EQ(RunCommand("diff -r '" + tree_.string() + "' '" + (dir_.path() / "extracted").string() + "' 2>&1", &out), 0)
      << out;
  const std::string cue = ReadFileBytes(dir_.path() / "out" / "Disc.cue");
  EXPECT_NE(cue.find("MODE1/2048"), std::string::npos) << cue;
}

TEST_F(WellWriterTest, MixedLayoutToFilesAndToADiscAreTheSame) {
  for (const char* tool : {"cdrdao", "cd-info", "bchunk"}) ASSERT_TRUE(RequireTool(tool));
  AddTracks();
  WellWriter writer;
  JobRecorder events(writer);
  ASSERT_TRUE(writer.StartWriteFile(Q(dir_.path() / "Mixed"), *image_)) << events.lines.join("\n").toStdString();
  const auto img = dir_.path() / "Mixed.img";
  EXPECT_EQ(std::filesystem::file_size(img) % 2352, 0u);
  std::string out;
  EXPECT_EQ(RunCommand("cd '" + dir_.path().string() + "' && cdrdao show-toc Mixed.cue 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("TRACK  3  Mode AUDIO"), std::string::npos) << out;
  EXPECT_NE(out.find("PREGAP 00:02:00(   150)"), std::string::npos) << out;
  std::filesystem::create_symlink("Mixed.img", dir_.path() / "Mixed.bin");  // cd-info's name for the image
  EXPECT_EQ(RunCommand("cd '" + dir_.path().string() + "' && cd-info --no-device-info --no-cddb --cue-file Mixed.cue 2>&1", &out), 0)
      << out;
  EXPECT_NE(out.find("Second Song"), std::string::npos) << out;
  ASSERT_EQ(RunCommand("cd '" + dir_.path().string() + "' && bchunk -w Mixed.img Mixed.cue part 2>&1", &out), 0) << out;
  // bchunk ends a track at the next one's INDEX 01: the last track is exactly its samples.
  EXPECT_TRUE(ReadFileBytes(dir_.path() / "part03.wav").substr(44) == pcm2_);
  EXPECT_TRUE(ReadFileBytes(dir_.path() / "part02.wav").substr(44, pcm1_.size()) == pcm1_);

  // The same layout written to a disc, verified, and read back.
  JobRig rig(dir_, "medium=cd-r");
  ASSERT_TRUE(rig.opened());
  rig.ChangeSettings([](DeviceSetting& s) {
    s.CDWriteCommand = CCC_DAO_RAW96;
    s.ForceEject = false;
  });
  DiscVerifier verifier;
  events.lines.clear();
  ASSERT_TRUE(writer.StartWrite(rig.device(), *image_, &verifier)) << events.lines.join("\n").toStdString();
  EXPECT_FALSE(events.Has("1:警告：読込側にCD-TEXT情報が存在しますが、指定の書き込みコマンドでは破棄されます。"));
  EXPECT_TRUE(verifier.StartVerify(rig.device(), writer.LastTOC()));
  DiscReader reader;
  ASSERT_TRUE(reader.StartReadCompatible(rig.device(), Q(dir_.path() / "back")));
  const std::string back = ReadFileBytes(dir_.path() / "back.img");
  const std::string file = ReadFileBytes(img);
  ASSERT_EQ(back.size(), file.size());
  // Each layout stamps its volume descriptors and directory records with the
  // time it was made, so the file-system area before the first file's data may
  // differ by a second; from the first file on, every sector is the same.
  size_t first_file = file.size() / 2352;
  for (size_t lba = 0; lba < file.size() / 2352; ++lba) {
    const std::string user = file.substr(lba * 2352 + 16, 8);
    if (user.rfind("hello\r\n", 0) == 0 || user == std::string(8, '\x42') || user.rfind("テキ", 0) == 0) {
      first_file = lba;
      break;
    }
  }
  ASSERT_LT(first_file, 60u);
  for (size_t lba = 0; lba < file.size() / 2352; ++lba) {
    if (lba < first_file) {
      EXPECT_TRUE(back.substr(lba * 2352, 16) == file.substr(lba * 2352, 16)) << "sector " << lba;  // sync and header
    } else {
      ASSERT_TRUE(back.substr(lba * 2352, 2352) == file.substr(lba * 2352, 2352)) << "sector " << lba;
    }
  }
}

TEST_F(WellWriterTest, RefusalsEmptyLayoutAudioOnDvdAndCdTextWarning) {
  WellWriter writer;
  JobRecorder events(writer);
  {
    Tazol empty;
    ASSERT_TRUE(empty.InitISOFS(SORVEL_JISX0606_JOLIET));
    JobRig rig(dir_, "medium=cd-r");
    EXPECT_FALSE(writer.StartWrite(rig.device(), empty, nullptr));
    EXPECT_TRUE(events.Has("2:書き込みしようとするからには、内容物を配置しなければ成りません。"));
    EXPECT_FALSE(events.Has("0:扉を閉鎖しました。"));
  }
  AddTracks();
  {
    ScratchDir other;
    JobRig rig(other, "medium=dvd-r");
    events.lines.clear();
    EXPECT_FALSE(writer.StartWrite(rig.device(), *image_, nullptr));
    EXPECT_TRUE(events.Has("2:DVDに音楽トラックを書き込もうとしないでください。"));
  }
  {
    ScratchDir other;
    JobRig rig(other, "medium=cd-r");
    rig.ChangeSettings([](DeviceSetting& s) {
      s.CDWriteCommand = CCC_SAO;
      s.ErrorFirstPregap = true;
    });
    events.lines.clear();
    EXPECT_TRUE(writer.StartWrite(rig.device(), *image_, nullptr)) << events.lines.join("\n").toStdString();
    EXPECT_TRUE(events.Has("1:警告：読込側にCD-TEXT情報が存在しますが、指定の書き込みコマンドでは破棄されます。"));
    EXPECT_TRUE(events.Has("0:Session=1, Track=1, Index=0 From -150 to -1 (ErrorData)"));
  }
}

// CD-Text whose block needs more packs than a block numbers (256): refused
// before the disc is touched and before an image is written, naming the
// block, its packs and the limit. Once the engine left the block out and the
// write and its verify reported success.
TEST_F(WellWriterTest, CdTextBlockBeyondItsPacksIsRefusedBeforeTheDisc) {
  AddTracks();
  QString kanji;
  for (int i = 0; i < 3885; ++i) kanji += QStringLiteral("歌");
  const struct {
    const char* name;
    int32_t language;
    QString title;  // the disc's, beside the tracks' English titles
    QString line;
  } cases[] = {
      // 3,881 characters of two bytes and their terminator, a blank and its
      // terminator for each of the three tracks: 7,776 bytes, 648 packs and 3.
      {"japanese", 1, kanji.left(3881),
       QStringLiteral("2:CD-TEXTの日本語ブロックのパックが多すぎます (651 パック、1 ブロックに書き込めるのは 256 パックまでです)。")},
      // 3,100 characters, the tracks' titles and the data track's blank: 3,129 bytes, 261 packs and 3.
      {"english", 0, QString(3100, u'e'),
       QStringLiteral("2:CD-TEXTの英語ブロックのパックが多すぎます (264 パック、1 ブロックに書き込めるのは 256 パックまでです)。")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    image_->SetTrackText(0, c.language, 0, c.title);
    WellWriter writer;
    JobRecorder events(writer);
    ScratchDir other;
    JobRig rig(other, "medium=cd-r");
    rig.ChangeSettings([](DeviceSetting& s) { s.CDWriteCommand = CCC_DAO_RAW96; });
    rig.drive().hooks().ClearLog();
    EXPECT_FALSE(writer.StartWrite(rig.device(), *image_, nullptr));
    EXPECT_TRUE(events.Has(c.line)) << events.lines.join("\n").toStdString();
    EXPECT_FALSE(events.Has("0:扉を閉鎖しました。"));
    EXPECT_TRUE(rig.drive().Commands(0x2A).empty());
    EXPECT_TRUE(rig.device().IsMediaWritable());
    events.lines.clear();
    const QString base = Q(other.path() / "image");
    EXPECT_FALSE(writer.StartWriteFile(base + QStringLiteral(".img"), *image_));
    EXPECT_TRUE(events.Has(c.line)) << events.lines.join("\n").toStdString();
    EXPECT_FALSE(QFile::exists(base + QStringLiteral(".img")));
    EXPECT_FALSE(QFile::exists(base + QStringLiteral(".cue")));
    image_->SetTrackText(0, c.language, 0, QString());
  }
  // At the limit the texts burn.
  image_->SetTrackText(0, 1, 0, kanji.left(1511));
  EXPECT_EQ(image_->CdTextPacks(1), 256);
  ScratchDir other;
  JobRig rig(other, "medium=cd-r");
  rig.ChangeSettings([](DeviceSetting& s) { s.CDWriteCommand = CCC_DAO_RAW96; });
  WellWriter writer;
  JobRecorder events(writer);
  EXPECT_TRUE(writer.StartWrite(rig.device(), *image_, nullptr)) << events.lines.join("\n").toStdString();
  EXPECT_EQ(writer.LastTOC()->CDTextCount(), 256 + 6);  // and the English titles
}

// The layout written to a drive of a daemon that does not answer for a while
// (its process stopped): the window system runs while the write waits (the
// timer that lets the daemon go on fires meanwhile), and the write succeeds.
TEST_F(WellWriterTest, ARemoteWriteLetsTheWindowRunWhileItWaits) {
  JobRig rig(dir_, "medium=cd-r");  // the engines and the settings store
  ASSERT_TRUE(rig.opened());
  testing::KestrowStandalone daemon(dir_.path() / "daemon", "D:=emu:" + (dir_.path() / "r.state").string() + ",medium=cd-r",
                                    "D");
  ASSERT_TRUE(daemon.Start());
  Trelin remote;
  ASSERT_TRUE(remote.OpenDeviceEx(QStringLiteral("\\\\127.0.0.1:%1\\D:").arg(daemon.port())));
  WellWriter writer;
  JobRecorder events(writer);
  bool resumed_meanwhile = false;
  ASSERT_TRUE(daemon.Suspend());
  QTimer::singleShot(1000, [&] {
    resumed_meanwhile = true;
    daemon.Resume();
  });
  const bool written = writer.StartWrite(remote, *image_, nullptr);
  const bool resumed = resumed_meanwhile;
  daemon.Resume();
  EXPECT_TRUE(resumed);
  EXPECT_TRUE(written) << events.lines.join("\n").toStdString();
  remote.CloseDevice();
}

TEST_F(WellWriterTest, SourceGoneOrStopLeavesNoImageAndFailsTheDisc) {
  WellWriter writer;
  JobRecorder events(writer);
  // The big file disappears while the layout streams: the sector cannot be made.
  auto remover = QObject::connect(&writer, &DiscJob::Progress, [&](int32_t value, int32_t) {
    if (value == 1) std::filesystem::remove(tree_ / "docs" / "big.bin");
  });
  EXPECT_FALSE(writer.StartWriteFile(Q(dir_.path() / "Gone"), *image_));
  EXPECT_FALSE(events.WithPrefix("2:構造読み込み不能 LBA=").isEmpty()) << events.lines.join("\n").toStdString();
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "Gone.img"));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "Gone.cue"));

  QObject::disconnect(remover);

  // Gone before the job starts: refused with its name, no image begun.
  events.lines.clear();
  EXPECT_FALSE(writer.StartWriteFile(Q(dir_.path() / "Again"), *image_));
  EXPECT_TRUE(events.Has(QStringLiteral("2:ファイル %1 が見つからないか、通常のファイルではありません。")
                             .arg(Q(tree_ / "docs" / "big.bin"))))
      << events.lines.join("\n").toStdString();
  EXPECT_TRUE(events.WithPrefix("2:構造読み込み不能").isEmpty());
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "Again.img"));

  WriteFileBytes(tree_ / "docs" / "big.bin", std::string(300000, '\x42'));
  auto stopper = QObject::connect(&writer, &DiscJob::Progress, [&](int32_t value, int32_t) {
    if (value == 5) writer.StopWrite();
  });
  EXPECT_FALSE(writer.StartWriteFile(Q(dir_.path() / "Stop"), *image_));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "Stop.img"));
  QObject::disconnect(stopper);
}

// A disk that fills up while the image is written: the job reports the
// image it could not write, fails and leaves no image or sheet, whether the
// failure shows while the sectors stream (a big layout) or only when the
// last block is written (a layout smaller than one block).
TEST_F(WellWriterTest, ImageThatCannotBeWrittenFailsTheJob) {
  for (rlim_t limit : {rlim_t{64 * 1024}, rlim_t{3 << 20}}) {
    if (limit > (1 << 20)) {
      WriteFileBytes(tree_ / "huge.bin", std::string(12 << 20, '\x17'));
      Add("huge.bin", tree_ / "huge.bin");
    }
    WellWriter writer;
    JobRecorder events(writer);
    bool result;
    {
      testing::FileSizeLimit full(limit);
      result = writer.StartWriteFile(Q(dir_.path() / "Full"), *image_);
    }
    const std::string log = events.lines.join("\n").toStdString();
    EXPECT_FALSE(result) << log;
    EXPECT_EQ(events.WithPrefix("2:イメージをファイルに書き込めません - " + Q(dir_.path() / "Full.img")).size(), 1)
        << log;
    EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 ")) << log;
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "Full.img"));
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "Full.cue"));

    // Over an earlier save, the same failure leaves it as it was.
    for (const char* ext : {".img", ".cue", ".cdt"}) WriteFileBytes(dir_.path() / (std::string("Kept") + ext), ext);
    {
      testing::FileSizeLimit full(limit);
      EXPECT_FALSE(writer.StartWriteFile(Q(dir_.path() / "Kept"), *image_));
    }
    for (const char* ext : {".img", ".cue", ".cdt"}) EXPECT_EQ(ReadFileBytes(dir_.path() / (std::string("Kept") + ext)), ext);
  }
}

// A FIFO, device or folder at the image's or the sheet's name, or a
// write-protected earlier image: told at once, before a sector is made, and
// left alone; so are the other files of the earlier save.
TEST_F(WellWriterTest, ForeignOrProtectedFilesAtTheNamesAreToldAtOnce) {
  struct Case {
    const char* ext;
    testing::StandIn stand_in;
    const char* line;
  };
  for (const Case& c : {Case{".cue", testing::StandIn::kFifo, "2:ファイル %1 は通常のファイルではありません。"},
                        Case{".cdt", testing::StandIn::kFifo, "2:ファイル %1 は通常のファイルではありません。"},
                        Case{".img", testing::StandIn::kZeroDevice, "2:ファイル %1 は通常のファイルではありません。"},
                        Case{".img", testing::StandIn::kRegular, "2:ファイルが開けません - %1"}}) {
    ScratchDir out;
    for (const char* ext : {".img", ".cue", ".cdt"}) WriteFileBytes(out / (std::string("L") + ext), ext);
    const std::filesystem::path taken = out / (std::string("L") + c.ext);
    std::filesystem::remove(taken);
    testing::StandInFile stand_in(taken, c.stand_in, c.ext);
    if (c.stand_in == testing::StandIn::kRegular) std::filesystem::permissions(taken, std::filesystem::perms(0444));
    WellWriter writer;
    JobRecorder events(writer);
    EXPECT_FALSE(writer.StartWriteFile(Q(out / "L"), *image_));
    EXPECT_FALSE(stand_in.Blocked());
    EXPECT_TRUE(events.Has(QString::fromUtf8(c.line).arg(Q(taken)))) << events.lines.join("\n").toStdString();
    EXPECT_EQ(events.progress, 0);
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(out.path())) {
      ++files;
      if (entry.is_regular_file() && entry.path() != taken) {
        EXPECT_EQ(ReadFileBytes(entry.path()), entry.path().extension().string());
      }
    }
    EXPECT_EQ(files, 3u);
  }
}

// A layout saved under a name its sheet cannot hold (a double quote, a line
// break) is refused before anything is written, with the image's name.
TEST_F(WellWriterTest, NameASheetCannotHoldIsRefusedAtTheStart) {
  for (const char* name : {"say \"hi\"", "two\nlines"}) {
    ScratchDir out;
    WellWriter writer;
    JobRecorder events(writer);
    EXPECT_FALSE(writer.StartWriteFile(Q(out / name), *image_)) << name;
    EXPECT_TRUE(events.Has(QStringLiteral("2:ファイル %1 の名前はCUEシートに記述できません。")
                               .arg(Q(out / (std::string(name) + ".img")))))
        << events.lines.join("\n").toStdString();
    EXPECT_EQ(events.progress, 0) << name;
    EXPECT_TRUE(std::filesystem::is_empty(out.path())) << name;
  }
}

// On exFAT (no hard links, no RENAME_NOREPLACE) a second layout save into
// a name replaces the first one's image and sheet.
TEST_F(WellWriterTest, SecondSaveIntoAnExfatFolderReplacesTheFirst) {
  testing::ExfatFolder exfat;
  ASSERT_TRUE(exfat.mounted());
  WellWriter writer;
  JobRecorder events(writer);
  ASSERT_TRUE(writer.StartWriteFile(Q(exfat / "Disc.iso"), *image_)) << events.lines.join("\n").toStdString();
  const std::string first = ReadFileBytes(exfat / "Disc.img");
  Add("more.txt", tree_ / "readme.txt");
  ASSERT_TRUE(writer.StartWriteFile(Q(exfat / "Disc.iso"), *image_)) << events.lines.join("\n").toStdString();
  EXPECT_NE(ReadFileBytes(exfat / "Disc.img"), first);
  std::string out;
  ASSERT_TRUE(RequireTool("isoinfo"));
  EXPECT_EQ(RunCommand("isoinfo -f -i '" + (exfat / "Disc.img").string() + "'", &out), 0);
  EXPECT_NE(out.find("MORE.TXT"), std::string::npos) << out;
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(exfat.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Disc.cue", "Disc.img"}));
}

}  // namespace
}  // namespace sorvel
