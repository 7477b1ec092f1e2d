// The track pane with the real mastering engine: the track limit with and
// without a data area, decoded MP3 files in the temporary folder, playlists
// that nest, loop or name a FIFO, moves, removal of the data track, clearing,
// the gauge and the rows, and the track and album dialogs applied to the layout.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>

#include "gui/controls/circle_graph.h"
#include "gui/controls/color.h"
#include "gui/controls/numeric_up_down.h"
#include "gui/dialogs/property_iso_file.h"
#include "gui/dialogs/property_track.h"
#include "gui/foundation/regular_file.h"
#include "gui/jobs/acm_decoder.h"
#include "gui/workspace/main_form_fixture.h"
#include "platform/text_encoding.h"
#include "testing/file_bytes.h"
#include "testing/gui/modal_answer.h"
#include "testing/gui/mp3_fixture.h"
#include "testing/stand_in_file.h"

namespace sorvel {
namespace {

const QString kTrackLimit = QStringLiteral("１００以上のトラックは作成できません。");

class TrackListTest : public testing::MainFormTest {
 protected:
  MainForm& OpenWithTemp(const std::string& media = std::string()) {
    std::filesystem::create_directories(Temp());
    std::string ini = "[PATH]\r\nTEMP=" + Temp().string() + "\r\n";
    if (!media.empty()) ini = "[DISCCAPACITY]\r\nMedia1=" + media + "\r\n" + ini;
    return Open(ini);
  }
  std::filesystem::path Temp() const { return scratch_ / "temp"; }
  // The message of a file that is no audio file the engine takes.
  static QString Unsupported(const QString& path) {
    return QStringLiteral("音楽ファイル ") + path +
           QStringLiteral(" は開けないか、または未対応の形式です。\r\n"
                          "（44.1KhzでサンプリングされたWAVファイル、または44.1KHzに変換可能なMP3ファイルのみ対応）");
  }

  void AddDataArea() {
    Write(Host("data/readme.txt"), "hello");
    form_->AddPathToLayout(Q(Host("data")));
    Pump();
    ASSERT_EQ(form_->lsvTracks()->topLevelItemCount(), 1);
  }

  // Audio tracks titled "T1".."Tn" in English, each from its own WAV.
  void AddTitledTracks(int n) {
    for (int i = 1; i <= n; ++i) {
      const QString name = QStringLiteral("w%1.wav").arg(i);
      ASSERT_TRUE(form_->AddAudioFile(Q(Wave(Host(name.toStdString())))));
      form_->mobjImageFile().SetTrackText(form_->mobjImageFile().GetTrackCount(), 0, 0,
                                          QStringLiteral("T%1").arg(i));
    }
    Pump();
  }

  void ClearTrackList(MainForm& form) {
    form.ClearTracks();
    Pump();
  }

