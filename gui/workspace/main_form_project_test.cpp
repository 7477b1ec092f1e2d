// Project files with the real mastering engine: save and load round trips, a
// golden file, files in the older CP932 form with Windows paths, missing
// sources, a full disk, files that cannot be opened, and a hostile corpus.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <random>

#include "gui/dialogs/list_status_form.h"
#include "gui/dialogs/property_iso_file.h"
#include "gui/foundation/history_database.h"
#include "gui/jobs/well_writer.h"
#include "gui/model/tazol_history.h"
#include "gui/workspace/main_form_fixture.h"
#include "testing/exfat_folder.h"
#include "testing/file_bytes.h"
#include "testing/file_size_limit.h"
#include "testing/gui/modal_answer.h"
#include "testing/gui/mp3_fixture.h"
#include "testing/manual_clock.h"

namespace sorvel {
namespace {

const QString kMissingCaption = QStringLiteral(
    "プロジェクトを読み込みましたが、以下のファイルについては存在が確認できないため、構造領域に配置できませんでした。");
const QString kTrackLimit = QStringLiteral("１００以上のトラックは作成できません。");

// Accepts every missing-files list shown while it lives and keeps what it showed.
class MissingListCloser {
 public:
  MissingListCloser() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* form = qobject_cast<ListStatusForm*>(QApplication::activeModalWidget());
      if (form == nullptr) return;
      captions << form->lblCaption()->text();
      QStringList lines;
      for (int i = 0; i < form->lstStatusList()->count(); ++i) lines << form->lstStatusList()->item(i)->text();
      lists << lines;
      if (on_show) on_show();
      form->accept();
    });
    timer_.start();
  }
  QStringList captions;
  QList<QStringList> lists;
  // Runs while each list is up, after it was read.
  std::function<void()> on_show;

 private:
  QTimer timer_;
};

