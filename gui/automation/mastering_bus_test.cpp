// The automation server as a client meets it: `sorvel --automation` on a
// private session bus, driven over D-Bus by a client of the test rig.
#include "gui/automation/mastering_bus.h"

#include "gui/automation/automation_service.h"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDeadlineTimer>
#include <QProcess>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QEventLoop>
#include <QTimer>
#include <climits>
#include <csignal>
#include <vector>

#include "gui/jobs/disc_reader.h"
#include "gui/jobs/mastering_test_rig.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/trelin.h"
#include "testing/gui/mastering_bus_client.h"
#include "testing/gui/private_bus.h"
#include "testing/gui/python_bus_script.h"
#include "testing/scoped_env.h"

namespace sorvel {
namespace {

using testing::BoolOf;
using testing::BusClient;
using testing::ErrorOf;
using testing::MasteringDriveRig;
using testing::NameGone;
using testing::Q;
using testing::ScratchDir;
using testing::ValueOf;

constexpr int kCallTimeoutMs = testing::kBusCallTimeoutMs;
const QString kBusName = QString::fromLatin1(kAutomationBusName);

class MasteringServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.path() / "src");
    std::filesystem::create_directories(dir_.path() / "tree" / "sub");
    std::filesystem::create_directories(dir_.path() / "other" / "a.txt");
    testing::WriteFileBytes(dir_.path() / "src" / "a.txt", std::string(70000, 'a'));
    testing::WriteFileBytes(dir_.path() / "src" / "b.txt", "b text");
    testing::WriteFileBytes(dir_.path() / "src" / "c.bin", "not a text");
    testing::WriteFileBytes(dir_.path() / "tree" / "sub" / "deep.dat", std::string(5000, '\x5A'));
    ASSERT_TRUE(bus_.ok());
    ASSERT_TRUE(bus_.StartService(Q(testing::BuiltLibraryPath("sorvel")), {QStringLiteral("--automation")}, kBusName));
  }
  QString Path(const std::string& relative) const { return Q(dir_.path() / relative); }
  // Waits (bounded) until the server has left the bus.
  bool ServerGone() { return NameGone(bus_, kBusName); }
  // Reads the disc in the open drive into back/Disc.img with its sheet and
  // closes the drive; the folder "back".
  std::string ReadBack(Trelin& drive) {
    std::filesystem::create_directories(dir_.path() / "back");
    DiscReader reader;
    EXPECT_TRUE(reader.StartReadCompatible(drive, Path("back/Disc.img")));
    drive.CloseDevice();
    return (dir_.path() / "back").string();
  }

  ScratchDir dir_;
  MasteringDriveRig rig_{dir_, "medium=cd-r"};
  testing::PrivateBus bus_;
};