  void Select(std::initializer_list<int> rows) {
    QTreeWidget* list = form_->lsvTracks();
    list->clearSelection();
    bool first = true;
    for (int row : rows) {
      QTreeWidgetItem* item = list->topLevelItem(row - 1);
      ASSERT_NE(item, nullptr) << row;
      if (first) list->setCurrentItem(item);
      first = false;
      item->setSelected(true);
    }
  }
  QList<int> SelectedRows() const {
    QList<int> rows;
    for (int i = 0; i < form_->lsvTracks()->topLevelItemCount(); ++i)
      if (form_->lsvTracks()->topLevelItem(i)->isSelected()) rows << i + 1;
    return rows;
  }
  QStringList Titles() const {
    QStringList titles;
    for (int i = 0; i < form_->lsvTracks()->topLevelItemCount(); ++i)
      titles << form_->lsvTracks()->topLevelItem(i)->text(1);
    return titles;
  }
  QStringList Sources() const {
    QStringList sources;
    for (int i = 0; i < form_->lsvTracks()->topLevelItemCount(); ++i)
      sources << form_->lsvTracks()->topLevelItem(i)->text(3);
    return sources;
  }
  QStringList TempFiles() const {
    QStringList names;
    for (const auto& entry : std::filesystem::directory_iterator(Temp()))
      names << QString::fromStdString(entry.path().filename().string());
    names.sort();
    return names;
  }
};

class TrackLimitTest : public TrackListTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TrackLimitTest, NinetyNineTracksTheDataTrackIncluded) {
  const bool with_data = GetParam();
  MainForm& form = OpenWithTemp();
  if (with_data) AddDataArea();
  const int audio = with_data ? 98 : 99;
  const auto wave = Wave(Host("one.wav"), 1);
  for (int i = 0; i < audio; ++i) ASSERT_TRUE(form.AddAudioFile(Q(wave))) << i;
  EXPECT_TRUE(ui_.messages().isEmpty());
  EXPECT_EQ(form.mobjImageFile().GetTrackCount(), 99);
  // One message per refused file, before anything is opened.
  EXPECT_FALSE(form.AddAudioFile(Q(wave)));
  EXPECT_FALSE(form.AddAudioFile(Q(Host("missing.mp3"))));
  EXPECT_EQ(MessageTexts(), QStringList({kTrackLimit, kTrackLimit}));
  EXPECT_EQ(ui_.messages()[0].style, 48);
  EXPECT_EQ(ui_.messages()[0].caption, QStringLiteral("Sorvel"));
  Pump();
  EXPECT_EQ(form.lsvTracks()->topLevelItemCount(), 99);
  EXPECT_EQ(form.lsvTracks()->topLevelItem(98)->text(0), QStringLiteral("Track 99"));
}

// A playlist longer than the room left adds what fits and tells the rest in
// one message with their count: the entries of a playlist inside it read
// before the limit, and a playlist inside it past the limit as one. Its "#"
// lines are entries too: one before the limit is told as no audio file, those
// past it are counted.
TEST_P(TrackLimitTest, APlaylistPastTheLimitIsToldOnceWithTheCountLeftOut) {
  const bool with_data = GetParam();
  MainForm& form = OpenWithTemp();
  if (with_data) AddDataArea();
  const auto wave = Wave(Host("list/one.wav"), 1);
  std::string inner;
  for (int i = 0; i < 50; ++i) inner += "one.wav\r\n";
  testing::WriteFileBytes(Host("list/inner.m3u"), inner);
  std::string top = "#EXTM3U\r\n";
  for (int i = 0; i < 250; ++i) {
    if (i >= 150) top += "#EXTINF:1,Title " + std::to_string(i) + "\r\n";
    top += wave.string() + "\r\n";
    if (i == 20 || i == 200) top += "inner.m3u\r\n";
  }
  testing::WriteFileBytes(Host("list/top.m3u"), top);
  EXPECT_FALSE(form.AddAudioFile(Q(Host("list/top.m3u"))));
  EXPECT_EQ(form.mobjImageFile().GetTrackCount(), 99);
  const int left_out = 250 + 100 + 50 + 1 - (with_data ? 98 : 99);
  EXPECT_EQ(MessageTexts(),
            QStringList({Unsupported(Q(Host("list/#EXTM3U"))),
                         kTrackLimit + QStringLiteral("\r\nプレイリストの %1 個のファイルは追加されませんでした。").arg(left_out)}));
  EXPECT_EQ(ui_.messages()[1].style, 48);
  // A playlist given when the list is already full counts all of its entries.
  ui_.Clear();
  EXPECT_FALSE(form.AddAudioFile(Q(Host("list/inner.m3u"))));
  EXPECT_EQ(MessageTexts(), QStringList{kTrackLimit + QStringLiteral("\r\nプレイリストの 50 個のファイルは追加されませんでした。")});
  EXPECT_EQ(form.mobjImageFile().GetTrackCount(), 99);
}

INSTANTIATE_TEST_SUITE_P(DataArea, TrackLimitTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "WithData" : "WithoutData"; });

TEST_F(TrackListTest, DecodedFilesGetTheirOwnTemporaryWavesAndTagTexts) {
  std::filesystem::path encoded;
  std::filesystem::create_directories(scratch_ / "src");
  ASSERT_TRUE(testing::EncodeMp3(scratch_ / "src", "a", 44100, 2, 1.0, "-b 128", &encoded));
  const std::string mp3 = testing::ReadFileBytes(encoded);
  const std::string japanese = platform::Utf8ToCp932("曲名");
  for (const char* folder : {"one", "two", "three"}) std::filesystem::create_directories(Host(folder));
  testing::WriteFileBytes(Host("one/a.mp3"), mp3 + testing::Id3v1Tag(japanese, "", ""));
  testing::WriteFileBytes(Host("two/a.mp3"), mp3 + testing::Id3v1Tag("Song", "Band", ""));
  testing::WriteFileBytes(Host("three/a.mp3"), mp3);
  const auto wave = Wave(Host("direct.wav"));

  MainForm& form = OpenWithTemp();
  const bool added = form.AddAudioFile(Q(Host("one/a.mp3")));
  ASSERT_TRUE(added) << ui_.LastText().toStdString() << " temp files " << TempFiles().join(",").toStdString();
  ASSERT_TRUE(form.AddAudioFile(Q(Host("two/a.mp3"))));
  ASSERT_TRUE(form.AddAudioFile(Q(Host("three/a.mp3"))));
  ASSERT_TRUE(form.AddAudioFile(Q(wave)));
  Pump();
  EXPECT_TRUE(ui_.messages().isEmpty()) << MessageTexts().join(u'\n').toStdString();
  EXPECT_EQ(TempFiles(), QStringList({"1~a.mp3", "2~a.mp3", "a.mp3"}));
  EXPECT_EQ(Sources(), QStringList({"a.mp3", "1~a.mp3", "2~a.mp3", "direct.wav"}));
  EXPECT_EQ(form.mobjSourceFiles().GetData(Q(Temp() / "1~a.mp3")), Q(Host("two/a.mp3")));
  // The decoded file is a WAV the engine took: the pane shows its length.
  EXPECT_NE(form.lsvTracks()->topLevelItem(0)->text(5), QStringLiteral("00:00:00"));

  Tazol& image = form.mobjImageFile();
  EXPECT_EQ(image.GetTrackText(1, 1, 0), QStringLiteral("曲名"));
  EXPECT_EQ(image.GetTrackText(1, 0, 0), QString());
  EXPECT_EQ(image.GetTrackText(2, 0, 0), QStringLiteral("Song"));
  EXPECT_EQ(image.GetTrackText(2, 0, 1), QStringLiteral("Band"));
  EXPECT_EQ(image.GetTrackText(2, 1, 0), QString());
  EXPECT_TRUE(image.EnabledTrackText());
  EXPECT_EQ(Titles(), QStringList({"曲名", "Song", "", ""}));

  // Removing a decoded track deletes its WAV; a WAV added directly stays.
  Select({2, 4});
  ui_.QueueAnswer(kIdYes);
  form.mnuTrackRemove_Click();
  Pump();
  EXPECT_EQ(TempFiles(), QStringList({"2~a.mp3", "a.mp3"}));
  EXPECT_TRUE(std::filesystem::exists(wave));
  EXPECT_EQ(Sources(), QStringList({"a.mp3", "2~a.mp3"}));
  // Unloading the window clears the rest.
  form_.reset();
  EXPECT_TRUE(TempFiles().isEmpty());
  EXPECT_TRUE(std::filesystem::exists(wave));
}

