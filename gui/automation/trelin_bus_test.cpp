// Trelin as an automation client meets it: `sorvel --automation` on a private
// bus, emulated drives behind it, a client of its own here.
#include "gui/automation/trelin_bus.h"

#include <gtest/gtest.h>

#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <map>
#include <vector>

#include "gui/automation/automation_test_rig.h"
#include "gui/model/public_enumerations.h"
#include "testing/cd_image_fixture.h"
#include "testing/file_bytes.h"
#include "testing/gui/python_bus_script.h"
#include "testing/kestrow_standalone.h"

namespace sorvel {
namespace {

using testing::BoolOf;
using testing::DBusClient;
using testing::ErrorOf;
using testing::Int16Arg;
using testing::PathArg;
using testing::PathOf;
using testing::Q;
using testing::ScratchDir;
using testing::ValueOf;

const QString kTrelin = QString::fromLatin1(kTrelinInterface);
const QString kToc = QStringLiteral("SORVEL.TOCInformation");
const QString kTrack = QStringLiteral("SORVEL.TOCTrack");
const QString kSpeeds = QStringLiteral("SORVEL.TLNSpeeds");
const QString kSpeed = QStringLiteral("SORVEL.TLNSpeed");

// A pressed CD: a data track, then two audio tracks with 2-second pregaps,
// a catalog number and an ISRC (in the Q channel).
constexpr int32_t kDataSectors = 600;
testing::CueFixture PressedCd(const ScratchDir& dir) {
  return testing::MakeCueImage(dir.path(), "pressed",
                               {{false, 0, kDataSectors, "", false},
                                {true, 150, 300, "JPABC2600001", true},
                                {true, 150, 225, "", false}},
                               "4901234567894");
}

// A client's calls on one object of one interface.
class Remote {
 public:
  Remote(DBusClient& client, QString path, QString interface)
      : client_(client), path_(std::move(path)), interface_(std::move(interface)) {}
  QDBusMessage operator()(const QString& method, const QVariantList& arguments = {}) const {
    return client_.Call(path_, interface_, method, arguments);
  }
  QVariant Get(const QString& property) const { return client_.Get(path_, interface_, property); }
  const QString& path() const { return path_; }

 private:
  DBusClient& client_;
  QString path_;
  QString interface_;
};

class TrelinBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.ok());
    ASSERT_TRUE(testing::StartServer(bus_));
  }

  ScratchDir dir_;
  testing::CueFixture disc_ = PressedCd(dir_);
  testing::AutomationDrives drives_{dir_, {"image=" + disc_.cue.string(), "medium=cd-r"}};
  testing::PrivateBus bus_;
  DBusClient client_{bus_, QStringLiteral("client")};
};

struct ReadCase {
  int32_t command;
  int sector_size;
};