// Counts the paint events a widget receives.
class PaintCount : public QObject {
 public:
  explicit PaintCount(QWidget* widget) { widget->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

std::filesystem::path SourceDir() {
  return testing::SourceTree() / "gui" / "workspace" / "testdata";
}

class ProjectFileTest : public testing::MainFormTest {
 protected:
  MainForm& OpenWithTemp() {
    std::filesystem::create_directories(scratch_ / "temp");
    return Open("[PATH]\r\nTEMP=" + (scratch_ / "temp").string() + "\r\n");
  }

  void SelectFileSystem(int32_t code) {
    QComboBox* box = form_->cboFileSystem();
    box->setCurrentIndex(box->findData(code));
    ASSERT_EQ(form_->mobjImageFile().FileSystem(), code);
  }

  // Gives every entry of the current directory and below a fixed time stamp
  // and attribute value, counting up in walking order.
  void StampEntries(int& serial) {
    Tazol& image = form_->mobjImageFile();
    QStringList names, directories;
    for (auto record = image.FindISOFirstFile(); record; record = image.FindISONextFile()) {
      if (record->Name == u"." || record->Name == u"..") continue;
      names << record->Name;
      if (record->IsDirectory) directories << record->Name;
    }
    for (const QString& name : names) {
      ++serial;
      const QDateTime stamp(QDate(2001 + serial, serial % 12 + 1, serial + 1), QTime(serial, serial * 2, serial * 3));
      EXPECT_TRUE(image.ChangeISOProperties(name, static_cast<int16_t>(serial % 2 == 0 ? 2 : 1), stamp));
    }
    for (const QString& name : directories) {
      ASSERT_TRUE(image.ChangeISODirectory(name));
      StampEntries(serial);
      image.ChangeISODirectory(QStringLiteral(".."));
    }
  }

  // A data area of two levels, three tracks (one decoded from an MP3 file),
  // gaps with minutes, flags, a Japanese-only album and track texts.
  void BuildLayout(bool with_mp3) {
    SelectFileSystem(17);
    form_->txtLabel()->setText(QStringLiteral("DISC=ONE"));
    Write(Host("tree/a.txt"), "alpha");
    Write(Host("tree/sub/b.txt"), "beta");
    Write(Host("tree/sub/deep/c.txt"), "gamma");
    Write(Host("top.txt"), "top");
    form_->AddPathToLayout(Q(Host("tree")));
    form_->AddPathToLayout(Q(Host("top.txt")));
    Tazol& image = form_->mobjImageFile();
    image.ChangeISODirectory(QStringLiteral("\\"));
    int serial = 0;
    StampEntries(serial);
    image.ChangeISODirectory(QStringLiteral("\\"));

    ASSERT_TRUE(form_->AddAudioFile(Q(Wave(Host("w1.wav"), 300))));
    ASSERT_TRUE(form_->AddAudioFile(Q(Wave(Host("w2.wav"), 200))));
    int32_t n = image.GetTrackCount();
    ASSERT_TRUE(image.ResetTrack(n - 1, Q(Host("w1.wav")), 4650, 75, 2));
    ASSERT_TRUE(image.ResetTrack(n, Q(Host("w2.wav")), 150, 0, 1));
    if (with_mp3) {
      std::filesystem::path mp3;
      std::filesystem::create_directories(scratch_ / "src");
      ASSERT_TRUE(testing::EncodeMp3(scratch_ / "src", "song", 44100, 2, 1.0, "-b 128", &mp3));
      std::filesystem::copy_file(mp3, Host("song.mp3"));
      ASSERT_TRUE(form_->AddAudioFile(Q(Host("song.mp3"))));
    }
    image.SetTrackText(0, 1, 0, QStringLiteral("日本のアルバム"));
    image.SetTrackText(0, 1, 5, QStringLiteral("メッセージ"));
    image.SetTrackText(n - 1, 0, 0, QStringLiteral("First"));
    image.SetTrackText(n - 1, 0, 1, QStringLiteral("Band"));
    image.SetTrackText(n, 1, 0, QStringLiteral("二曲目"));
    image.SetEnabledTrackText(true);
    Pump();
  }

  // Everything a project keeps, read back from the window and the engine.
  QStringList Snapshot() {
    Tazol& image = form_->mobjImageFile();
    QStringList out;
    out << QStringLiteral("label=") + form_->txtLabel()->text()
        << QStringLiteral("fs=%1 box=%2 limit=%3 cdtext=%4")
               .arg(image.FileSystem())
               .arg(form_->cboFileSystem()->currentData().toInt())
               .arg(form_->LabelLimit())
               .arg(image.EnabledTrackText());
    for (int language = 0; language < 2; ++language)
      for (int item = 0; item < 6; ++item) out << image.GetTrackText(0, language, item);
    image.ChangeISODirectory(QStringLiteral("\\"));
    Walk(out);
    image.ChangeISODirectory(QStringLiteral("\\"));
    for (int32_t i = 1; i <= image.GetTrackCount(); ++i) {
      const auto track = image.GetTrackInformation(i);
      QString line = QStringLiteral("track %1 %2 %3 %4 %5 ")
                         .arg(i)
                         .arg(track->PregapLBA)
                         .arg(track->PostgapLBA)
                         .arg(track->TrackControlFlag)
                         .arg(track->DataLBA);
      if (!track->WaveFileName.isEmpty())
        line += form_->mobjSourceFiles().GetData(track->WaveFileName).value_or(QStringLiteral("?"));
      for (int language = 0; language < 2; ++language)
        for (int item = 0; item < 6; ++item) line += u'|' + image.GetTrackText(i, language, item);
      out << line;
    }
    return out;
  }
  void Walk(QStringList& out) {
    Tazol& image = form_->mobjImageFile();
    const QString here = image.GetISOCurrentDirectory();
    QStringList directories;
    for (auto record = image.FindISOFirstFile(); record; record = image.FindISONextFile()) {
      if (record->Name == u"." || record->Name == u"..") continue;
      out << QStringLiteral("%1%2 dir=%3 src=%4 %5 attr=%6 size=%7")
                 .arg(here, record->Name)
                 .arg(record->IsDirectory)
                 .arg(record->IsDirectory ? QString() : record->OriginalFileName,
                      record->TimeStamp.toString(QStringLiteral("yyyyMMddHHmmss")))
                 .arg(record->FileAttribute)
                 .arg(record->Size);
      if (record->IsDirectory) directories << record->Name;
    }
    for (const QString& name : directories) {
      if (!image.ChangeISODirectory(name)) continue;
      Walk(out);
      image.ChangeISODirectory(QStringLiteral(".."));
    }
  }

  QString Project(const std::string& name) const { return Q(scratch_ / name); }
  void WriteProject(const std::string& name, const std::string& bytes) { testing::WriteFileBytes(scratch_ / name, bytes); }
  // A corpus or fixture file with "@HOST@" standing for the host folder.
  std::string Fixture(const std::filesystem::path& path) const {
    std::string bytes = testing::ReadFileBytes(path);
    const std::string host = (scratch_ / "host").string();
    for (size_t at = bytes.find("@HOST@"); at != std::string::npos; at = bytes.find("@HOST@", at + host.size()))
      bytes.replace(at, 6, host);
    return bytes;
  }
  QStringList TempFiles() const {
    return QDir(Q(scratch_ / "temp")).entryList(QDir::Files, QDir::Name);
  }
};

TEST_F(ProjectFileTest, SaveAndLoadReproduceTheLayoutAndASecondSaveIsIdentical) {
  OpenWithTemp();
  BuildLayout(true);
  const QStringList before = Snapshot();
  ASSERT_TRUE(form_->SaveProject(Project("one.wpj")));
  EXPECT_EQ(form_->mobjImageFile().GetISOCurrentDirectory(), QStringLiteral("\\"));
  ASSERT_EQ(TempFiles().size(), 1);

  form_->ClearTracks();
  form_->cboFileSystem()->setCurrentIndex(0);
  Pump();
  ASSERT_NE(Snapshot(), before);
  MissingListCloser closer;
  ASSERT_TRUE(form_->FileProjectLoad(Project("one.wpj")));
  Pump();
  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(closer.lists.isEmpty());
  EXPECT_TRUE(ui_.messages().isEmpty());
  EXPECT_EQ(form_->LabelLimit(), 16);
  EXPECT_EQ(TempFiles().size(), 1);  // the MP3 decoded again
  EXPECT_TRUE(form_->StatusPanel()->text().isEmpty());
  EXPECT_TRUE(NodeKeys().contains(QStringLiteral("/tree/sub/deep/")));

  ASSERT_TRUE(form_->SaveProject(Project("two.wpj")));
  EXPECT_EQ(testing::ReadFileBytes(scratch_ / "two.wpj"), testing::ReadFileBytes(scratch_ / "one.wpj"));

  // Loading over a layout with decoded tracks leaves no temporary WAV behind.
  ASSERT_TRUE(form_->FileProjectLoad(Project("one.wpj")));
  EXPECT_EQ(TempFiles().size(), 1);
  EXPECT_EQ(form_->mobjSourceFiles().Count(), 3);
}

// On exFAT (no hard links, no owners) a second save into a name replaces
// the first one's file and leaves nothing beside it.
TEST_F(ProjectFileTest, SecondSaveIntoAnExfatFolderReplacesTheFirst) {
  testing::ExfatFolder exfat;
  ASSERT_TRUE(exfat.mounted());
  OpenWithTemp();
  BuildLayout(false);
  ASSERT_TRUE(form_->SaveProject(Q(exfat / "p.wpj")));
  const std::string first = testing::ReadFileBytes(exfat / "p.wpj");
  form_->cboFileSystem()->setCurrentIndex(0);
  Pump();
  ASSERT_TRUE(form_->SaveProject(Q(exfat / "p.wpj")));
  ASSERT_TRUE(form_->SaveProject(Q(scratch_ / "p.wpj")));
  EXPECT_NE(testing::ReadFileBytes(exfat / "p.wpj"), first);
  EXPECT_EQ(testing::ReadFileBytes(exfat / "p.wpj"), testing::ReadFileBytes(scratch_ / "p.wpj"));
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(exfat.path())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"p.wpj"});
}