TEST_F(TrackListTest, UnreadableAndRefusedFilesLeaveNothingBehind) {
  MainForm& form = OpenWithTemp();
  std::filesystem::create_directories(Host(""));
  testing::WriteFileBytes(Host("bad.mp3"), std::string(5000, 'x'));
  testing::WriteFileBytes(Host("bad.wav"), std::string(100, 'x'));
  std::filesystem::create_directories(Host("folder.mp3"));
  for (const char* name : {"bad.mp3", "bad.wav", "folder.mp3", "missing.wav", "missing.mp3", "sub/missing.ogg"}) {
    ui_.Clear();
    EXPECT_FALSE(form.AddAudioFile(Q(Host(name)))) << name;
    ASSERT_EQ(ui_.messages().size(), 1) << name;
    EXPECT_EQ(ui_.LastText(), Unsupported(Q(Host(name))));
  }
  EXPECT_TRUE(TempFiles().isEmpty());
  EXPECT_EQ(form.mobjImageFile().GetTrackCount(), 0);
  EXPECT_EQ(form.mobjSourceFiles().Count(), 0);
}

// A playlist line holding a NUL byte names no file: the WAV named by the part
// before it is not added, so the track list and the sources stay in step.
TEST_F(TrackListTest, ANameHoldingANulByteAddsNothing) {
  MainForm& form = OpenWithTemp();
  const auto wave = Wave(Host("nul/1.wav"));
  const std::string nul(1, '\0');
  testing::WriteFileBytes(Host("nul/list.m3u"), wave.string() + nul + "x.wav\r\n" + wave.string() + nul + ".mp3\r\n");
  EXPECT_FALSE(form.AddAudioFile(Q(Host("nul/list.m3u"))));
  EXPECT_EQ(ui_.messages().size(), 2);
  EXPECT_EQ(form.mobjImageFile().GetTrackCount(), 0);
  EXPECT_EQ(form.mobjSourceFiles().Count(), 0);
  EXPECT_TRUE(TempFiles().isEmpty());
  EXPECT_TRUE(form.AddAudioFile(Q(wave)));
  form.ClearTracks();
  EXPECT_EQ(form.mobjSourceFiles().Count(), 0);
}

TEST_F(TrackListTest, PlaylistsNestLoopAndNameAFifoWithoutHanging) {
  MainForm& form = OpenWithTemp();
  const auto w1 = Wave(Host("list/1.wav"));
  const auto w2 = Wave(Host("list/2.wav"));
  const auto w3 = Wave(Host("list/3.wav"));
  ASSERT_EQ(::mkfifo(Host("list/x.wav").c_str(), 0600), 0);
  auto line = [](const std::filesystem::path& p) { return p.string(); };
  const auto inner = Host("list/inner.m3u");
  const auto self = Host("list/self.m3u");
  const auto mutual_a = Host("list/mutual_a.m3u");
  const auto mutual_b = Host("list/mutual_b.m3u");
  testing::WriteFileBytes(inner, line(w2) + "\r\n" + line(self) + "\r\n");
  testing::WriteFileBytes(self, line(self) + "\n" + line(w3) + "\n");
  testing::WriteFileBytes(mutual_a, line(mutual_b) + "\r");
  testing::WriteFileBytes(mutual_b, line(mutual_a) + "\r");
  const auto top = Host("list/top.m3u");
  testing::WriteFileBytes(top, line(w1) + "\r\n" + line(inner) + "\r\n" + line(mutual_a) + "\r\n" +
                                   line(Host("list/x.wav")) + "\r\n");
  EXPECT_FALSE(form.AddAudioFile(Q(top)));
  Pump();
  EXPECT_EQ(Sources(), QStringList({"1.wav", "2.wav", "3.wav"}));
  // Only the FIFO is reported; loops fail silently like unopenable playlists.
  EXPECT_EQ(MessageTexts().size(), 1);
  EXPECT_TRUE(ui_.LastText().contains(Q(Host("list/x.wav"))));
  // A clean playlist with CR LF adds each entry once.
  ui_.Clear();
  const auto clean = Host("list/clean.m3u");
  testing::WriteFileBytes(clean, line(w3) + "\r\n" + line(w1) + "\r\n");
  EXPECT_TRUE(form.AddAudioFile(Q(clean)));
  Pump();
  EXPECT_EQ(Sources(), QStringList({"1.wav", "2.wav", "3.wav", "3.wav", "1.wav"}));
  EXPECT_TRUE(ui_.messages().isEmpty());
  EXPECT_FALSE(form.AddAudioFile(Q(Host("list/none.m3u"))));
  EXPECT_TRUE(ui_.messages().isEmpty());
}