// Every read command answers every sector of the data track as the image
// holds it, in arrays of exactly the pass's sector size, whatever array the
// client sends; without a pass the array is empty.
TEST_F(TrelinBusTest, ReadPassesAnswerTheImagesSectorsInTheirSize) {
  const Remote drive(client_, client_.Create(QStringLiteral("Trelin")), kTrelin);
  ASSERT_TRUE(BoolOf(drive(QStringLiteral("OpenDevice"), {Int16Arg(3)})));
  EXPECT_EQ(ValueOf(drive(QStringLiteral("GetMediaType"))).toInt(), MTC_CD_ROM);
  EXPECT_EQ(ValueOf(drive(QStringLiteral("GetMediaFamilyType"))).toInt(), MFT_CDFAMILY);
  const QByteArray sent[] = {QByteArray(), QByteArray(3, 'x'), QByteArray(5000, 'y')};
  for (const ReadCase c : {ReadCase{CCC_RAW, 2352}, ReadCase{CCC_RAW16, 2448}, ReadCase{CCC_RAW96, 2448}}) {
    SCOPED_TRACE(c.command);
    ASSERT_EQ(ValueOf(drive(QStringLiteral("ReadStart"), {c.command, 0})).toInt(), CBR_OK);
    EXPECT_EQ(ValueOf(drive(QStringLiteral("GetLastLBA"))).toInt(), disc_.leadout - 1);
    int differing = 0;
    for (int32_t lba = 0; lba < kDataSectors; ++lba) {
      const QDBusMessage reply = drive(QStringLiteral("ReadLBA"), {sent[lba % 3], lba});
      ASSERT_TRUE(BoolOf(reply)) << lba << ErrorOf(reply).toStdString();
      const QByteArray sector = ValueOf(reply, 1).toByteArray();
      ASSERT_EQ(sector.size(), c.sector_size) << lba;
      const auto expected = testing::FixtureSector(false, lba);
      if (sector.left(2352) != QByteArray(reinterpret_cast<const char*>(expected.data()), 2352)) ++differing;
    }
    EXPECT_EQ(differing, 0);
    EXPECT_TRUE(BoolOf(drive(QStringLiteral("ReadEnd"))));
    const QDBusMessage after = drive(QStringLiteral("ReadLBA"), {QByteArray(2448, 0), 0});
    EXPECT_FALSE(BoolOf(after));
    EXPECT_EQ(ValueOf(after, 1).toByteArray().size(), 0);
  }
  // A read command the CD cannot take: no pass, an empty array.
  EXPECT_EQ(ValueOf(drive(QStringLiteral("ReadStart"), {CCC_DATA, 0})).toInt(), CBR_IGNOREREADCOMMAND);
  EXPECT_EQ(ValueOf(drive(QStringLiteral("ReadLBA"), {QByteArray(), 0}), 1).toByteArray().size(), 0);
  EXPECT_TRUE(BoolOf(drive(QStringLiteral("CloseDevice"))));
}