TEST_F(ProjectFileTest, TheWrittenFileMatchesTheGoldenFileByteForByte) {
  OpenWithTemp();
  BuildLayout(true);
  ASSERT_TRUE(form_->SaveProject(Project("golden.wpj")));
  const std::string written = testing::ReadFileBytes(scratch_ / "golden.wpj");
  if (const char* out = std::getenv("SORVEL_WRITE_GOLDEN")) testing::WriteFileBytes(out, written);
  EXPECT_EQ(written, Fixture(SourceDir() / "project_golden.wpj")) << written;
}

TEST_F(ProjectFileTest, SavingKeepsTheViewsDirectoryAndWritesTracksWithoutASourceByTheirWav) {
  OpenWithTemp();
  BuildLayout(false);
  Tazol& image = form_->mobjImageFile();
  ASSERT_TRUE(image.ChangeISODirectory(QStringLiteral("\\tree\\sub\\")));
  // The same WAV twice shares one entry; removing one track drops it.
  ASSERT_TRUE(form_->AddAudioFile(Q(Host("w1.wav"))));
  form_->RemoveTrackAt(image.GetTrackCount());
  ASSERT_FALSE(form_->mobjSourceFiles().GetData(Q(Host("w1.wav"))).has_value());
  form_->txtLabel()->setText(QStringLiteral("A\tB"));
  ASSERT_TRUE(form_->SaveProject(Project("p.wpj")));
  EXPECT_EQ(image.GetISOCurrentDirectory(), QStringLiteral("\\tree\\sub\\"));
  const std::string text = testing::ReadFileBytes(scratch_ / "p.wpj");
  EXPECT_NE(text.find("Label=A B\r\n"), std::string::npos);
  EXPECT_NE(text.find("4650\t75\t2\t" + Host("w1.wav").string() + "\tFirst\tBand"), std::string::npos) << text;
}

// A label's TABs are written as blanks and a line's end is trimmed on load, so
// the label loaded (cut to 32 bytes by the box) is already what a save writes
// and a load reads back.
TEST_F(ProjectFileTest, ALabelWithTabsLoadsAsItsSaveReadsBack) {
  OpenWithTemp();
  const std::string long_label = std::string(31, 'L') + "\tTAIL";
  const struct {
    std::string written;
    QString loaded;
  } cases[] = {{"A\tB\t\t \t", QStringLiteral("A B")}, {long_label, QString(31, u'L')}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    WriteProject("p.wpj", "[Mastering]\r\nLabel=" + c.written + "\r\nFileSystem=2\r\n");
    ASSERT_TRUE(form_->FileProjectLoad(Project("p.wpj")));
    EXPECT_EQ(form_->txtLabel()->text(), c.loaded);
    ASSERT_TRUE(form_->SaveProject(Project("q.wpj")));
    ASSERT_TRUE(form_->FileProjectLoad(Project("q.wpj")));
    EXPECT_EQ(form_->txtLabel()->text(), c.loaded);
  }
}

TEST_F(ProjectFileTest, SectionsAndKeysInAnyCaseLabelsWithEqualsAndEmptyTexts) {
  OpenWithTemp();
  const std::string wave = Wave(Host("w.wav")).string();
  Write(Host("f.txt"), "f");
  WriteProject("p.wpj", "  [mastering]  \r\n  label = A=B=C \r\nfilesystem=2\r\n\r\n[data]\r\n1\t\\\tDIR\t\t20200101000000\t0\r\n"
                        "0\t\\DIR\\\tF.TXT\t" + Host("f.txt").string() + "\t20200102000000\t1\r\n[AUDIO]\r\n150\t0\t0\t" +
                        wave + std::string(12, '\t') + "\r\n");
  ASSERT_TRUE(form_->FileProjectLoad(Project("p.wpj")));
  const QStringList shot = Snapshot();
  EXPECT_EQ(shot[0], QStringLiteral("label=A=B=C"));
  EXPECT_TRUE(shot[1].startsWith(QStringLiteral("fs=2 box=2 limit=32 cdtext=1"))) << shot[1].toStdString();
  EXPECT_TRUE(shot.contains(QStringLiteral("\\DIR\\F.TXT dir=0 src=%1 20200102000000 attr=1 size=1").arg(Q(Host("f.txt")))))
      << shot.join(u'\n').toStdString();
  EXPECT_TRUE(shot.last().endsWith(QString(12, u'|'))) << shot.last().toStdString();
}