// A playlist or audio file that is there but is no regular file (or a
// playlist beyond 64 MiB) is refused at once with a message; nothing waits.
TEST_F(TrackListTest, ForeignPlaylistsAndAudioFilesAreToldWithoutWaiting) {
  MainForm& form = OpenWithTemp();
  struct Case {
    const char* name;
    testing::StandIn stand_in;
    QString (*text)(const QString& path);
  };
  auto not_regular = [](const QString& path) {
    return FileProblemText(path, FileProblem{FileProblem::kNotRegular, 0});
  };
  auto too_large = [](const QString& path) {
    return FileProblemText(path, FileProblem{FileProblem::kTooLarge, 0});
  };
  const Case cases[] = {
      {"fifo.m3u", testing::StandIn::kFifo, not_regular},
      {"zero.m3u", testing::StandIn::kZeroDevice, not_regular},
      {"huge.m3u", testing::StandIn::kOversize, too_large},
      {"fifo.mp3", testing::StandIn::kFifo, Unsupported},
      {"zero.mp3", testing::StandIn::kZeroDevice, Unsupported},
      {"fifo.wav", testing::StandIn::kFifo, Unsupported},
      {"zero.wav", testing::StandIn::kZeroDevice, Unsupported},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui_.Clear();
    testing::StandInFile file(Host(c.name), c.stand_in, {}, platform::kMaxPlaylistFileBytes);
    EXPECT_FALSE(form.AddAudioFile(Q(Host(c.name))));
    Pump();
    EXPECT_FALSE(file.Blocked());
    EXPECT_EQ(MessageTexts(), QStringList{c.text(Q(Host(c.name)))});
  }
  EXPECT_EQ(form.mobjImageFile().GetTrackCount(), 0);
  EXPECT_TRUE(TempFiles().isEmpty());
}

// An extended playlist as players write it: every line is an entry, untrimmed
// and with no comment syntax. Its "#" lines and blank lines are each told as
// no audio file, and the window goes on with the next line; the real entries
// are added, taken from the playlist's own folder (whatever the current
// folder), with a byte order mark, a line in CP932 among UTF-8 ones and each
// line end.
TEST_F(TrackListTest, ExtendedPlaylistAddsItsEntriesAndTellsItsOtherLines) {
  MainForm& form = OpenWithTemp();
  Wave(Host("music/a.wav"));
  Wave(Host("music/sub/b.wav"));
  Wave(Host("other/c.wav"));
  Wave(Host("music/曲.wav"));
  const auto absolute = Wave(Host("elsewhere/d.wav"));
  const std::string cp932_name = "\x8B\xC8.wav";  // 曲.wav in CP932
  ASSERT_EQ(QString::fromStdString(platform::Cp932ToUtf8(cp932_name)), QStringLiteral("曲.wav"));
  testing::WriteFileBytes(Host("music/list.m3u"),
                          "\xEF\xBB\xBF#EXTM3U\r\n"
                          "#EXTINF:123,Artist - A\r\na.wav\r\n"
                          "\r\n   \r\n"
                          "#EXTINF:-1,B\nsub/b.wav\n"
                          "# a comment\r../other/c.wav\r" +
                              cp932_name + "\r\n" + absolute.string() + "\r\n#EXTINF:5,last");
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(Q(Host("other"))));
  const bool added = form.AddAudioFile(Q(Host("music/list.m3u")));
  QDir::setCurrent(previous);
  EXPECT_FALSE(added);
  const QString folder = Q(Host("music")) + u'/';
  EXPECT_EQ(MessageTexts(), QStringList({Unsupported(folder + "#EXTM3U"), Unsupported(folder + "#EXTINF:123,Artist - A"),
                                         Unsupported(QString()), Unsupported(folder + "   "),
                                         Unsupported(folder + "#EXTINF:-1,B"), Unsupported(folder + "# a comment"),
                                         Unsupported(folder + "#EXTINF:5,last")}));
  for (const auto& message : ui_.messages()) EXPECT_EQ(message.style, 48);
  Pump();
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(Sources(), QStringList({"a.wav", "b.wav", "c.wav", "曲.wav", "d.wav"}));
  EXPECT_EQ(form.mobjSourceFiles().Count(), 5);
  EXPECT_TRUE(TempFiles().isEmpty());
  const auto track = form.mobjImageFile().GetTrackInformation(2);
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(QFileInfo(track->WaveFileName).canonicalFilePath(), QFileInfo(Q(Host("music/sub/b.wav"))).canonicalFilePath());
  // The window goes on taking files; a missing entry is told by the name it
  // was looked for under.
  ui_.Clear();
  testing::WriteFileBytes(Host("music/gone.m3u"), "missing.wav\r\n");
  EXPECT_FALSE(form.AddAudioFile(Q(Host("music/gone.m3u"))));
  EXPECT_EQ(MessageTexts(), QStringList{Unsupported(folder + "missing.wav")});
  EXPECT_TRUE(form.AddAudioFile(Q(absolute)));
  EXPECT_EQ(form.mobjImageFile().GetTrackCount(), 6);
}