// Read whole with subchannel, the disc's TOC comes back as a TOCInformation
// holding its tracks, catalog number and ISRC; its entries are objects of
// the client that change the model they belong to.
TEST_F(TrelinBusTest, TocOfThePressedCdWithCatalogNumberAndIsrc) {
  const Remote drive(client_, client_.Create(QStringLiteral("Trelin")), kTrelin);
  ASSERT_TRUE(BoolOf(drive(QStringLiteral("OpenDevice"), {Int16Arg(3)})));
  ASSERT_EQ(ValueOf(drive(QStringLiteral("ReadStart"), {CCC_RAW96, 0})).toInt(), CBR_OK);
  for (int32_t lba = 0; lba < disc_.leadout; ++lba) {
    const QDBusMessage reply = drive(QStringLiteral("ReadLBA"), {QByteArray(), lba});
    ASSERT_TRUE(BoolOf(reply)) << lba;
    const auto expected = testing::FixtureSector(lba >= kDataSectors, lba);
    ASSERT_EQ(ValueOf(reply, 1).toByteArray().left(2352), QByteArray(reinterpret_cast<const char*>(expected.data()), 2352))
        << lba;
  }
  const QString toc_path = PathOf(drive(QStringLiteral("GetTOCStructure")));
  ASSERT_TRUE(toc_path.startsWith(QStringLiteral("/SORVEL/TOCInformation/"))) << toc_path.toStdString();
  const Remote toc(client_, toc_path, kToc);
  EXPECT_EQ(toc.Get(QStringLiteral("MCN")).toString(), QStringLiteral("4901234567894"));
  EXPECT_EQ(ValueOf(toc(QStringLiteral("ISRC"), {Int16Arg(1)})).toString(), QStringLiteral("000000000000"));
  EXPECT_EQ(ValueOf(toc(QStringLiteral("ISRC"), {Int16Arg(2)})).toString(), QStringLiteral("JPABC2600001"));
  EXPECT_EQ(ValueOf(toc(QStringLiteral("ISRC"), {Int16Arg(3)})).toString(), QStringLiteral("000000000000"));
  // (track, index, flags, mode, start, end) of every entry.
  const int32_t audio2 = disc_.track_starts[1], audio3 = disc_.track_starts[2];
  const std::vector<std::array<int32_t, 6>> expected = {
      {1, 1, 4, 1, 0, audio2 - 151},         {2, 0, 2, 0, audio2 - 150, audio2 - 1},
      {2, 1, 2, 0, audio2, audio3 - 151},    {3, 0, 0, 0, audio3 - 150, audio3 - 1},
      {3, 1, 0, 0, audio3, disc_.leadout - 1}};
  ASSERT_EQ(toc.Get(QStringLiteral("TOCCount")).toInt(), static_cast<int>(expected.size()));
  ASSERT_EQ(toc.Get(QStringLiteral("TOCCount")).metaType().id(), QMetaType::Short);
  for (size_t i = 0; i < expected.size(); ++i) {
    const QString entry = PathOf(toc(QStringLiteral("TOC"), {Int16Arg(static_cast<int>(i + 1))}));
    const Remote track(client_, entry, kTrack);
    const std::array<int32_t, 6> got = {
        track.Get(QStringLiteral("TrackNo")).toInt(),  track.Get(QStringLiteral("IndexNo")).toInt(),
        track.Get(QStringLiteral("Flags")).toInt(),    track.Get(QStringLiteral("SectorMode")).toInt(),
        track.Get(QStringLiteral("StartLBA")).toInt(), track.Get(QStringLiteral("EndLBA")).toInt()};
    EXPECT_EQ(got, expected[i]) << i;
    EXPECT_EQ(track.Get(QStringLiteral("SessionNo")).toInt(), 1);
  }
  EXPECT_GE(toc.Get(QStringLiteral("RawTOCCount")).toInt(), 6);  // A0, A1, A2 and three tracks
  // The entry handed out twice is one object, and it is the stored entry.
  const QString first = PathOf(toc(QStringLiteral("TOC"), {Int16Arg(1)}));
  EXPECT_EQ(PathOf(toc(QStringLiteral("TOC"), {Int16Arg(1)})), first);
  EXPECT_EQ(client_.Set(first, kTrack, QStringLiteral("EndLBA"), 77).type(), QDBusMessage::ReplyMessage);
  const QString copy = PathOf(drive(QStringLiteral("GetTOCStructure")));
  EXPECT_NE(copy, toc_path);  // a new model each time
  EXPECT_EQ(Remote(client_, first, kTrack).Get(QStringLiteral("EndLBA")).toInt(), 77);
  EXPECT_EQ(Remote(client_, PathOf(Remote(client_, copy, kToc)(QStringLiteral("TOC"), {Int16Arg(1)})), kTrack)
                .Get(QStringLiteral("EndLBA"))
                .toInt(),
            audio2 - 151);
  // Outside the list: an error, as the model has no entry there.
  for (int index : {0, 6, -1}) {
    EXPECT_TRUE(ErrorOf(toc(QStringLiteral("TOC"), {Int16Arg(index)})).startsWith(QStringLiteral(
        "org.freedesktop.DBus.Error.InvalidArgs")))
        << index;
  }
  EXPECT_TRUE(BoolOf(drive(QStringLiteral("ReadEnd"))));
}