TEST_F(ProjectFileTest, AnOldCp932FileLoadsItsTextsAndListsItsWindowsPaths) {
  OpenWithTemp();
  MissingListCloser closer;
  ASSERT_TRUE(form_->FileProjectLoad(Q(SourceDir() / "project_cp932.wpj")));
  const QStringList shot = Snapshot();
  EXPECT_EQ(shot[0], QStringLiteral("label=データ_ディスク"));
  EXPECT_TRUE(shot[1].startsWith(QStringLiteral("fs=16 box=16 limit=16 cdtext=1"))) << shot[1].toStdString();
  EXPECT_EQ(shot[2], QStringLiteral("Album"));
  EXPECT_EQ(shot[8], QStringLiteral("アルバム"));
  EXPECT_TRUE(shot.contains(QStringLiteral("\\写真 dir=1 src= 20080405060708 attr=0 size=0"))) << shot.join(u'\n').toStdString();
  ASSERT_EQ(closer.captions, QStringList{kMissingCaption});
  EXPECT_EQ(closer.lists[0], QStringList({QStringLiteral("C:\\Documents\\報告書.txt"),
                                          QStringLiteral("C:\\Documents\\写真\\海.jpg"),
                                          QStringLiteral("C:\\Music\\01 曲.wav"), QStringLiteral("D:\\Music\\02.mp3")}));
  EXPECT_TRUE(ui_.messages().isEmpty());
}

// Host files stamped before 1970 and after 2038-01-19: the file property
// dialog confirmed without an edit, the project saved and loaded again, and
// the written image carries each file's own date (isoinfo reads it).
TEST_F(ProjectFileTest, StampsBefore1970AndAfter2038SurviveOkAndASaveLoad) {
  ASSERT_TRUE(testing::RequireTool("isoinfo"));
  OpenWithTemp();
  struct Stamped {
    const char* name;
    QDateTime stamp;
    const char* listed;  // as isoinfo lists the date
  };
  const Stamped files[] = {
      {"y1965.txt", QDateTime(QDate(1965, 6, 15), QTime(12, 0)), "Jun 15 1965"},
      {"y2100.txt", QDateTime(QDate(2100, 6, 15), QTime(12, 0)), "Jun 15 2100"},
      {"y2020.txt", QDateTime(QDate(2020, 6, 15), QTime(12, 0)), "Jun 15 2020"},
  };
  for (const Stamped& f : files) {
    Write(Host(f.name), f.name);
    const timespec times[2] = {{f.stamp.toSecsSinceEpoch(), 0}, {f.stamp.toSecsSinceEpoch(), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, Host(f.name).c_str(), times, 0), 0);
    form_->AddPathToLayout(Q(Host(f.name)));
  }
  Pump();
  for (const Stamped& f : files) {
    SelectOnly(QString::fromLatin1(f.name));
    bool shown = false;
    testing::WhenModalShown([&](QWidget* w) {
      auto* dialog = qobject_cast<PropertyISOFile*>(w);
      ASSERT_NE(dialog, nullptr);
      shown = true;
      dialog->cmdOK()->click();
    });
    form_->mnuWellProperty_Click();
    Pump();
    EXPECT_TRUE(shown) << f.name;
  }
  ASSERT_TRUE(form_->SaveProject(Project("p.wpj")));
  ASSERT_TRUE(form_->FileProjectLoad(Project("p.wpj")));
  const std::string project = testing::ReadFileBytes(scratch_ / "p.wpj");
  EXPECT_NE(project.find("\ty1965.txt\t" + Host("y1965.txt").string() + "\t19650615120000\t"), std::string::npos)
      << project;

  std::filesystem::create_directories(scratch_ / "out");
  WellWriter writer;
  ASSERT_TRUE(writer.StartWriteFile(Project("out/Disc.iso"), form_->mobjImageFile()));
  std::string listing;
  ASSERT_EQ(testing::RunCommand("isoinfo -J -l -i '" + (scratch_ / "out" / "Disc.img").string() + "'", &listing), 0);
  for (const Stamped& f : files) {
    SCOPED_TRACE(f.name);
    const size_t at = listing.find(f.name);
    ASSERT_NE(at, std::string::npos) << listing;
    const size_t line = listing.rfind('\n', at);
    EXPECT_NE(listing.substr(line, at - line).find(f.listed), std::string::npos) << listing.substr(line, at - line);
  }
}