// Audio files whose names are not UTF-8 are added by their bytes through a
// playlist, a drop and the file dialog (which hand them over as text with
// U+FFFD where a byte was): the engine opens them, and their sizes are taken.
TEST_F(TrackListTest, NamesThatAreNotUtf8AreAddedByTheirBytes) {
  MainForm& form = OpenWithTemp();
  const std::string odd = "odd\xFF\xFEname.wav";
  const std::string cp932 = "\x93\xFA\x96\x7B.wav";  // 日本.wav in CP932, stored so
  Wave(Host("bytes/" + odd));
  Wave(Host("bytes/" + cp932));
  testing::WriteFileBytes(Host("bytes/list.m3u"), odd + "\r\n" + Host("bytes/" + cp932).string() + "\r\n");
  EXPECT_TRUE(form.AddAudioFile(Q(Host("bytes/list.m3u")))) << MessageTexts().join('\n').toStdString();
  const QString lossy = QFile::decodeName(QByteArray::fromStdString(Host("bytes/" + odd).string()));
  ASSERT_TRUE(lossy.contains(QChar(QChar::ReplacementCharacter)));
  EXPECT_TRUE(form.AddAudioFile(lossy)) << MessageTexts().join('\n').toStdString();
  QMimeData data;
  // As a file manager sends it: the name's bytes percent-encoded.
  data.setUrls({QUrl::fromEncoded("file://" + QByteArray::fromStdString(Host("bytes/" + cp932).string()).toPercentEncoding("/"))});
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(form.lsvTracks()->viewport(), &enter);
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(form.lsvTracks()->viewport(), &drop);
  EXPECT_TRUE(ui_.messages().isEmpty()) << MessageTexts().join('\n').toStdString();
  Tazol& image = form.mobjImageFile();
  ASSERT_EQ(image.GetTrackCount(), 4);
  for (int track_no = 1; track_no <= 4; ++track_no) {
    const auto track = image.GetTrackInformation(track_no);
    ASSERT_NE(track, nullptr);
    const auto added = image.AddedWaveIdentity(track_no);
    ASSERT_TRUE(added.has_value()) << track_no;
    EXPECT_EQ(added->size, 44 + 150 * 2352) << track_no;
    EXPECT_EQ(added->layout.data_offset, 44u) << track_no;
  }
  // A project keeps them: saved and loaded back, the four tracks are there.
  const QString project = Q(Host("bytes.wpj"));
  ASSERT_TRUE(form.SaveProject(project));
  ASSERT_TRUE(form.FileProjectLoad(project));
  EXPECT_TRUE(ui_.messages().isEmpty()) << MessageTexts().join('\n').toStdString();
  EXPECT_EQ(form.mobjImageFile().GetTrackCount(), 4);
}

// Playlists nest sixteen deep; one level more fails like a playlist that
// cannot be opened.
TEST_F(TrackListTest, PlaylistsNestSixteenDeep) {
  MainForm& form = OpenWithTemp();
  const auto wave = Wave(Host("deep/w.wav"));
  auto chain = [&](int depth) {
    std::filesystem::path next = wave;
    for (int level = depth; level >= 1; --level) {
      const auto list = Host("deep/" + std::to_string(depth) + "-" + std::to_string(level) + ".m3u");
      testing::WriteFileBytes(list, next.string() + "\r\n");
      next = list;
    }
    return next;
  };
  EXPECT_TRUE(form.AddAudioFile(Q(chain(16))));
  EXPECT_FALSE(form.AddAudioFile(Q(chain(17))));
  EXPECT_EQ(form.mobjImageFile().GetTrackCount(), 1);
  EXPECT_TRUE(ui_.messages().isEmpty());
}