// A layout of directories, files and two audio tracks, burnt to the emulated
// CD-R with EjectAfterBurn; Progress ends at the total, the tray is open
// afterwards, and independent tools find the files and the audio unchanged.
TEST_F(MasteringServiceTest, LayoutBurntOverTheBusReadsBackIdentical) {
  for (const char* tool : {"bchunk", "isoinfo"}) ASSERT_TRUE(testing::RequireTool(tool));
  const std::string track1 = testing::TrackSamples(300, 1), track2 = testing::TrackSamples(225, 2);
  testing::WriteTrack(dir_.path() / "one.wav", track1);
  testing::WriteTrack(dir_.path() / "two.wav", track2);
  BusClient client(bus_, QStringLiteral("client"));
  const QString object = client.Create();
  ASSERT_FALSE(object.isEmpty());
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("InitISOFS"), {16})));
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("IsISOEmpty"))));
  // VolumeLabel is a property; setting it trims the value.
  const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
  const QVariantList label{QString::fromLatin1(kMasteringInterface), QStringLiteral("VolumeLabel")};
  EXPECT_EQ(client.Call(object, properties, QStringLiteral("Set"),
                        label + QVariantList{QVariant::fromValue(QDBusVariant(QStringLiteral("  AUTOMATION  ")))})
                .type(),
            QDBusMessage::ReplyMessage);
  const QDBusMessage got = client.Call(object, properties, QStringLiteral("Get"), label);
  ASSERT_EQ(got.arguments().size(), 1);
  EXPECT_EQ(got.arguments().first().value<QDBusVariant>().variant().toString(), QStringLiteral("AUTOMATION"));

  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddFile"), {Path("src/*.txt"), QStringLiteral("docs\\2013")})));
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddFile"), {Path("tree"), QString()})));
  EXPECT_FALSE(BoolOf(client.Member(object, QStringLiteral("AddFile"), {Path("src/*.none"), QString()})));
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddTrack"), {Path("one.wav"), 150, 0, 0})));
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddTrack"), {Path("two.wav"), 150, 0, 2})));
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddTrack"), {Path("two.wav"), 150, 0, 0})));
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("RemoveTrack"), {4})));
  const QDBusMessage count = client.Member(object, QStringLiteral("GetTrackCount"));
  ASSERT_EQ(count.arguments().size(), 1);
  EXPECT_EQ(count.arguments().first().toInt(), 3);
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("IsReady"), {QStringLiteral("D:")})));
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("IsDiscWritable"), {QStringLiteral("d")})));

  const QDBusMessage burnt = client.CallRunning(object, QStringLiteral("StartBurn"), {QStringLiteral("D:\\"), true});
  EXPECT_TRUE(BoolOf(burnt)) << ErrorOf(burnt).toStdString();
  ASSERT_FALSE(client.progress.empty());
  int previous = -1;
  for (const auto& [value, total] : client.progress) {
    EXPECT_GE(value, 0);
    EXPECT_GT(value, previous);
    previous = value;
    EXPECT_EQ(total, client.progress.back().second);
  }
  EXPECT_EQ(client.progress.back().first, client.progress.back().second);
  EXPECT_FALSE(BoolOf(client.Member(object, QStringLiteral("IsReady"), {QStringLiteral("D")})));  // ejected
  EXPECT_TRUE(BoolOf(client.Release(object)));
  // The last object released: the server ends.
  ASSERT_TRUE(ServerGone());

  Trelin drive;
  ASSERT_TRUE(drive.OpenDevice(3));
  EXPECT_FALSE(drive.IsReady());
  ASSERT_TRUE(drive.LoadTray(true));
  ASSERT_TRUE(drive.IsReady());
  EXPECT_FALSE(drive.IsMediaWritable());
  const std::string back = ReadBack(drive);
  std::string output;
  // RunCommand appends to the output it is given.
  const auto run = [&output](const std::string& command) {
    output.clear();
    return testing::RunCommand(command, &output);
  };
  ASSERT_EQ(run("cd '" + back + "' && bchunk -w Disc.img Disc.cue part 2>&1"), 0) << output;
  const std::string iso = back + "/part01.iso";
  ASSERT_EQ(run("isoinfo -d -i '" + iso + "' 2>&1"), 0);
  EXPECT_NE(output.find("Volume id: AUTOMATION"), std::string::npos) << output;
  const struct {
    const char* on_disc;
    const char* source;
  } files[] = {{"/docs/2013/a.txt;1", "src/a.txt"},
                 {"/docs/2013/b.txt;1", "src/b.txt"},
                 {"/tree/sub/deep.dat;1", "tree/sub/deep.dat"}};
  for (const auto& f : files) {
    ASSERT_EQ(run("isoinfo -J -i '" + iso + "' -x '" + f.on_disc + "'"), 0) << f.on_disc;
    EXPECT_TRUE(output == testing::ReadFileBytes(dir_.path() / f.source)) << f.on_disc;
  }
  ASSERT_EQ(run("isoinfo -J -f -i '" + iso + "'"), 0);
  EXPECT_EQ(output.find("c.bin"), std::string::npos) << output;
  // Each audio track holds its samples; what follows them (the next pregap) is silence.
  const std::pair<const char*, const std::string*> tracks[] = {{"/part02.wav", &track1}, {"/part03.wav", &track2}};
  for (const auto& [name, samples] : tracks) {
    const std::string wav = testing::ReadFileBytes(back + name);
    ASSERT_GE(wav.size(), 44 + samples->size()) << name;
    EXPECT_TRUE(wav.compare(44, samples->size(), *samples) == 0) << name;
    EXPECT_EQ(wav.find_first_not_of('\0', 44 + samples->size()), std::string::npos) << name;
  }
}

// A folder whose names are not all UTF-8, added over the bus and burnt: every
// file is on the disc, the odd name decoded with "_" for its odd byte, and
// each reads back equal to its source.
TEST_F(MasteringServiceTest, FolderWithANameThatIsNotUtf8BurnsEveryFile) {
  for (const char* tool : {"bchunk", "isoinfo"}) ASSERT_TRUE(testing::RequireTool(tool));
  const std::filesystem::path odd = dir_.path() / "odd";
  std::filesystem::create_directories(odd);
  const struct {
    std::string host;
    const char* on_disc;
    std::string data;
  } files[] = {{"a.txt", "/odd/a.txt;1", std::string(3000, 'a')},
               {"\xFF.txt", "/odd/_.txt;1", std::string(70000, '\xFF')},
               {"z.txt", "/odd/z.txt;1", "z"}};
  for (const auto& f : files) testing::WriteFileBytes(odd / f.host, f.data);
  BusClient client(bus_, QStringLiteral("client"));
  const QString object = client.Create();
  ASSERT_FALSE(object.isEmpty());
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("InitISOFS"), {16})));
  const QDBusMessage added = client.Member(object, QStringLiteral("AddFile"), {Path("odd"), QString()});
  EXPECT_TRUE(BoolOf(added)) << ErrorOf(added).toStdString();
  const QDBusMessage burnt = client.CallRunning(object, QStringLiteral("StartBurn"), {QStringLiteral("D"), false});
  EXPECT_TRUE(BoolOf(burnt)) << ErrorOf(burnt).toStdString();
  EXPECT_TRUE(BoolOf(client.Release(object)));
  ASSERT_TRUE(ServerGone());

  Trelin drive;
  ASSERT_TRUE(drive.OpenDevice(3));
  const std::string back = ReadBack(drive);
  std::string output;
  ASSERT_EQ(testing::RunCommand("cd '" + back + "' && bchunk Disc.img Disc.cue part 2>&1", &output), 0) << output;
  const std::string iso = back + "/part01.iso";
  output.clear();
  ASSERT_EQ(testing::RunCommand("isoinfo -J -f -i '" + iso + "'", &output), 0);
  EXPECT_EQ(output, "/odd\n/odd/a.txt;1\n/odd/z.txt;1\n/odd/_.txt;1\n");
  for (const auto& f : files) {
    output.clear();
    ASSERT_EQ(testing::RunCommand("isoinfo -J -i '" + iso + "' -x '" + f.on_disc + "'", &output), 0) << f.on_disc;
    EXPECT_TRUE(output == f.data) << f.on_disc;
  }
}

// The members with defaulted trailing arguments answer without them, as with
// the defaults: AddFile to the root, AddTrack with control 0, StartBurn
// ejecting afterwards.
TEST_F(MasteringServiceTest, DefaultedArgumentsMayBeLeftOut) {
  testing::WriteTrack(dir_.path() / "one.wav", testing::TrackSamples(300, 1));
  BusClient client(bus_, QStringLiteral("client"));
  const QString object = client.Create();
  ASSERT_FALSE(object.isEmpty());
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddFile"), {Path("src/b.txt")})));
  // In the root: the same file there again cannot be added, below it it can.
  const QString exists = QStringLiteral("SORVEL.Mastering.Error.E80040002 ファイル ") + Path("src/b.txt") +
                         QStringLiteral(" は追加できません。");
  EXPECT_EQ(ErrorOf(client.Member(object, QStringLiteral("AddFile"), {Path("src/b.txt")})), exists);
  EXPECT_EQ(ErrorOf(client.Member(object, QStringLiteral("AddFile"), {Path("src/b.txt"), QString()})), exists);
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddFile"), {Path("src/b.txt"), QStringLiteral("sub")})));
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddTrack"), {Path("one.wav"), 150, 0})));
  const QDBusMessage burnt = client.CallRunning(object, QStringLiteral("StartBurn"), {QStringLiteral("D:")});
  EXPECT_TRUE(BoolOf(burnt)) << ErrorOf(burnt).toStdString();
  EXPECT_FALSE(BoolOf(client.Member(object, QStringLiteral("IsReady"), {QStringLiteral("D")})));  // ejected
  EXPECT_TRUE(BoolOf(client.Release(object)));
  ASSERT_TRUE(ServerGone());

  Trelin drive;
  ASSERT_TRUE(drive.OpenDevice(3));
  ASSERT_TRUE(drive.LoadTray(true));
  ASSERT_EQ(drive.ReadStart(CCC_RAW, 0), CBR_OK);
  const auto toc = drive.GetTOCStructure();
  ASSERT_NE(toc, nullptr);
  ASSERT_GE(toc->TOCCount(), 2);
  const model::TOCTrack* audio = toc->TOC(toc->TOCCount());
  EXPECT_EQ(audio->TrackNo, 2);
  EXPECT_EQ(audio->Flags, 0);  // control 0: no copy permission, no pre-emphasis
  drive.ReadEnd();
  drive.CloseDevice();
}

// The three errors, with the D-Bus name holding the number and the message
// holding the text; the factory's bookkeeping.
TEST_F(MasteringServiceTest, ErrorsCarryTheirNumberAndText) {
  BusClient client(bus_, QStringLiteral("client"));
  const QString object = client.Create();
  const QString second = client.Create();
  ASSERT_FALSE(object.isEmpty());
  EXPECT_NE(object, second);
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddFile"), {Path("src/a.txt"), QStringLiteral("d")})));
  EXPECT_EQ(ErrorOf(client.Member(object, QStringLiteral("AddFile"), {Path("src/*.txt"), QStringLiteral("d")})),
            QStringLiteral("SORVEL.Mastering.Error.E80040002 ファイル ") + Path("src/a.txt") +
                QStringLiteral(" は追加できません。"));
  EXPECT_EQ(ErrorOf(client.Member(object, QStringLiteral("AddFile"), {Path("other/a.txt"), QStringLiteral("d")})),
            QStringLiteral("SORVEL.Mastering.Error.E80040001 ディレクトリ a.txt は作成できません。"));
  EXPECT_EQ(ErrorOf(client.Member(object, QStringLiteral("StartBurn"), {QStringLiteral("Q:"), true})),
            QStringLiteral("SORVEL.Mastering.Error.E80040003 指定されたドライヴは利用できません。"));
  EXPECT_EQ(ErrorOf(client.Member(second, QStringLiteral("StartBurn"), {QStringLiteral("D"), false})),
            QStringLiteral("SORVEL.Mastering.Error.E80040003 "
                           "書き込みしようとするからには、内容物を配置しなければ成りません。"));
  EXPECT_FALSE(BoolOf(client.Member(object, QStringLiteral("StopBurn"))));
  // Another client may not release them; an unknown path is not released.
  BusClient stranger(bus_, QStringLiteral("stranger"));
  EXPECT_EQ(stranger.Release(object).errorName(), QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"));
  EXPECT_FALSE(BoolOf(client.Release(QStringLiteral("/SORVEL/Mastering/999"))));
  EXPECT_TRUE(BoolOf(client.Release(object)));
  EXPECT_EQ(ErrorOf(client.Member(object, QStringLiteral("StopBurn"))).section(u' ', 0, 0),
            QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"));
  EXPECT_TRUE(BoolOf(client.Member(second, QStringLiteral("IsISOEmpty"))));
  EXPECT_TRUE(BoolOf(client.Release(second)));
  EXPECT_TRUE(ServerGone());
}

// A DVD+RW and a DVD-RW holding a disc (burnt first), and a layout larger
// than either holds once formatted or erased: StartBurn raises the text of an
// image too large, and the disc's data is as it was.
class RewritableBurnTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.ok());
    ASSERT_TRUE(bus_.StartService(Q(testing::BuiltLibraryPath("sorvel")), {QStringLiteral("--automation")}, kBusName));
  }
  QString Path(const std::string& relative) const { return Q(dir_.path() / relative); }

  ScratchDir dir_;
  MasteringDriveRig rig_{dir_, std::string("medium=") + GetParam()};
  testing::PrivateBus bus_;
};

TEST_P(RewritableBurnTest, LayoutLargerThanTheDiscLeavesItAsItWas) {
  testing::WriteFileBytes(dir_.path() / "small.txt", std::string(70000, 's'));
  BusClient client(bus_, QStringLiteral("client"));
  const QString object = client.Create();
  ASSERT_FALSE(object.isEmpty());
  ASSERT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddFile"), {Path("small.txt"), QString()})));
  const QDBusMessage first = client.CallRunning(object, QStringLiteral("StartBurn"), {QStringLiteral("D:"), false});
  ASSERT_TRUE(BoolOf(first)) << ErrorOf(first).toStdString();
  const std::string data_path = rig_.drive().path() + ".data";
  const std::string before = testing::ReadFileBytes(data_path);
  ASSERT_FALSE(before.empty());

  // Two sparse files, 4.8 GB together: more than the 4.7 GB disc holds.
  for (const char* name : {"part1.bin", "part2.bin"}) {
    const std::filesystem::path path = dir_.path() / name;
    testing::WriteFileBytes(path, "");
    std::filesystem::resize_file(path, 2400000000);
    ASSERT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddFile"), {Path(name), QString()})));
  }
  const QDBusMessage second = client.CallRunning(object, QStringLiteral("StartBurn"), {QStringLiteral("D:"), false});
  EXPECT_EQ(ErrorOf(second), QStringLiteral("SORVEL.Mastering.Error.E80040003 "
                                            "書き込み対象のデータ容量はメディアの容量を超えています。"));
  EXPECT_TRUE(testing::ReadFileBytes(data_path) == before);
  EXPECT_TRUE(BoolOf(client.Release(object)));
  EXPECT_TRUE(NameGone(bus_, kBusName));
}

INSTANTIATE_TEST_SUITE_P(Media, RewritableBurnTest, ::testing::Values("dvd+rw", "dvd-rw"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param)[3] == '+' ? "DvdPlusRw" : "DvdMinusRw";
                         });

// StopBurn from the client while the burn runs: the burn ends with 0x80040003
// and the write's error text.
TEST_F(MasteringServiceTest, StopBurnDuringABurn) {
  testing::WriteTrack(dir_.path() / "long.wav", testing::TrackSamples(6000, 3));
  BusClient client(bus_, QStringLiteral("client"));
  const QString object = client.Create();
  ASSERT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddTrack"), {Path("long.wav"), 150, 0, 0})));
  std::unique_ptr<QDBusPendingCallWatcher> stop;
  client.on_progress = [&](int, int) {
    if (!stop) stop = std::make_unique<QDBusPendingCallWatcher>(client.Send(object, QStringLiteral("StopBurn")));
  };
  const QDBusMessage burnt = client.CallRunning(object, QStringLiteral("StartBurn"), {QStringLiteral("D"), false});
  ASSERT_TRUE(stop != nullptr);
  stop->waitForFinished();
  EXPECT_TRUE(BoolOf(stop->reply()));
  const QString error = ErrorOf(burnt);
  EXPECT_TRUE(error.startsWith(QStringLiteral("SORVEL.Mastering.Error.E80040003 セクタ "))) << error.toStdString();
  EXPECT_LT(client.progress.back().first, client.progress.back().second);
  EXPECT_FALSE(BoolOf(client.Member(object, QStringLiteral("StopBurn"))));
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("IsReady"), {QStringLiteral("D")})));  // not ejected
}

// SIGTERM (or SIGINT) to the server during a burn stops it as StopBurn does:
// the client's StartBurn is answered with the stopped write's error, the
// disc is closed and the tray unlocked as a stop leaves them, and only then
// does the server end, by that signal.
TEST_F(MasteringServiceTest, TerminatingSignalDuringABurnStopsItAndAnswersFirst) {
  testing::WriteTrack(dir_.path() / "long.wav", testing::TrackSamples(6000, 3));
  BusClient client(bus_, QStringLiteral("client"));
  const QString object = client.Create();
  ASSERT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddTrack"), {Path("long.wav"), 150, 0, 0})));
  QProcess& server = bus_.Service(0);
  bool signalled = false;
  client.on_progress = [&](int, int) {
    if (!signalled) signalled = ::kill(static_cast<pid_t>(server.processId()), SIGTERM) == 0;
  };
  const QDBusMessage burnt = client.CallRunning(object, QStringLiteral("StartBurn"), {QStringLiteral("D"), false});
  ASSERT_TRUE(signalled);
  const QString error = ErrorOf(burnt);
  EXPECT_TRUE(error.startsWith(QStringLiteral("SORVEL.Mastering.Error.E80040003 セクタ "))) << error.toStdString();
  ASSERT_TRUE(server.waitForFinished(30000));
  EXPECT_EQ(server.exitStatus(), QProcess::CrashExit);
  EXPECT_EQ(server.exitCode(), SIGTERM);
  EXPECT_NE(testing::ReadFileBytes(rig_.drive().path()).find("lock 0\n"), std::string::npos);
}

// While one client's burn runs: another client's StartBurn raises 0x80040003
// with the text of a drive that cannot be used, and the calls of both
// clients on their other objects are answered before the burn's own answer
// (on one connection the answers come in the order the server gave them).
// How fast they are answered is measured by the burn benchmark.
TEST_F(MasteringServiceTest, ASecondBurnRaisesAndOtherCallsAreAnsweredDuringABurn) {
  testing::WriteTrack(dir_.path() / "long.wav", testing::TrackSamples(6000, 3));
  BusClient client(bus_, QStringLiteral("client"));
  BusClient other(bus_, QStringLiteral("other"));
  const QString object = client.Create();
  const QString idle = client.Create();
  const QString second = other.Create();
  ASSERT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddTrack"), {Path("long.wav"), 150, 0, 0})));
  ASSERT_TRUE(BoolOf(other.Member(second, QStringLiteral("AddTrack"), {Path("long.wav"), 150, 0, 0})));
  QString second_burn;
  bool burn_answered_first = false;
  std::unique_ptr<QDBusPendingCallWatcher> stop;
  QDBusPendingCall burn = client.Send(object, QStringLiteral("StartBurn"), {QStringLiteral("D"), false});
  client.on_progress = [&](int, int) {
    if (stop) return;
    second_burn = ErrorOf(other.Member(second, QStringLiteral("StartBurn"), {QStringLiteral("D"), false}));
    EXPECT_TRUE(BoolOf(other.Member(second, QStringLiteral("IsISOEmpty"))));
    EXPECT_EQ(ValueOf(client.Member(idle, QStringLiteral("GetTrackCount"))).toInt(), 0);
    burn_answered_first = burn.isFinished();
    stop = std::make_unique<QDBusPendingCallWatcher>(client.Send(object, QStringLiteral("StopBurn")));
  };
  QDBusPendingCallWatcher burning(burn);
  QEventLoop loop;
  QObject::connect(&burning, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
  QTimer::singleShot(BusClient::kCallTimeoutMs, &loop, &QEventLoop::quit);
  if (!burning.isFinished()) loop.exec();
  const QDBusMessage burnt = burning.reply();
  ASSERT_TRUE(stop != nullptr);
  EXPECT_FALSE(burn_answered_first);
  EXPECT_EQ(second_burn, QStringLiteral("SORVEL.Mastering.Error.E80040003 指定されたドライヴは利用できません。"));
  // Stopped, or (on a loaded machine) written before the stop came.
  EXPECT_TRUE(BoolOf(burnt) || ErrorOf(burnt).startsWith(QStringLiteral("SORVEL.Mastering.Error.E80040003 セクタ ")))
      << ErrorOf(burnt).toStdString();
}

// The windows process `pid` shows on the display (by xdotool); -1 when
// they cannot be listed.
int ShownWindows(qint64 pid) {
  QProcess search;
  search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                           QStringLiteral("--pid"), QString::number(pid)});
  if (!search.waitForFinished(30000) || search.exitStatus() != QProcess::NormalExit) return -1;
  // xdotool answers 1 with no output when it finds none.
  if (search.exitCode() > 1) return -1;
  const QByteArray found = search.readAllStandardOutput().trimmed();
  return found.isEmpty() ? 0 : static_cast<int>(found.split('\n').size());
}

// The screen once it has stopped changing (the windows shown have painted):
// two grabs in a row alike.
QImage SettledScreen() {
  QImage last = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
  for (int i = 0; i < 100; ++i) {
    QThread::msleep(50);
    QImage now = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    if (now == last) break;
    last = std::move(now);
  }
  return last;
}

// Under a display (this test runs under Xvfb): the burn dialog a client
// opened (its screenshot written as AutomationWellWriteForm.png) closes when
// the client leaves the bus, with the message box it shows, and the server,
// idle again, ends.
TEST_F(MasteringServiceTest, BurnDialogScreenshotOfAClientThatLeavesIsClosed) {
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
  testing::WriteTrack(dir_.path() / "one.wav", testing::TrackSamples(300, 1));
  const struct {
    const char* name;
    const char* drive;
    bool drive_in_use;   // this process holds the drive open
    const char* screenshot;
  } cases[] = {
      {"the dialog", "", false, "AutomationWellWriteForm.png"},
      {"a box on a drive it cannot take", "Q", false, nullptr},
      {"its drive in use", "D", true, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QDBusConnection watch = bus_.Connect(QStringLiteral("watch"));
    if (!watch.interface()->isServiceRegistered(kBusName)) {
      ASSERT_TRUE(bus_.StartService(Q(testing::BuiltLibraryPath("sorvel")), {QStringLiteral("--automation")}, kBusName));
    }
    const qint64 pid = testing::OwnerProcessId(bus_, kBusName);
    ASSERT_GT(pid, 0);
    Trelin holder;
    if (c.drive_in_use) {
      ASSERT_TRUE(holder.OpenDevice(3));
    }
    {
      BusClient client(bus_, QStringLiteral("client"));
      const QString object = client.Create();
      ASSERT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddTrack"), {Path("one.wav"), 150, 0, 0})));
      QDBusPendingCall dialog = client.Send(object, QStringLiteral("ShowBurnDialog"),
                                            {0, QStringLiteral("Automation"), QLatin1String(c.drive)});
      QDeadlineTimer shown(60000);
      int windows = 0;
      while ((windows = ShownWindows(pid)) == 0 && !shown.hasExpired()) QThread::msleep(20);
      ASSERT_GT(windows, 0);
      EXPECT_FALSE(dialog.isFinished()) << ErrorOf(dialog.reply()).toStdString();
      if (c.screenshot != nullptr) {
        const QString folder = qEnvironmentVariable("SORVEL_SCREENSHOT_DIR");
        ASSERT_FALSE(folder.isEmpty());
        QDir().mkpath(folder);
        EXPECT_TRUE(SettledScreen().save(folder + u'/' + QLatin1String(c.screenshot)));
      }
      client.Leave();
    }
    EXPECT_TRUE(NameGone(bus_, kBusName, 30000));
    if (c.drive_in_use) holder.CloseDevice();
  }
}

// A burn of about 12,000 sectors tells its client its progress in steps of
// a thousandth of the total at the most, rising, ending at the total.
TEST_F(MasteringServiceTest, ProgressComesInThousandthsOfTheTotal) {
  testing::WriteFileBytes(dir_.path() / "big.bin", std::string(12000 * 2048, '\x33'));
  BusClient client(bus_, QStringLiteral("client"));
  const QString object = client.Create();
  ASSERT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddFile"), {Path("big.bin"), QString()})));
  const QDBusMessage burnt = client.CallRunning(object, QStringLiteral("StartBurn"), {QStringLiteral("D"), false});
  ASSERT_TRUE(BoolOf(burnt)) << ErrorOf(burnt).toStdString();
  ASSERT_FALSE(client.progress.empty());
  const int total = client.progress.back().second;
  EXPECT_GT(total, 12000);
  EXPECT_EQ(client.progress.back().first, total);
  EXPECT_LE(client.progress.size(), 1002u);
  EXPECT_GE(client.progress.size(), 900u);
  // Each signal in a thousandth of its own, every one for the same total.
  int same_step = 0, other_total = 0;
  for (size_t i = 1; i < client.progress.size(); ++i) {
    if (client.progress[i].second != total) ++other_total;
    if (int64_t{client.progress[i].first} * 1000 / total <= int64_t{client.progress[i - 1].first} * 1000 / total)
      ++same_step;
  }
  EXPECT_EQ(same_step, 0);
  EXPECT_EQ(other_total, 0);
}

// A client that leaves the bus while its burn runs: the burn goes on to the
// end, then its objects are released and the server ends.
TEST_F(MasteringServiceTest, ObjectsOfAClientThatLeavesAreReleasedAfterTheBurn) {
  testing::WriteTrack(dir_.path() / "long.wav", testing::TrackSamples(3000, 4));
  {
    BusClient client(bus_, QStringLiteral("leaving"));
    const QString object = client.Create();
    ASSERT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddTrack"), {Path("long.wav"), 150, 0, 0})));
    ASSERT_FALSE(client.Create().isEmpty());  // a second object, idle
    QEventLoop loop;
    client.on_progress = [&](int, int) { loop.quit(); };
    client.Send(object, QStringLiteral("StartBurn"), {QStringLiteral("D"), true});
    QTimer::singleShot(kCallTimeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_FALSE(client.progress.empty());
    client.Leave();
  }
  ASSERT_TRUE(ServerGone());
  Trelin drive;
  ASSERT_TRUE(drive.OpenDevice(3));
  ASSERT_TRUE(drive.LoadTray(true));  // ejected after the burn
  ASSERT_TRUE(drive.IsReady());
  EXPECT_FALSE(drive.IsMediaWritable());  // the whole disc written and closed
  ASSERT_EQ(drive.ReadStart(CCC_RAW, 0), CBR_OK);
  const auto toc = drive.GetTOCStructure();
  ASSERT_NE(toc, nullptr);
  ASSERT_GT(toc->TOCCount(), 0);
  EXPECT_EQ(toc->TOC(toc->TOCCount())->EndLBA, 3000 - 1);
  drive.ReadEnd();
  drive.CloseDevice();
}

// The README's scripts as its shell lines run them, on an emulated blank CD-R
// and DVD-R: the bus given the drive map with dbus-update-activation-
// environment, a server started by hand burns a folder, and once it has
// ended, the server the bus starts prints the disc's tracks. (The TOC script
// read a DVD with CCC_RAW, which a DVD does not take: ReadStart answered 4.)
class ReadmeScriptsTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ReadmeScriptsTest, BurnAFolderThenPrintTheTracks) {
  ASSERT_TRUE(testing::RequirePythonDbus());
  ScratchDir dir;
  const QFileInfo program(Q(testing::BuiltLibraryPath("sorvel")));
  // The bus first, so that it has no drive map of its own.
  testing::PrivateBus bus(QDir::cleanPath(program.absolutePath() + QStringLiteral("/../share/dbus-1/services")));
  ASSERT_TRUE(bus.ok());
  MasteringDriveRig rig(dir, std::string("medium=") + GetParam());
  const auto documents = dir.path() / "Documents";
  std::filesystem::create_directories(documents / "sub");
  testing::WriteFileBytes(documents / "a.txt", std::string(300000, 'a'));
  testing::WriteFileBytes(documents / "sub" / "b.txt", "b");
  QProcess update;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
  update.setProcessEnvironment(env);
  // The settings folder goes too: the server's settings stay in the scratch folder.
  update.start(QStringLiteral("dbus-update-activation-environment"),
               {QStringLiteral("SORVEL_DRIVES"), QStringLiteral("XDG_CONFIG_HOME")});
  ASSERT_TRUE(update.waitForFinished(60000));
  ASSERT_EQ(update.exitCode(), 0) << update.readAllStandardError().toStdString();

  ASSERT_TRUE(bus.StartService(program.absoluteFilePath(), {QStringLiteral("--automation")}, kBusName));
  testing::PythonBusScript burn(bus.address(), testing::ReadmeScript(QStringLiteral("StartBurn")), {Q(documents)});
  ASSERT_TRUE(burn.WaitForEnd(240000));
  EXPECT_EQ(burn.ExitCode(), 0);
  EXPECT_EQ(burn.Output(), QStringLiteral("burned\n"));
  ASSERT_TRUE(NameGone(bus, kBusName));
  testing::PythonBusScript toc(bus.address(), testing::ReadmeScript(QStringLiteral("GetTOCStructure")));
  ASSERT_TRUE(toc.WaitForEnd(120000));
  EXPECT_EQ(toc.ExitCode(), 0);
  const QString output = toc.Output();
  EXPECT_TRUE(output.startsWith(QStringLiteral("track 01 index 01  data   LBA 0 to "))) << output.toStdString();
  EXPECT_EQ(output.count(u'\n'), 1) << output.toStdString();

  // The disc holds the folder itself, with what is below it.
  for (const char* tool : {"bchunk", "isoinfo"}) ASSERT_TRUE(testing::RequireTool(tool));
  Trelin drive;
  ASSERT_TRUE(drive.OpenDevice(3));
  const auto back = dir.path() / "back";
  std::filesystem::create_directories(back);
  DiscReader reader;
  ASSERT_TRUE(reader.StartReadCompatible(drive, Q(back / "Disc.img")));
  drive.CloseDevice();
  std::string listing;
  std::string iso = (back / "Disc.iso").string();
  if (std::string(GetParam()) == "cd-r") {
    ASSERT_EQ(testing::RunCommand("cd '" + back.string() + "' && bchunk Disc.img Disc.cue part 2>&1", &listing), 0)
        << listing;
    iso = (back / "part01.iso").string();
  }
  listing.clear();
  ASSERT_EQ(testing::RunCommand("isoinfo -d -i '" + iso + "'", &listing), 0);
  EXPECT_NE(listing.find("Volume id: BACKUP"), std::string::npos) << listing;
  listing.clear();
  ASSERT_EQ(testing::RunCommand("isoinfo -J -f -i '" + iso + "'", &listing), 0);
  EXPECT_NE(listing.find("/Documents/sub/b.txt"), std::string::npos) << listing;
  EXPECT_NE(listing.find("/Documents/a.txt"), std::string::npos) << listing;
}

INSTANTIATE_TEST_SUITE_P(Media, ReadmeScriptsTest, ::testing::Values("cd-r", "dvd-r"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) == "cd-r" ? "CdR" : "DvdR";
                         });

// The bus starts the server from the activation file of the build when a
// client first calls it, and the server ends with its last object.
TEST(MasteringActivationTest, BusStartsTheServerFromTheActivationFile) {
  ScratchDir dir;
  MasteringDriveRig rig(dir, "medium=cd-r");
  const QFileInfo program(Q(testing::BuiltLibraryPath("sorvel")));
  const QString services = QDir::cleanPath(program.absolutePath() + QStringLiteral("/../share/dbus-1/services"));
  const std::string file = testing::ReadFileBytes(std::filesystem::path(services.toStdString()) / "SORVEL.Mastering.service");
  EXPECT_EQ(file, "[D-BUS Service]\nName=SORVEL.Mastering\nExec=" + program.absoluteFilePath().toStdString() +
                      " --automation\n");
  testing::PrivateBus bus(services);
  ASSERT_TRUE(bus.ok());
  BusClient client(bus, QStringLiteral("client"));
  const QString object = client.Create();
  ASSERT_FALSE(object.isEmpty());
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("IsReady"), {QStringLiteral("D")})));
  EXPECT_TRUE(BoolOf(client.Release(object)));
  EXPECT_TRUE(NameGone(bus, kBusName));
}

// Four clients making, using and releasing 150 objects each, the server
// started by the bus: every call meets the one server and a live object
// (the server used to end whenever its object count touched 0, between one
// client's Create and its next call); the server ends a grace period after.
TEST(MasteringActivationTest, ClientsComingAndGoingMeetOneServer) {
  ASSERT_TRUE(testing::RequirePythonDbus());
  ScratchDir dir;
  MasteringDriveRig rig(dir, "medium=cd-r");
  const QFileInfo program(Q(testing::BuiltLibraryPath("sorvel")));
  testing::PrivateBus bus(QDir::cleanPath(program.absolutePath() + QStringLiteral("/../share/dbus-1/services")));
  ASSERT_TRUE(bus.ok());
  const QString script = QStringLiteral(
      "import dbus\n"
      "bus = dbus.SessionBus()\n"
      "errors, owners = {}, set()\n"
      "for n in range(150):\n"
      "    try:\n"
      "        factory = dbus.Interface(bus.get_object('SORVEL.Mastering', '/SORVEL/Mastering'),\n"
      "                                 'SORVEL.Mastering.Factory')\n"
      "        path = factory.Create()\n"
      "        owners.add(bus.get_name_owner('SORVEL.Mastering'))\n"
      "        layout = dbus.Interface(bus.get_object('SORVEL.Mastering', path), 'SORVEL.Mastering')\n"
      "        layout.VolumeLabel = 'X'\n"
      "        assert layout.IsISOEmpty() and layout.GetTrackCount() == 0\n"
      "        assert factory.Release(path)\n"
      "    except dbus.DBusException as e:\n"
      "        errors[e.get_dbus_name()] = errors.get(e.get_dbus_name(), 0) + 1\n"
      "print('errors', sorted(errors.items()), 'servers', len(owners))\n");
  std::vector<std::unique_ptr<testing::PythonBusScript>> clients;
  for (int i = 0; i < 4; ++i) clients.push_back(std::make_unique<testing::PythonBusScript>(bus.address(), script));
  for (auto& client : clients) {
    ASSERT_TRUE(client->WaitForEnd(240000));
    EXPECT_EQ(client->Output(), QStringLiteral("errors [] servers 1\n"));
  }
  QElapsedTimer since_last;
  since_last.start();
  EXPECT_TRUE(NameGone(bus, kBusName));
  EXPECT_GE(since_last.elapsed(), 3000);  // the grace period (5 s) less the scripts' ends
}

// Started by the bus on a session without a display (no DISPLAY,
// WAYLAND_DISPLAY or QT_QPA_PLATFORM), the server runs, and ShowBurnDialog
// answers an error at once instead of waiting on a dialog nobody sees.
TEST(MasteringActivationTest, WithoutADisplayTheServerRunsAndRefusesTheDialog) {
  ScratchDir dir;
  MasteringDriveRig rig(dir, "medium=cd-r");
  const QFileInfo program(Q(testing::BuiltLibraryPath("sorvel")));
  testing::ScopedEnv display("DISPLAY", std::nullopt);
  testing::ScopedEnv wayland("WAYLAND_DISPLAY", std::nullopt);
  testing::ScopedEnv platform("QT_QPA_PLATFORM", std::nullopt);
  // The bus starts the server with the environment of the bus.
  testing::PrivateBus bus(QDir::cleanPath(program.absolutePath() + QStringLiteral("/../share/dbus-1/services")));
  ASSERT_TRUE(bus.ok());
  BusClient client(bus, QStringLiteral("client"));
  const QString object = client.Create();
  ASSERT_FALSE(object.isEmpty());
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("IsReady"), {QStringLiteral("D")})));
  QElapsedTimer answered;
  answered.start();
  const QDBusMessage dialog = client.Member(object, QStringLiteral("ShowBurnDialog"), {0, QStringLiteral("T")});
  EXPECT_TRUE(ErrorOf(dialog).startsWith(QStringLiteral("org.freedesktop.DBus.Error.NotSupported ShowBurnDialog needs a display")))
      << ErrorOf(dialog).toStdString();
  EXPECT_LT(answered.elapsed(), 5000);
  EXPECT_TRUE(BoolOf(client.Release(object)));
  EXPECT_TRUE(NameGone(bus, kBusName));
}

// Any client may pass any number: every integer member answers at the ends
// of the 32-bit range (RemoveTrack(-2147483648) once ended the server), and
// the server is still there, with its layout, afterwards.
TEST_F(MasteringServiceTest, IntegerMembersAtTheLimitsLeaveTheServerAlive) {
  testing::WriteTrack(dir_.path() / "one.wav", testing::TrackSamples(300, 1));
  BusClient client(bus_, QStringLiteral("limits"));
  const QString object = client.Create();
  ASSERT_FALSE(object.isEmpty());
  ASSERT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddTrack"), {Path("one.wav"), 150, 0, 0})));
  for (int v : {INT_MIN, INT_MIN + 1, -1, 0, 100, INT_MAX - 1, INT_MAX}) {
    SCOPED_TRACE(v);
    for (const auto& [member, arguments] : std::vector<std::pair<const char*, QVariantList>>{
             {"RemoveTrack", {v}},
             {"InitISOFS", {v}},
             {"AddTrack", {Path("one.wav"), v, 0, 0}},
             {"AddTrack", {Path("one.wav"), 0, v, 0}},
             {"AddTrack", {Path("one.wav"), 0, 0, v}},
         }) {
      const QDBusMessage reply = client.Member(object, QString::fromLatin1(member), arguments);
      EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << member << " " << ErrorOf(reply).toStdString();
    }
  }
  const QDBusMessage count = client.Member(object, QStringLiteral("GetTrackCount"));
  ASSERT_EQ(count.type(), QDBusMessage::ReplyMessage) << ErrorOf(count).toStdString();
  EXPECT_GE(count.arguments().value(0).toInt(), 2);
  EXPECT_TRUE(bus_.Connect(QStringLiteral("alive")).interface()->isServiceRegistered(kBusName).value());
}

}  // namespace
}  // namespace sorvel