// Host names that are not UTF-8 (a stray byte, a CP932 name) in a folder
// with a plain one: added by the file dialog, by the folder dialog and by a
// file manager's drop, each written to an image whose files read back equal,
// named on the disc as UTF-8, else CP932, else "_" per odd byte; a project
// saved with them (a valid UTF-8 file) loads them back by their bytes.
TEST_F(ProjectFileTest, NamesThatAreNotUtf8AreAddedWrittenSavedAndLoadedByTheirBytes) {
  for (const char* tool : {"xorriso", "cmp"}) ASSERT_TRUE(testing::RequireTool(tool));
  OpenWithTemp();
  SelectFileSystem(16);
  const std::string folder = Host("odd\xFE").string();
  const auto files = WriteNamesThatAreNotUtf8(folder);
  const auto bytes = [](const std::string& path) { return QByteArray(path.data(), static_cast<qsizetype>(path.size())); };
  // What Qt's dialogs hand back: each odd byte decoded to U+FFFD.
  const auto shown = [&](const std::string& path) { return QFile::decodeName(bytes(path)); };
  int round = 0;
  // Writes the layout to an image and compares what xorriso extracts from
  // `below` (a disc folder) with the host files.
  const auto written_equal = [&](const std::string& below) {
    const std::filesystem::path out = scratch_ / ("out" + std::to_string(++round));
    std::filesystem::create_directories(out);
    WellWriter writer;
    ASSERT_TRUE(writer.StartWriteFile(Q(out / "Disc.iso"), form_->mobjImageFile()));
    std::string said;
    ASSERT_EQ(testing::RunCommand("xorriso -osirrox on -indev '" + (out / "Disc.img").string() + "' -extract / '" +
                                      (out / "x").string() + "' 2>&1",
                                  &said),
              0)
        << said;
    for (const auto& f : files) {
      SCOPED_TRACE(f.disc);
      EXPECT_EQ(testing::RunCommand("cmp '" + folder + "/" + f.host + "' '" + (out / "x").string() + below + "/" +
                                    f.disc + "'"),
                0);
    }
  };
  const auto fresh = [&] {
    form_->ClearLayout();
    ui_.Clear();
    Pump();
  };

  {
    SCOPED_TRACE("file dialog");
    QStringList chosen;
    for (const auto& f : files) chosen << shown(folder + "/" + f.host);
    ui_.QueueOpenFiles(chosen);
    form_->mnuWellAdd_Click();
    Pump();
    EXPECT_TRUE(ui_.messages().isEmpty()) << MessageTexts().join(u'\n').toStdString();
    written_equal("");
  }
  {
    SCOPED_TRACE("folder dialog");
    fresh();
    ui_.QueueFolder(shown(folder));
    form_->mnuWellAddDirectory_Click(0);
    Pump();
    EXPECT_TRUE(ui_.messages().isEmpty()) << MessageTexts().join(u'\n').toStdString();
    written_equal("/odd_");
  }
  {
    SCOPED_TRACE("drop");
    fresh();
    QByteArray list;
    for (const auto& f : files) list += "file://" + bytes(folder + "/" + f.host).toPercentEncoding("/") + "\r\n";
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"), list);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form_->lsvFiles()->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form_->lsvFiles()->viewport(), &drop);
    Pump();
    EXPECT_TRUE(ui_.messages().isEmpty()) << MessageTexts().join(u'\n').toStdString();
    written_equal("");
  }

  SCOPED_TRACE("project");
  ASSERT_TRUE(form_->SaveProject(Project("odd.wpj")));
  const std::string project = testing::ReadFileBytes(scratch_ / "odd.wpj");
  EXPECT_TRUE(QString::fromUtf8(project.data(), static_cast<qsizetype>(project.size())).toUtf8() == bytes(project));
  EXPECT_NE(project.find("\tfile://" + bytes(folder).toPercentEncoding("/").toStdString() + "/%FF.txt\t"),
            std::string::npos)
      << project;
  fresh();
  MissingListCloser closer;
  ASSERT_TRUE(form_->FileProjectLoad(Project("odd.wpj")));
  Pump();
  EXPECT_TRUE(closer.lists.isEmpty()) << closer.lists.value(0).join(u'\n').toStdString();
  QList<QByteArray> sources;
  for (auto record = form_->mobjImageFile().FindISOFirstFile(); record; record = form_->mobjImageFile().FindISONextFile())
    if (!record->IsDirectory) sources << record->SourcePath;
  std::sort(sources.begin(), sources.end());
  QList<QByteArray> expected;
  for (const auto& f : files) expected << bytes(folder + "/" + f.host);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sources, expected);
  written_equal("");
}

TEST_F(ProjectFileTest, MissingTracksAreListedAndTheNextOnesFollowWithoutAGap) {
  OpenWithTemp();
  const std::string a = Wave(Host("a.wav"), 100).string();
  const std::string c = Wave(Host("c.wav"), 120).string();
  ASSERT_EQ(::mkfifo(Host("fifo.wav").c_str(), 0600), 0);
  WriteProject("p.wpj", "[Audio]\r\n150\t0\t0\t" + a + "\r\n150\t0\t0\t" + Host("gone.wav").string() +
                            "\r\n150\t0\t0\t" + Host("fifo.wav").string() + "\r\n150\t0\t0\trelative.wav\r\n300\t0\t0\t" +
                            c + "\r\n");
  MissingListCloser closer;
  ASSERT_TRUE(form_->FileProjectLoad(Project("p.wpj")));
  Tazol& image = form_->mobjImageFile();
  ASSERT_EQ(image.GetTrackCount(), 2);
  EXPECT_EQ(image.GetTrackInformation(2)->WaveFileName, QString::fromStdString(c));
  EXPECT_EQ(image.GetTrackInformation(2)->PregapLBA, 300);
  ASSERT_EQ(closer.lists.size(), 1);
  EXPECT_EQ(closer.lists[0], QStringList({Q(Host("gone.wav")), Q(Host("fifo.wav")), QStringLiteral("relative.wav")}));
}

TEST_F(ProjectFileTest, ASaveOntoAFullDiskFailsAndKeepsTheOldFile) {
  OpenWithTemp();
  BuildLayout(false);
  const std::string old = "[Mastering]\r\nLabel=OLD\r\n";
  WriteProject("p.wpj", old);
  {
    testing::FileSizeLimit full(64);
    EXPECT_FALSE(form_->SaveProject(Project("p.wpj")));
  }
  EXPECT_EQ(testing::ReadFileBytes(scratch_ / "p.wpj"), old);
  EXPECT_EQ(QDir(Project("")).entryList({QStringLiteral("p.wpj*")}, QDir::Files | QDir::Hidden),
            QStringList{QStringLiteral("p.wpj")});

  // The command says so; its proposed name comes from the label.
  ui_.QueueSaveFile(Project("p.wpj"));
  {
    testing::FileSizeLimit full(64);
    form_->mnuFileProjectSave_Click();
  }
  ASSERT_EQ(ui_.dialogs().size(), 1);
  EXPECT_EQ(ui_.dialogs()[0].filter, QStringLiteral("プロジェクトファイル (*wpj)|*.wpj"));
  EXPECT_EQ(ui_.dialogs()[0].default_path, QStringLiteral("DISC=ONE.wpj"));
  EXPECT_EQ(ui_.dialogs()[0].flags, 2054);
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("書き込みに失敗しました。"));
  EXPECT_EQ(ui_.messages()[0].style, 16);
  EXPECT_EQ(testing::ReadFileBytes(scratch_ / "p.wpj"), old);

  ui_.QueueSaveFile(Project("p.wpj"));
  form_->mnuFileProjectSave_Click();
  EXPECT_EQ(ui_.messages().size(), 1);
  EXPECT_NE(testing::ReadFileBytes(scratch_ / "p.wpj"), old);
}