TEST_F(TrackListTest, DroppedFilesAreAddedInOrder) {
  MainForm& form = OpenWithTemp();
  const auto a = Wave(Host("a.wav"));
  const auto b = Wave(Host("b.wav"));
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(Q(b)), QUrl::fromLocalFile(Q(a))});
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(form.lsvTracks()->viewport(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(form.lsvTracks()->viewport(), &drop);
  Pump();
  EXPECT_EQ(Sources(), QStringList({"b.wav", "a.wav"}));
}

TEST_F(TrackListTest, MovesCarryTextsAndStopAtTheEndsAndTheDataTrack) {
  MainForm& form = OpenWithTemp();
  AddTitledTracks(5);
  Select({3, 4});
  form.mnuTrackUp_Click();
  Pump();
  EXPECT_EQ(SelectedRows(), QList<int>({2, 3}));
  EXPECT_EQ(Titles(), QStringList({"T1", "T3", "T4", "T2", "T5"}));
  EXPECT_EQ(Sources(), QStringList({"w1.wav", "w3.wav", "w4.wav", "w2.wav", "w5.wav"}));
  form.mnuTrackDown_Click();
  Pump();
  EXPECT_EQ(SelectedRows(), QList<int>({3, 4}));
  EXPECT_EQ(Titles(), QStringList({"T1", "T2", "T3", "T4", "T5"}));

  const QStringList before = Titles();
  Select({1, 3});
  form.mnuTrackUp_Click();
  Select({2, 5});
  form.mnuTrackDown_Click();
  Pump();
  EXPECT_EQ(Titles(), before);

  ClearTrackList(form);
  AddDataArea();
  AddTitledTracks(2);
  Select({2});
  form.mnuTrackUp_Click();
  Pump();
  EXPECT_EQ(Titles(), QStringList({"", "T1", "T2"}));
  EXPECT_EQ(SelectedRows(), QList<int>({2}));
  Select({1});
  form.mnuTrackDown_Click();
  Pump();
  EXPECT_EQ(Titles(), QStringList({"", "T1", "T2"}));
}

TEST_F(TrackListTest, RemovingTheDataRowEmptiesTheDataAreaOnly) {
  MainForm& form = OpenWithTemp();
  AddDataArea();
  AddTitledTracks(2);
  form.txtLabel()->setText(QStringLiteral("MINE"));
  Select({1});
  ui_.QueueAnswer(kIdYes);
  form.mnuTrackRemove_Click();
  Pump();
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("選択されているトラックを削除します。よろしいですか。"));
  EXPECT_EQ(ui_.messages()[0].style, 36);
  EXPECT_TRUE(form.txtLabel()->text().startsWith(QStringLiteral("VOL_")));
  EXPECT_EQ(Titles(), QStringList({"T1", "T2"}));
  EXPECT_EQ(form.lsvTracks()->topLevelItem(0)->data(0, kTrackIconRole).toString(), QStringLiteral("Audio"));
  // Answered No: nothing goes.
  Select({1});
  form.mnuTrackRemove_Click();
  Pump();
  EXPECT_EQ(Titles(), QStringList({"T1", "T2"}));
}

TEST_F(TrackListTest, ClearEmptiesTracksAndDataArea) {
  MainForm& form = OpenWithTemp();
  AddDataArea();
  AddTitledTracks(2);
  ui_.QueueAnswer(kIdYes);
  form.MenuItem(QStringLiteral("mnuTrackClear"))->trigger();
  Pump();
  EXPECT_EQ(ui_.LastText(), QStringLiteral("配置されたトラックを全て削除します。よろしいですか。"));
  EXPECT_EQ(form.mobjImageFile().GetTrackCount(), 0);
  EXPECT_EQ(form.lsvTracks()->topLevelItemCount(), 0);
  EXPECT_EQ(form.mobjSourceFiles().Count(), 0);
}