// An ISO image made by genisoimage is written to the emulated CD-R through
// a TOCInformation that read it, sector by sector, and reads back equal. A
// sector array shorter than the pass takes is refused and writes nothing.
TEST_F(TrelinBusTest, IsoWrittenToCdrReadsBackEqual) {
  std::map<std::string, std::string> files;
  files["readme.txt"] = "written over the session bus\n";
  files["data.bin"] = std::string(300000, '\x5C');
  const std::filesystem::path iso = testing::MakeIsoImage(dir_.path(), "layout", files);
  ASSERT_FALSE(iso.empty());
  const std::string image = testing::ReadFileBytes(iso);
  ASSERT_EQ(image.size() % 2048, 0u);
  const int32_t sectors = static_cast<int32_t>(image.size() / 2048);

  const Remote toc(client_, client_.Create(QStringLiteral("TOCInformation")), kToc);
  const QDBusMessage loaded = toc(QStringLiteral("LoadISOFile"), {Q(iso), 0});
  ASSERT_TRUE(BoolOf(loaded)) << ErrorOf(loaded).toStdString();
  EXPECT_EQ(ValueOf(loaded, 1).toInt(), 2048);
  const Remote drive(client_, client_.Create(QStringLiteral("Trelin")), kTrelin);
  ASSERT_TRUE(BoolOf(drive(QStringLiteral("OpenDevice"), {Int16Arg(4)})));
  EXPECT_TRUE(BoolOf(drive(QStringLiteral("IsDiscEmpty"))));
  EXPECT_EQ(drive(QStringLiteral("SetTOCStructure"), {PathArg(toc.path())}).type(), QDBusMessage::ReplyMessage);
  ASSERT_EQ(ValueOf(drive(QStringLiteral("WriteStart"), {CCC_SAO, 0})).toInt(), CBR_OK);
  for (int32_t lba = 0; lba < sectors; ++lba) {
    QByteArray sector(2352, '\0');
    sector.replace(0, 2048, QByteArray::fromRawData(image.data() + static_cast<size_t>(lba) * 2048, 2048));
    if (lba == 5) {
      for (const QByteArray& shorter : {QByteArray(), sector.left(2048), sector.left(2351)}) {
        EXPECT_FALSE(BoolOf(drive(QStringLiteral("WriteLBA"), {CSD_SECTORONLY, shorter, lba}))) << shorter.size();
      }
    }
    ASSERT_TRUE(BoolOf(drive(QStringLiteral("WriteLBA"), {CSD_SECTORONLY, sector, lba}))) << lba;
  }
  EXPECT_TRUE(BoolOf(drive(QStringLiteral("WriteFlush"))));
  EXPECT_EQ(ValueOf(drive(QStringLiteral("GetLastWroteLBA"))).toInt(), sectors - 1);
  EXPECT_TRUE(BoolOf(drive(QStringLiteral("WriteEnd"))));  // without its argument: not aborted
  EXPECT_FALSE(BoolOf(drive(QStringLiteral("IsDiscEmpty"))));

  ASSERT_EQ(ValueOf(drive(QStringLiteral("ReadStart"), {CCC_RAW, 0})).toInt(), CBR_OK);
  EXPECT_EQ(ValueOf(drive(QStringLiteral("GetLastLBA"))).toInt(), sectors - 1);
  int differing = 0;
  for (int32_t lba = 0; lba < sectors; ++lba) {
    const QDBusMessage reply = drive(QStringLiteral("ReadLBA"), {QByteArray(), lba});
    ASSERT_TRUE(BoolOf(reply)) << lba;
    if (ValueOf(reply, 1).toByteArray().mid(16, 2048) !=
        QByteArray::fromRawData(image.data() + static_cast<size_t>(lba) * 2048, 2048))
      ++differing;
  }
  EXPECT_EQ(differing, 0);
  EXPECT_TRUE(BoolOf(drive(QStringLiteral("ReadEnd"))));
  EXPECT_TRUE(BoolOf(drive(QStringLiteral("CloseDevice"))));
}