TEST_F(ProjectFileTest, AFileThatCannotBeOpenedLeavesTheLayoutAndSaysSo) {
  OpenWithTemp();
  BuildLayout(false);
  const QStringList before = Snapshot();
  const QStringList nodes = NodeKeys();
  ASSERT_EQ(::mkfifo((scratch_ / "fifo.wpj").c_str(), 0600), 0);
  std::filesystem::create_directories(scratch_ / "dir.wpj");
  for (const char* name : {"missing.wpj", "fifo.wpj", "dir.wpj"}) {
    ui_.Clear();
    EXPECT_FALSE(form_->FileProjectLoad(Project(name))) << name;
    EXPECT_EQ(Snapshot(), before) << name;
    EXPECT_EQ(NodeKeys(), nodes) << name;
    ASSERT_EQ(ui_.messages().size(), 1) << name;
    EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("ファイル ") + Project(name) + QStringLiteral(" が開けません。"));
    EXPECT_EQ(ui_.messages()[0].style, 16);
  }
  // The open command passes the chosen file on.
  ui_.Clear();
  ui_.QueueOpenFiles({Project("missing.wpj")});
  form_->mnuFileProjectLoad_Click();
  EXPECT_EQ(ui_.dialogs()[0].filter, QStringLiteral("プロジェクトファイル (*wpj)|*.wpj"));
  EXPECT_EQ(ui_.messages().size(), 1);
}

TEST_F(ProjectFileTest, TheTrackLimitIsToldOncePerLoad) {
  OpenWithTemp();
  const std::string wave = Wave(Host("w.wav"), 10).string();
  std::string text = "[Data]\r\n0\t\\\tF.TXT\t" + (Write(Host("f.txt")), Host("f.txt").string()) + "\t\t0\r\n[Audio]\r\n";
  for (int i = 0; i < 1000; ++i) text += "150\t0\t0\t" + wave + "\r\n";
  WriteProject("p.wpj", text);
  ASSERT_TRUE(form_->FileProjectLoad(Project("p.wpj")));
  EXPECT_EQ(form_->mobjImageFile().GetTrackCount(), 99);
  EXPECT_EQ(MessageTexts(), QStringList{kTrackLimit});
}

TEST_F(ProjectFileTest, OddLineEndsAByteOrderMarkAndALateFileSystemLine) {
  OpenWithTemp();
  Write(Host("f.txt"), "f");
  const std::string file = Host("f.txt").string();
  const std::string body = "[Mastering]|Label=ラベル|FileSystem=2|[Data]|0|\\|F.TXT|" + file + "|20200101000000|0";
  struct Case {
    const char* name;
    std::string bytes;
    int32_t files;
  } cases[] = {
      {"lf", "[Mastering]\nLabel=ラベル\n[Data]\n0\t\\\tF.TXT\t" + file + "\t20200101000000\t0\n", 1},
      {"cr", "[Mastering]\rLabel=ラベル\r[Data]\r0\t\\\tF.TXT\t" + file + "\t20200101000000\t0\r", 1},
      {"bom", "\xEF\xBB\xBF[Mastering]\r\nLabel=ラベル\r\n[Data]\r\n0\t\\\tF.TXT\t" + file + "\t20200101000000\t0\r\n", 1},
      {"late", "[Mastering]\r\nLabel=ラベル\r\n[Data]\r\n0\t\\\tF.TXT\t" + file +
                   "\t20200101000000\t0\r\n[Mastering]\r\nFileSystem=16\r\n", 0},
  };
  for (const Case& c : cases) {
    WriteProject("p.wpj", c.bytes);
    ASSERT_TRUE(form_->FileProjectLoad(Project("p.wpj"))) << c.name;
    EXPECT_EQ(form_->txtLabel()->text(), QStringLiteral("ラベル")) << c.name;
    QStringList walk;
    form_->mobjImageFile().ChangeISODirectory(QStringLiteral("\\"));
    Walk(walk);
    EXPECT_EQ(walk.size(), c.files) << c.name;
  }
  EXPECT_EQ(form_->LabelLimit(), 16);
}

TEST_F(ProjectFileTest, BadTimeStampsTakeTheSourcesModificationTime) {
  OpenWithTemp();
  Write(Host("f.txt"), "f");
  const QDateTime modified(QDate(2011, 3, 4), QTime(5, 6, 7));
  {
    QFile file(Q(Host("f.txt")));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
  }
  WriteProject("p.wpj", "[Data]\r\n0\t\\\tF.TXT\t" + Host("f.txt").string() + "\t20231332000000\t0\r\n");
  ASSERT_TRUE(form_->FileProjectLoad(Project("p.wpj")));
  QStringList walk;
  form_->mobjImageFile().ChangeISODirectory(QStringLiteral("\\"));
  Walk(walk);
  ASSERT_EQ(walk.size(), 1);
  EXPECT_TRUE(walk[0].contains(QStringLiteral(" 20110304050607 "))) << walk[0].toStdString();
}