TEST_F(TrackListTest, RowsGaugeAndAlbumName) {
  MainForm& form = OpenWithTemp("Tiny\t100");
  AddDataArea();
  ASSERT_TRUE(form.AddAudioFile(Q(Wave(Host("a.wav"), 375))));
  Pump();
  QTreeWidgetItem* data = form.lsvTracks()->topLevelItem(0);
  QTreeWidgetItem* audio = form.lsvTracks()->topLevelItem(1);
  EXPECT_EQ(data->text(0), QStringLiteral("Track 1"));
  EXPECT_EQ(data->data(0, kTrackIconRole).toString(), QStringLiteral("Data"));
  EXPECT_EQ(data->text(3), QString());
  EXPECT_EQ(audio->text(0), QStringLiteral("Track 2"));
  EXPECT_EQ(audio->data(0, kTrackIconRole).toString(), QStringLiteral("Audio"));
  EXPECT_EQ(audio->text(4), QStringLiteral("00:02:00"));
  EXPECT_EQ(audio->text(5), QStringLiteral("00:05:00"));
  EXPECT_EQ(audio->text(6), QStringLiteral("00:00:00"));
  // A new track is not copy-permitted: no "DCP".
  EXPECT_EQ(audio->text(7), QString());
  Tazol& image = form.mobjImageFile();
  struct {
    int flag;
    const char* text;
  } const attributes[] = {{1, "PRE"}, {2, "DCP "}, {3, "DCP PRE"}, {0, ""}};
  for (const auto& a : attributes) {
    ASSERT_TRUE(image.ResetTrack(2, Q(Host("a.wav")), 150, 0, a.flag));
    Pump();
    EXPECT_EQ(audio->text(7), QString::fromUtf8(a.text)) << a.flag;
  }
  // Over capacity: full red ring and a negative free space.
  const auto data_track = image.GetTrackInformation(1);
  const int64_t used = data_track->PregapLBA + data_track->DataLBA + data_track->PostgapLBA + 150 + 375;
  EXPECT_EQ(form.cgVariable()->Value(), 100);
  EXPECT_EQ(form.cgVariable()->GraphTrueColor(), 0xFFu);
  EXPECT_EQ(form.lblVariable()->text(), QStringLiteral("空き:-") + FormatGrouped((used - 100) * 2) + "KiB");
  // Within capacity the ring takes its own colour again.
  ClearTrackList(form);
  EXPECT_EQ(form.cgVariable()->Value(), 0);
  EXPECT_EQ(form.cgVariable()->GraphTrueColor(), 0xC0C000u);
  EXPECT_EQ(form.lblVariable()->text(), QStringLiteral("空き:200KiB"));

  EXPECT_EQ(form.lblAlbumName()->text(), QStringLiteral("No Album Name"));
  EXPECT_EQ(form.lblAlbumName()->palette().color(QPalette::WindowText),
            ResolveColor(kSysGrayText, form.lblAlbumName()->palette()));
  image.SetTrackText(0, 0, 0, QStringLiteral("English Album"));
  form.RefreshTrackView();
  EXPECT_EQ(form.lblAlbumName()->text(), QStringLiteral("English Album"));
  image.SetTrackText(0, 1, 0, QStringLiteral("日本のアルバム"));
  form.RefreshTrackView();
  EXPECT_EQ(form.lblAlbumName()->text(), QStringLiteral("日本のアルバム"));
  const QRect label = form.lblAlbumName()->geometry();
  EXPECT_LE(std::abs(label.center().x() - form.fraAlbumName()->width() / 2), 1);
}

TEST_F(TrackListTest, RowsOfOneKindShareOneIconAcrossRefreshes) {
  MainForm& form = OpenWithTemp("Tiny\t100");
  AddDataArea();
  ASSERT_TRUE(form.AddAudioFile(Q(Wave(Host("a.wav"), 75))));
  ASSERT_TRUE(form.AddAudioFile(Q(Wave(Host("b.wav"), 75))));
  Pump();
  ASSERT_EQ(form.lsvTracks()->topLevelItemCount(), 3);
  auto key = [&](int row) { return form.lsvTracks()->topLevelItem(row)->icon(0).cacheKey(); };
  const qint64 audio = key(1);
  EXPECT_EQ(key(2), audio);
  EXPECT_NE(key(0), audio);
  // The data track shows the disc icon of the tree's root.
  EXPECT_EQ(key(0), form.DirectoryNode(QStringLiteral("/"))->icon(0).cacheKey());
  form.RefreshTrackView();
  EXPECT_EQ(key(1), audio);
  EXPECT_EQ(key(2), audio);
}

TEST_F(TrackListTest, FreeSpaceOfALargeMediumIsGroupedIn64Bits) {
  MainForm& form = OpenWithTemp("BD\t2000000000");
  form.RefreshTrackView();
  EXPECT_EQ(form.lblVariable()->text(), QStringLiteral("空き:4,000,000,000KiB"));
}

TEST_F(TrackListTest, ThreeRowsAnsweredNoGetGapsAndFlagsButKeepTheirTexts) {
  MainForm& form = OpenWithTemp();
  AddTitledTracks(4);
  Select({3, 2, 4});
  testing::WhenModalShown([](QWidget* w) {
    auto* dialog = qobject_cast<PropertyTrack*>(w);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->txtTitle(0)->text(), QStringLiteral("T3"));
    dialog->nudPregapSecond()->setValue(1);
    dialog->nudPregapFrame()->setValue(5);
    dialog->nudPostgapSecond()->setValue(3);
    dialog->chkPreemphasis()->setChecked(true);
    EXPECT_TRUE(dialog->chkCopypemitterd()->isChecked());  // a new track: copying not permitted
    dialog->chkCopypemitterd()->setChecked(false);
    dialog->chkCDText()->click();
    dialog->chkLanguage(0)->setChecked(true);
    dialog->txtTitle(0)->setText(QStringLiteral("Same"));
    dialog->cmdOK()->click();
  });
  ui_.QueueAnswer(kIdNo);
  form.MenuItem(QStringLiteral("mnuTrackProperty"))->trigger();
  Pump();
  ASSERT_EQ(MessageTexts(), QStringList({"入力されたCD-TEXTを選択した全てのトラックに適用しますか。"}));
  EXPECT_EQ(ui_.messages()[0].style, 36);
  for (int i = 2; i <= 4; ++i) {
    const auto track = form.mobjImageFile().GetTrackInformation(i);
    EXPECT_EQ(track->PregapLBA, 80) << i;
    EXPECT_EQ(track->PostgapLBA, 225) << i;
    EXPECT_EQ(track->TrackControlFlag, 3) << i;
  }
  EXPECT_EQ(Titles(), QStringList({"T1", "T2", "T3", "T4"}));
  EXPECT_EQ(form.mobjImageFile().GetTrackInformation(1)->TrackControlFlag, 0);

  // One row: the texts go without a question.
  ui_.Clear();
  Select({4});
  testing::WhenModalShown([](QWidget* w) {
    auto* dialog = qobject_cast<PropertyTrack*>(w);
    ASSERT_NE(dialog, nullptr);
    dialog->chkCDText()->setChecked(true);
    dialog->txtTitle(0)->setText(QStringLiteral("Third"));
    dialog->cmdOK()->click();
  });
  form.mnuTrackProperty_Click();
  Pump();
  EXPECT_TRUE(ui_.messages().isEmpty());
  EXPECT_EQ(Titles(), QStringList({"T1", "T2", "T3", "Third"}));
  EXPECT_TRUE(form.mobjImageFile().EnabledTrackText());
}