// Speed lists come as TLNSpeeds objects of the client: the read list is the
// fixed one of the medium, and the list is a collection the client can change.
TEST_F(TrelinBusTest, SpeedListsAreObjectsOfTheClient) {
  const Remote drive(client_, client_.Create(QStringLiteral("Trelin")), kTrelin);
  ASSERT_TRUE(BoolOf(drive(QStringLiteral("OpenDevice"), {Int16Arg(4)})));
  const Remote speeds(client_, PathOf(drive(QStringLiteral("GetReadSpeed"))), kSpeeds);
  ASSERT_TRUE(speeds.path().startsWith(QStringLiteral("/SORVEL/TLNSpeeds/")));
  const int32_t cd[] = {8467, 7056, 5645, 4234, 3528, 2822, 2117, 1764, 1411, 706, 352, 176};
  ASSERT_EQ(speeds.Get(QStringLiteral("Count")).toInt(), 12);
  for (int i = 1; i <= 12; ++i) {
    const Remote entry(client_, PathOf(speeds(QStringLiteral("Items"), {Int16Arg(i)})), kSpeed);
    EXPECT_EQ(entry.Get(QStringLiteral("Speed")).toInt(), cd[i - 1]) << i;
    EXPECT_FALSE(entry.Get(QStringLiteral("CAV")).toBool()) << i;
  }
  // One entry, one object; setting its property changes the list.
  const QString second = PathOf(speeds(QStringLiteral("Items"), {Int16Arg(2)}));
  EXPECT_EQ(PathOf(speeds(QStringLiteral("Items"), {Int16Arg(2)})), second);
  EXPECT_EQ(client_.Set(second, kSpeed, QStringLiteral("CAV"), true).type(), QDBusMessage::ReplyMessage);
  EXPECT_TRUE(BoolOf(speeds(QStringLiteral("Delete"), {Int16Arg(1)})));
  EXPECT_FALSE(BoolOf(speeds(QStringLiteral("Delete"), {Int16Arg(0)})));
  const QString now_first = PathOf(speeds(QStringLiteral("Items"), {Int16Arg(1)}));
  EXPECT_EQ(now_first, second);
  EXPECT_TRUE(Remote(client_, now_first, kSpeed).Get(QStringLiteral("CAV")).toBool());
  EXPECT_EQ(speeds(QStringLiteral("Add"), {true, 36000}).type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(speeds.Get(QStringLiteral("Count")).toInt(), 12);
  EXPECT_EQ(Remote(client_, PathOf(speeds(QStringLiteral("Items"), {Int16Arg(12)})), kSpeed)
                .Get(QStringLiteral("Speed"))
                .toInt(),
            36000);
  // A deleted entry's object lives on with the client, apart from the list.
  EXPECT_EQ(speeds(QStringLiteral("Clear")).type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(speeds.Get(QStringLiteral("Count")).toInt(), 0);
  EXPECT_EQ(Remote(client_, second, kSpeed).Get(QStringLiteral("Speed")).toInt(), 7056);
  // Clients receive speed lists; no factory makes them.
  EXPECT_TRUE(client_.Create(QStringLiteral("TLNSpeeds")).isEmpty());
  EXPECT_TRUE(ErrorOf(client_.Call(QStringLiteral("/SORVEL/TLNSpeeds"), QStringLiteral("SORVEL.TLNSpeeds.Factory"),
                                   QStringLiteral("Create")))
                  .startsWith(QStringLiteral("org.freedesktop.DBus.Error.UnknownObject")));
  // The write list of the CD-R: the drive's own, faster than 1x.
  const Remote write_speeds(client_, PathOf(drive(QStringLiteral("GetWriteSpeed"))), kSpeeds);
  EXPECT_GT(write_speeds.Get(QStringLiteral("Count")).toInt(), 0);
}

// Release answers when its object has ended: a drive the released object
// held open is free for the next OpenDevice at once, another client's or the
// same client's.
TEST_F(TrelinBusTest, ADriveReleasedOpenIsFreeAtOnce) {
  DBusClient other(bus_, QStringLiteral("other"));
  const struct {
    const char* name;
    DBusClient* opener;
  } cases[] = {{"another client", &other}, {"the same client", &client_}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Remote opener(*c.opener, c.opener->Create(QStringLiteral("Trelin")), kTrelin);
    int refused = 0;
    for (int round = 0; round < 300; ++round) {
      const QString held = client_.Create(QStringLiteral("Trelin"));
      ASSERT_TRUE(BoolOf(client_.Call(held, kTrelin, QStringLiteral("OpenDevice"), {Int16Arg(3)})));
      ASSERT_TRUE(BoolOf(client_.Release(QStringLiteral("Trelin"), held)));
      if (BoolOf(opener(QStringLiteral("OpenDevice"), {Int16Arg(3)}))) {
        EXPECT_TRUE(BoolOf(opener(QStringLiteral("CloseDevice"))));
      } else {
        ++refused;
      }
    }
    EXPECT_EQ(refused, 0);
  }
}

// Drives that take each other's TOCs, and more drives than a client's
// calls run at once taking one TOC together, never wait for one another:
// every SetTOCStructure answers, and once the client has left the server ends.
TEST(TrelinBusWorkersTest, DrivesTakingTheTocsOfOtherObjectsAnswerAndTheServerEnds) {
  const struct {
    const char* name;
    int drives;
    bool crossed;  // each drive takes the TOC the next one handed out; else all one created TOC
    int rounds;
  } cases[] = {{"two drives crossed", 2, true, 30}, {"one TOC for many drives", WorkerGroup::kMaxRunning + 1, false, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    testing::AutomationDrives drives(dir, {"medium=cd-r"});
    testing::PrivateBus bus;
    ASSERT_TRUE(bus.ok());
    ASSERT_TRUE(testing::StartServer(bus));
    {
      DBusClient client(bus, QStringLiteral("client"));
      QStringList trelins, tocs;
      for (int i = 0; i < c.drives; ++i) {
        trelins << client.Create(QStringLiteral("Trelin"));
        ASSERT_FALSE(trelins.back().isEmpty());
        if (c.crossed) tocs << PathOf(client.Call(trelins.back(), kTrelin, QStringLiteral("GetTOCStructure")));
      }
      if (!c.crossed) tocs << client.Create(QStringLiteral("TOCInformation"));
      ASSERT_FALSE(tocs.contains(QString()));
      ASSERT_EQ(ErrorOf(client.Call(tocs.back(), kToc, QStringLiteral("TOCAdd"),
                                    {testing::ByteArg(1), testing::ByteArg(1), testing::ByteArg(1), 0, 0, 0, 599})),
                QStringLiteral("no error"));
      std::vector<QDBusPendingCall> calls;
      for (int round = 0; round < c.rounds; ++round) {
        for (int i = 0; i < c.drives; ++i) {
          QDBusMessage set = QDBusMessage::createMethodCall(testing::kServerName, trelins[i], kTrelin,
                                                            QStringLiteral("SetTOCStructure"));
          set.setArguments({PathArg(c.crossed ? tocs[(i + 1) % c.drives] : tocs.back())});
          calls.push_back(client.connection().asyncCall(set, 20000));
        }
      }
      int answered = 0;
      for (QDBusPendingCall& call : calls) {
        call.waitForFinished();
        if (call.reply().type() == QDBusMessage::ReplyMessage) ++answered;
      }
      EXPECT_EQ(answered, static_cast<int>(calls.size())) << ErrorOf(calls.back().reply()).toStdString();
      client.Leave();
    }
    EXPECT_TRUE(testing::NameGone(bus, testing::kServerName, 30000));
  }
}

// The README's example script prints the tracks of the pressed CD.
TEST_F(TrelinBusTest, ReadmeScriptPrintsTheTracksOfTheDisc) {
  ASSERT_TRUE(testing::RequirePythonDbus());
  testing::PythonBusScript script(bus_.address(), testing::ReadmeScript(QStringLiteral("GetTOCStructure")));
  ASSERT_TRUE(script.WaitForEnd(120000));
  EXPECT_EQ(script.ExitCode(), 0);
  const int32_t audio2 = disc_.track_starts[1], audio3 = disc_.track_starts[2];
  EXPECT_EQ(script.Output(), QStringLiteral("track 01 index 01  data   LBA 0 to %1\n"
                                            "track 02 index 00  audio  LBA %2 to %3\n"
                                            "track 02 index 01  audio  LBA %4 to %5\n"
                                            "track 03 index 00  audio  LBA %6 to %7\n"
                                            "track 03 index 01  audio  LBA %8 to %9\n")
                                 .arg(audio2 - 151)
                                 .arg(audio2 - 150)
                                 .arg(audio2 - 1)
                                 .arg(audio2)
                                 .arg(audio3 - 151)
                                 .arg(audio3 - 150)
                                 .arg(audio3 - 1)
                                 .arg(audio3)
                                 .arg(disc_.leadout - 1));
}

// A drive that a drive daemon serves: found by discovery on the loopback
// address, opened by its remote name, read as a local one.
TEST(TrelinBusRemoteTest, RemoteDriveThroughTheDaemon) {
  ScratchDir dir;
  const testing::CueFixture disc = PressedCd(dir);
  testing::AutomationDrives local(dir, {});  // no local drive
  testing::KestrowStandalone daemon(dir.path() / "daemon",
                                    "D:=emu:" + (dir.path() / "remote.state").string() + ",image=" + disc.cue.string(),
                                    "D");
  ASSERT_TRUE(daemon.Start());
  testing::PrivateBus bus;
  ASSERT_TRUE(bus.ok());
  ASSERT_TRUE(testing::StartServer(bus));
  DBusClient client(bus, QStringLiteral("client"));
  const Remote drive(client, client.Create(QStringLiteral("Trelin")), kTrelin);
  const QString port = QString::number(daemon.port());
  EXPECT_TRUE(ValueOf(drive(QStringLiteral("GetRemoteHosts"), {QStringLiteral("127.0.0.1"), daemon.port(), 500}))
                  .toString()
                  .contains(QStringLiteral("127.0.0.1")));
  EXPECT_FALSE(BoolOf(drive(QStringLiteral("OpenDevice"), {Int16Arg(3)})));
  ASSERT_TRUE(BoolOf(drive(QStringLiteral("OpenDeviceEx"), {QStringLiteral("\\\\127.0.0.1:%1\\D:").arg(port)})));
  EXPECT_EQ(ValueOf(drive(QStringLiteral("GetMediaType"))).toInt(), MTC_CD_ROM);
  ASSERT_EQ(ValueOf(drive(QStringLiteral("ReadStart"), {CCC_RAW, 0})).toInt(), CBR_OK);
  for (int32_t lba : {0, 17, kDataSectors - 1}) {
    const QDBusMessage reply = drive(QStringLiteral("ReadLBA"), {QByteArray(), lba});
    ASSERT_TRUE(BoolOf(reply)) << lba;
    const auto expected = testing::FixtureSector(false, lba);
    EXPECT_EQ(ValueOf(reply, 1).toByteArray(), QByteArray(reinterpret_cast<const char*>(expected.data()), 2352)) << lba;
  }
  EXPECT_TRUE(BoolOf(drive(QStringLiteral("ReadEnd"))));
  EXPECT_TRUE(BoolOf(drive(QStringLiteral("CloseDevice"))));
}

struct SpeedCase {
  const char* medium;  // a pressed one is loaded from an ISO image
  std::vector<int32_t> speeds;
};

// The read list of each medium family (and DVD-RAM and DVD+R apart), in the
// order the drive panels offer it, from a drive of that medium.
TEST(TrelinBusSpeedTest, ReadSpeedListsFollowTheMedium) {
  const SpeedCase cases[] = {
      {"cd-r", {8467, 7056, 5645, 4234, 3528, 2822, 2117, 1764, 1411, 706, 352, 176}},
      {"dvd-rom", {22160, 16620, 11080, 8310, 5540, 2770, 1385}},
      {"dvd-ram", {22160, 16620, 11080, 8310, 6925, 4155, 2770}},
      {"dvd+r", {22160, 16620, 11080, 8310, 5540, 3324}},
      {"bd-r", {4500, 6750, 9000, 18000, 27000, 36000}},
      {"hddvd-rom", {4500, 6750, 9000, 18000, 27000, 36000}},
  };
  ScratchDir dir;
  const std::filesystem::path iso = testing::MakeIsoImage(dir.path(), "pressed", {{"a.txt", "a"}});
  ASSERT_FALSE(iso.empty());
  std::vector<std::string> media;
  for (const SpeedCase& c : cases) {
    const bool pressed = std::string(c.medium).ends_with("-rom");
    media.push_back(std::string("medium=") + c.medium + (pressed ? ",image=" + iso.string() : ""));
  }
  testing::AutomationDrives drives(dir, media);
  testing::PrivateBus bus;
  ASSERT_TRUE(bus.ok());
  ASSERT_TRUE(testing::StartServer(bus));
  DBusClient client(bus, QStringLiteral("client"));
  const Remote drive(client, client.Create(QStringLiteral("Trelin")), kTrelin);
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].medium);
    ASSERT_TRUE(BoolOf(drive(QStringLiteral("OpenDevice"), {Int16Arg(3 + static_cast<int>(i))})));
    const Remote speeds(client, PathOf(drive(QStringLiteral("GetReadSpeed"))), kSpeeds);
    std::vector<int32_t> got;
    const int count = speeds.Get(QStringLiteral("Count")).toInt();
    for (int k = 1; k <= count; ++k) {
      const Remote entry(client, PathOf(speeds(QStringLiteral("Items"), {Int16Arg(k)})), kSpeed);
      EXPECT_FALSE(entry.Get(QStringLiteral("CAV")).toBool());
      got.push_back(entry.Get(QStringLiteral("Speed")).toInt());
    }
    EXPECT_EQ(got, cases[i].speeds);
  }
}

}  // namespace
}  // namespace sorvel