TEST_F(ProjectFileTest, DataLinesWhoseParentCannotBeEnteredAreNotCreatedElsewhere) {
  OpenWithTemp();
  Write(Host("f.txt"), "f");
  const std::string f = Host("f.txt").string();
  WriteProject("p.wpj", "[Data]\r\n1\t\\\tD\t\t20200101000000\t0\r\n"
                        "0\t\\D\\\tIN.TXT\t" + f + "\t20200101000000\t0\r\n"
                        "1\t\\NOPE\\\tLOST\t\t20200101000000\t0\r\n"
                        "0\t\\NOPE\\\tLOST.TXT\t" + f + "\t20200101000000\t0\r\n"
                        "0\tD\\\tREL.TXT\t" + f + "\t20200101000000\t0\r\n"
                        "0\t\\\tDUMMY.BIN\t\t20200101000000\t0\r\n");
  MissingListCloser closer;
  ASSERT_TRUE(form_->FileProjectLoad(Project("p.wpj")));
  QStringList walk;
  form_->mobjImageFile().ChangeISODirectory(QStringLiteral("\\"));
  Walk(walk);
  ASSERT_EQ(walk.size(), 2) << walk.join(u'\n').toStdString();
  EXPECT_TRUE(walk[0].startsWith(QStringLiteral("\\D dir=1")));
  EXPECT_TRUE(walk[1].startsWith(QStringLiteral("\\D\\IN.TXT dir=0")));
  ASSERT_EQ(closer.lists.size(), 1);
  EXPECT_EQ(closer.lists[0], QStringList({Q(Host("f.txt")), Q(Host("f.txt"))}));
  EXPECT_EQ(NodeKeys(), QStringList({QStringLiteral("/"), QStringLiteral("/D/")}));
}

// A source field with a NUL escape or an invalid escape names no file: it is
// listed as missing as the project spells it, and neither the path before
// the NUL nor a file of another name is added.
TEST_F(ProjectFileTest, SourcesWithBrokenEscapesAreListedAsMissing) {
  OpenWithTemp();
  Write(Host("a"), "the path before the NUL");
  Write(Host("zz"), "a file the broken escape might name");
  Write(Host("%zz"), "a file the broken escape might name");
  const std::string folder = Host("").string();
  const std::string nul = "file://" + folder + "a%00b.txt";
  const std::string invalid = "file://" + folder + "%zz";
  WriteProject("p.wpj", "[Data]\r\n0\t\\\tNUL.TXT\t" + nul + "\t20200101000000\t0\r\n0\t\\\tBAD.TXT\t" + invalid +
                            "\t20200101000000\t0\r\n");
  MissingListCloser closer;
  ASSERT_TRUE(form_->FileProjectLoad(Project("p.wpj")));
  QStringList walk;
  form_->mobjImageFile().ChangeISODirectory(QStringLiteral("\\"));
  Walk(walk);
  EXPECT_TRUE(walk.isEmpty()) << walk.join(u'\n').toStdString();
  ASSERT_EQ(closer.lists.size(), 1);
  EXPECT_EQ(closer.lists[0], QStringList({QString::fromStdString(nul), QString::fromStdString(invalid)}));
}

// A write-protected project file is refused as the other saves refuse it:
// told with its name, and the file is left as it was.
TEST_F(ProjectFileTest, AWriteProtectedProjectIsRefusedAndKept) {
  OpenWithTemp();
  BuildLayout(false);
  const std::string old = "[Mastering]\r\nLabel=KEPT\r\n";
  WriteProject("p.wpj", old);
  std::filesystem::permissions(scratch_ / "p.wpj", std::filesystem::perms(0444));
  EXPECT_FALSE(form_->SaveProject(Project("p.wpj")));
  ui_.QueueSaveFile(Project("p.wpj"));
  form_->mnuFileProjectSave_Click();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("ファイル %1 が開けません。").arg(Project("p.wpj")));
  EXPECT_EQ(ui_.messages()[0].style, 16);
  EXPECT_EQ(testing::ReadFileBytes(scratch_ / "p.wpj"), old);
  EXPECT_EQ(std::filesystem::status(scratch_ / "p.wpj").permissions(), std::filesystem::perms(0444));
}

// Every file of the hostile corpus loads without a crash, a hang or a box per line.
TEST_F(ProjectFileTest, TheHostileCorpusLoadsQuietly) {
  OpenWithTemp();
  Wave(Host("w.wav"), 10);
  Write(Host("a.txt"), "a");
  ASSERT_EQ(::mkfifo(Host("fifo.wav").c_str(), 0600), 0);
  Write(Host("self.m3u"), Host("self.m3u").string() + "\r\n");
  const std::string huge(1 << 20, 'x');
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& entry : std::filesystem::directory_iterator(SourceDir() / "project_corpus"))
    files.emplace_back(entry.path().filename().string(), Fixture(entry.path()));
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 10u);
  files.emplace_back("huge-lines", "[Mastering]\r\nLabel=" + huge + "\r\nAlbum=" + huge + "\r\n[Data]\r\n1\t\\\t" + huge +
                                       "\t\t\t\r\n0\t\\\t" + huge + "\t" + Host("a.txt").string() + "\t\t\r\n[Audio]\r\n" +
                                       huge + "\t" + huge + "\r\n150\t0\t0\t" + Host("w.wav").string() + "\t" + huge + "\r\n" + huge);
  MissingListCloser closer;
  for (const auto& [name, bytes] : files) {
    ui_.Clear();
    WriteProject("hostile.wpj", bytes);
    EXPECT_TRUE(form_->FileProjectLoad(Project("hostile.wpj"))) << name;
    EXPECT_LE(ui_.messages().size(), 1) << name;
    // The layout stays usable: it is saved and loaded again.
    EXPECT_TRUE(form_->SaveProject(Project("again.wpj"))) << name;
    EXPECT_TRUE(form_->FileProjectLoad(Project("again.wpj"))) << name;
  }
  EXPECT_LE(closer.lists.size(), 2 * files.size());
}