// The engine refuses to reset the data track; that row gets its own message
// and the audio rows are still done.
TEST_F(TrackListTest, ASelectionWithTheDataTrackReportsThatTrackOnly) {
  MainForm& form = OpenWithTemp();
  AddDataArea();
  AddTitledTracks(1);
  Select({2, 1});
  testing::WhenModalShown([](QWidget* w) {
    auto* dialog = qobject_cast<PropertyTrack*>(w);
    ASSERT_NE(dialog, nullptr);
    dialog->nudPostgapSecond()->setValue(1);
    dialog->cmdOK()->click();
  });
  form.mnuTrackProperty_Click();
  Pump();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.LastText(), QStringLiteral("トラック1の設定を変更できませんでした。"));
  EXPECT_EQ(ui_.messages()[0].style, 16);
  EXPECT_EQ(form.mobjImageFile().GetTrackInformation(2)->PostgapLBA, 75);
  EXPECT_TRUE(form.mobjImageFile().GetTrackInformation(1)->WaveFileName.isEmpty());
}

TEST_F(TrackListTest, AlbumDialogStoresTheAlbumTexts) {
  MainForm& form = OpenWithTemp();
  testing::WhenModalShown([](QWidget* w) {
    auto* dialog = qobject_cast<PropertyTrack*>(w);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("アルバムの設定"));
    dialog->chkCDText()->click();
    dialog->chkLanguage(1)->click();
    dialog->chkTitle(1)->click();
    dialog->txtTitle(1)->setText(QStringLiteral("題名"));
    dialog->cmdOK()->click();
  });
  form.TrackToolbarButton(QStringLiteral("PropertyDisc"))->trigger();
  EXPECT_EQ(form.mobjImageFile().GetTrackText(0, 1, 0), QStringLiteral("題名"));
  EXPECT_TRUE(form.mobjImageFile().EnabledTrackText());
  EXPECT_EQ(form.lblAlbumName()->text(), QStringLiteral("題名"));
}

TEST_F(TrackListTest, KeysAndContextMenu) {
  MainForm& form = OpenWithTemp();
  AddTitledTracks(1);
  Select({1});
  QTest::keyClick(form.lsvTracks(), Qt::Key_Delete);
  EXPECT_EQ(ui_.LastText(), QStringLiteral("選択されているトラックを削除します。よろしいですか。"));
  QTest::keyClick(form.lsvTracks(), Qt::Key_Insert);
  ASSERT_EQ(ui_.dialogs().size(), 1);
  EXPECT_EQ(ui_.dialogs()[0].filter, QStringLiteral("音楽ファイル(*.wav,*.mp3,*.m3u)|*.wav;*.mp3;*.m3u"));
  EXPECT_EQ(ui_.dialogs()[0].flags, 0x81A00);
  ui_.QueueMenuChoice(0);
  emit form.lsvTracks()->customContextMenuRequested(QPoint(3, 3));
  ASSERT_EQ(ui_.menus().size(), 1);
  QStringList texts;
  for (const auto& entry : ui_.menus()[0].entries) texts << entry.text;
  EXPECT_EQ(texts, QStringList({"追加(&A)...", "削除(&D)", "-", "上へ(&U)", "下へ(&N)", "-", "アルバムの設定(&L)...",
                                "設定(&P)...", "クリア(&C)"}));
}

TEST_F(TrackListTest, DecoderFeedbackFillsBarAndStatus) {
  MainForm& form = OpenWithTemp();
  emit form.mobjACMDecoder().StatusChange(0, QStringLiteral("展開中 - /x/a.mp3"));
  emit form.mobjACMDecoder().Progress(3, 10);
  EXPECT_EQ(form.StatusPanel()->text(), QStringLiteral("展開中 - /x/a.mp3"));
  EXPECT_EQ(form.prgProgress()->maximum(), 10);
  EXPECT_EQ(form.prgProgress()->value(), 3);
  emit form.mobjACMDecoder().StatusChange(2, QString());
  EXPECT_EQ(form.StatusPanel()->text(), QString());
  EXPECT_EQ(form.prgProgress()->value(), 0);
}

}  // namespace
}  // namespace sorvel