// A project of a few hundred entries, written in the order the window saves
// with the names of every folder shuffled: the directory tree comes out in
// the view's order with its folders open, the view ends at the root with the
// root node current, the whole layout is recorded by the history, and the
// display is drawn at most once while the clock stands still (not once per
// line). With host files gone, exactly those are listed, in line order.
TEST_F(ProjectFileTest, ABigProjectFillsTheTreeInOrderAndListsExactlyTheMissingFiles) {
  OpenWithTemp();
  std::mt19937 random(40);
  auto shuffled = [&random](const char* prefix, int count) {
    QStringList names;
    for (int i = 0; i < count; ++i) names << QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(i, 2, 10, QLatin1Char('0'));
    std::shuffle(names.begin(), names.end(), random);
    return names;
  };
  const QString stamp = QStringLiteral("\t20200102030405\t0\r\n");
  QString data = QStringLiteral("[Mastering]\r\nFileSystem=17\r\n\r\n[Data]\r\n");
  QList<testing::NodeSpec> specs;
  QStringList entries;  // as the history names them
  QStringList sources;  // file sources in line order
  const QString host = Q(Host(""));
  const QStringList tops = shuffled("T", 10);
  for (const QString& top : tops) {
    data += QStringLiteral("1\t\\\t") + top + u'\t' + host + top + stamp;
    specs.append({QStringLiteral("/"), top});
    entries << u'\\' + top;
  }
  for (const QString& top : tops) {
    const QStringList subs = shuffled("s", 6);
    for (const QString& sub : subs) {
      data += QStringLiteral("1\t\\") + top + QStringLiteral("\\\t") + sub + u'\t' + stamp;
      specs.append({u'/' + top + u'/', sub});
      entries << u'\\' + top + u'\\' + sub;
    }
    for (const QString& sub : subs) {
      for (int f = 0; f < 5; ++f) {
        const QString name = QStringLiteral("f%1.dat").arg(f);
        const QString source = host + top + u'/' + sub + u'/' + name;
        Write(source.toStdString(), "x");
        data += QStringLiteral("0\t\\") + top + u'\\' + sub + QStringLiteral("\\\t") + name + u'\t' + source + stamp;
        entries << u'\\' + top + u'\\' + sub + u'\\' + name;
        sources << source;
      }
    }
  }
  WriteProject("big.wpj", (data + QStringLiteral("\r\n[Audio]\r\n")).toStdString());

  // The view stands in a folder of the old layout with a row selected.
  Write(Host("old/inner/x.txt"));
  form_->AddPathToLayout(Q(Host("old")));
  ASSERT_TRUE(form_->mobjImageFile().ChangeISODirectory(QStringLiteral("old")));
  Pump();
  SelectOnly(QStringLiteral("inner"));

  {
    PaintCount panel(form_->StatusPanel());
    testing::ScopedManualClock still;
    ASSERT_TRUE(form_->FileProjectLoad(Project("big.wpj")));
    EXPECT_LE(panel.paints, 1);
  }
  EXPECT_TRUE(ui_.messages().isEmpty()) << MessageTexts().join(u';').toStdString();
  EXPECT_EQ(testing::Outline(form_->trvDirectory()), testing::SortedByTheView(specs));
  for (QTreeWidgetItemIterator it(form_->trvDirectory()); *it; ++it)
    EXPECT_EQ((*it)->isExpanded(), (*it)->childCount() > 0) << (*it)->data(0, kNodeKeyRole).toString().toStdString();
  Pump();
  Tazol& image = form_->mobjImageFile();
  EXPECT_EQ(image.GetISOCurrentDirectory(), QStringLiteral("\\"));
  QTreeWidgetItem* root = form_->DirectoryNode(QStringLiteral("/"));
  EXPECT_EQ(form_->trvDirectory()->currentItem(), root);
  EXPECT_TRUE(root->isSelected());
  QStringList root_rows;
  for (auto record = image.FindISOFirstFile(); record; record = image.FindISONextFile())
    if (record->Name != u"." && record->Name != u"..") root_rows << record->Name + QStringLiteral("|<DIR>");
  EXPECT_EQ(Rows(), root_rows);
  EXPECT_TRUE(form_->StatusPanel()->text().isEmpty());

  // The history walks the whole loaded layout.
  ASSERT_TRUE(testing::RequireTool("sqlite3"));
  const std::filesystem::path database = scratch_ / "history.mdb";
  ASSERT_TRUE(CreateHistoryDatabase(Q(database)));
  ASSERT_TRUE(WriteHistory(Q(database), image, QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9))));
  std::string out;
  ASSERT_EQ(testing::RunCommand("sqlite3 '" + database.string() + "' 'SELECT NAME FROM FILE;'", &out), 0);
  QStringList recorded = QString::fromStdString(out).split(u'\n', Qt::SkipEmptyParts);
  QStringList expected = entries;
  recorded.sort();
  expected.sort();
  EXPECT_EQ(recorded, expected);

  // Some host files gone: exactly those are listed, in the order of their lines,
  // while the status panel shows the source of the last file line.
  const QStringList gone = {sources[7], sources[8], sources[150], sources.last()};
  for (const QString& path : gone) ASSERT_TRUE(QFile::remove(path));
  MissingListCloser closer;
  QString panel_text;
  closer.on_show = [&] { panel_text = form_->StatusPanel()->text(); };
  ASSERT_TRUE(form_->FileProjectLoad(Project("big.wpj")));
  ASSERT_EQ(closer.lists.size(), 1);
  EXPECT_EQ(closer.lists[0], gone);
  EXPECT_EQ(panel_text, sources.last());
  EXPECT_TRUE(form_->StatusPanel()->text().isEmpty());
  EXPECT_EQ(testing::Outline(form_->trvDirectory()), testing::SortedByTheView(specs));
}

}  // namespace
}  // namespace sorvel
