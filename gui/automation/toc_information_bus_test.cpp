// TOCInformation and its records as an automation client meets them, on
// `sorvel --automation`: descriptor files through the bus judged by cdrdao and
// cd-info, the reader's events, records that are the model's entries.
#include "gui/automation/toc_information_bus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <climits>
#include <vector>

#include "gui/automation/automation_test_rig.h"
#include "gui/automation/trelin_bus.h"
#include "gui/model/public_enumerations.h"
#include "testing/cd_image_fixture.h"
#include "testing/file_bytes.h"
#include "testing/stand_in_file.h"

namespace sorvel {
namespace {

using testing::BoolOf;
using testing::DBusClient;
using testing::ByteArg;
using testing::ErrorOf;
using testing::Int16Arg;
using testing::PathArg;
using testing::PathOf;
using testing::Q;
using testing::RunCommand;
using testing::ScratchDir;
using testing::ValueOf;

const QString kToc = QString::fromLatin1(kTOCInformationInterface);
const QString kTrack = QStringLiteral("SORVEL.TOCTrack");
const QString kRaw = QStringLiteral("SORVEL.TOCRawTrack");
const QString kPack = QStringLiteral("SORVEL.TOCCDText");

// Three audio tracks (the second with a pregap and an ISRC) and a catalog
// number, as a sheet and its image.
testing::CueFixture Disc(const ScratchDir& dir) {
  return testing::MakeCueImage(
      dir.path(), "disc",
      {{true, 0, 750, "", true}, {true, 150, 3675, "JPABC1234567", false}, {true, 0, 4425, "", true}},
      "4988001234567");
}

class TOCInformationBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.ok());
    ASSERT_TRUE(testing::StartServer(bus_));
  }
  QDBusMessage Call(const QString& path, const QString& method, const QVariantList& arguments = {}) {
    return client_.Call(path, kToc, method, arguments);
  }
  // cdrdao's reading of a sheet in the scratch folder, the sheet's own name
  // taken out.
  std::string ShowToc(const std::string& sheet) {
    std::string out;
    EXPECT_EQ(RunCommand("cd '" + dir_.path().string() + "' && cdrdao show-toc " + sheet + " 2>&1", &out), 0) << out;
    for (size_t at = out.find(sheet); at != std::string::npos; at = out.find(sheet)) out.erase(at, sheet.size());
    return out;
  }

  ScratchDir dir_;
  testing::AutomationDrives drives_{dir_, {"medium=cd-r"}};
  testing::PrivateBus bus_;
  DBusClient client_{bus_, QStringLiteral("client")};
};

// A sheet loaded through the bus and saved as ".cue" and ".ccd": cdrdao and
// cd-info read the tracks, catalog number and ISRC of the original in the new
// sheet, and a sheet made from the ".ccd" reads the same.
TEST_F(TOCInformationBusTest, SheetLoadedAndDescriptorsSavedJudgedByCdrdaoAndCdInfo) {
  for (const char* tool : {"cdrdao", "cd-info"}) ASSERT_TRUE(testing::RequireTool(tool));
  const testing::CueFixture disc = Disc(dir_);
  const QString toc = client_.Create(QStringLiteral("TOCInformation"));
  ASSERT_FALSE(toc.isEmpty());
  const QDBusMessage loaded = Call(toc, QStringLiteral("LoadCUEFile"), {Q(disc.cue), QString(), 0});
  ASSERT_TRUE(BoolOf(loaded)) << ErrorOf(loaded).toStdString();
  EXPECT_EQ(ValueOf(loaded, 1).toString(), Q(disc.bin));
  EXPECT_EQ(ValueOf(loaded, 2).toInt(), 2352);
  EXPECT_EQ(client_.Get(toc, kToc, QStringLiteral("TOCCount")).toInt(), 4);
  EXPECT_EQ(client_.Get(toc, kToc, QStringLiteral("MCN")).toString(), QStringLiteral("4988001234567"));
  EXPECT_EQ(ValueOf(Call(toc, QStringLiteral("ISRC"), {Int16Arg(2)})).toString(), QStringLiteral("JPABC1234567"));
  // The lead-in's raw entries (first, last track, lead-out, three tracks),
  // which a ".ccd" carries.
  const auto msf = [](int32_t lba) {
    const int32_t frames = lba + 150;
    return QVariantList{ByteArg(frames / 4500), ByteArg(frames / 75 % 60), ByteArg(frames % 75)};
  };
  const auto raw = [&](int point, int adr_control, const QVariantList& p) {
    QVariantList arguments{ByteArg(1), ByteArg(adr_control), ByteArg(0), ByteArg(point), ByteArg(0), ByteArg(0),
                           ByteArg(0), ByteArg(0)};
    arguments += p;
    EXPECT_EQ(Call(toc, QStringLiteral("RawTOCAdd"), arguments).type(), QDBusMessage::ReplyMessage);
  };
  raw(0xA0, 0x12, {ByteArg(1), ByteArg(0), ByteArg(0)});
  raw(0xA1, 0x12, {ByteArg(3), ByteArg(0), ByteArg(0)});
  raw(0xA2, 0x10, msf(disc.leadout));
  for (int track = 1; track <= 3; ++track) raw(track, track == 2 ? 0x10 : 0x12, msf(disc.track_starts[track - 1]));

  const QString sheet = Q(dir_.path() / "saved.cue");
  ASSERT_TRUE(BoolOf(Call(toc, QStringLiteral("SaveCUEFile"), {sheet, Q(dir_.path() / "saved.bin"), QString()})));
  ASSERT_TRUE(BoolOf(Call(toc, QStringLiteral("SaveCCDFile"), {Q(dir_.path() / "saved.ccd")})));
  std::filesystem::create_symlink(disc.bin, dir_.path() / "saved.bin");

  const std::string shown = ShowToc("saved.cue");
  EXPECT_EQ(shown, ShowToc("disc.cue"));
  EXPECT_NE(shown.find("CATALOG NUMBER: 4988001234567"), std::string::npos) << shown;
  EXPECT_NE(shown.find("ISRC JP ABC 12 34567"), std::string::npos) << shown;
  EXPECT_NE(shown.find("PREGAP 00:02:00(   150)"), std::string::npos) << shown;
  std::string info;
  RunCommand("cd '" + dir_.path().string() + "' && cd-info --no-device-info --no-cddb --cue-file saved.cue 2>&1", &info);
  EXPECT_NE(info.find("Media Catalog Number (MCN): 4988001234567"), std::string::npos) << info;
  EXPECT_NE(info.find("  1: 00:02:00  000000 audio  false  yes"), std::string::npos) << info;
  EXPECT_NE(info.find("  2: 00:14:00  000900 audio  false  no"), std::string::npos) << info;
  EXPECT_NE(info.find("  3: 01:03:00  004575 audio  false  yes"), std::string::npos) << info;
  EXPECT_NE(info.find("170: 02:02:00  009000 leadout"), std::string::npos) << info;

  // The ".ccd" read back through the bus gives the same sheet.
  const QString again = client_.Create(QStringLiteral("TOCInformation"));
  ASSERT_TRUE(BoolOf(Call(again, QStringLiteral("LoadCCDFile"), {Q(dir_.path() / "saved.ccd")})));
  EXPECT_EQ(client_.Get(again, kToc, QStringLiteral("RawTOCCount")).toInt(), 6);
  ASSERT_TRUE(BoolOf(Call(again, QStringLiteral("SaveCUEFile"),
                          {Q(dir_.path() / "fromccd.cue"), Q(dir_.path() / "saved.bin"), QString(), 2352})));
  EXPECT_EQ(ShowToc("fromccd.cue"), shown);
}

// A sheet the reader refuses: StatusChangeEx, then StatusChange, reach the
// object's owner before the answer; nobody else hears them.
TEST_F(TOCInformationBusTest, BadSheetRaisesStatusChangeExThenStatusChangeToTheOwner) {
  testing::WriteFileBytes(dir_.path() / "bad.cue", "FILE \"x.bin\" BINARY\r\nBOGUS not a keyword\r\n");
  const QString toc = client_.Create(QStringLiteral("TOCInformation"));
  for (const char* signal : {"StatusChange", "StatusChangeEx"}) client_.Watch(toc, kToc, QLatin1String(signal));
  DBusClient other(bus_, QStringLiteral("other"));
  for (const char* signal : {"StatusChange", "StatusChangeEx"}) other.Watch(toc, kToc, QLatin1String(signal));
  const QDBusMessage reply =
      client_.CallRunning(toc, kToc, QStringLiteral("LoadCUEFile"), {Q(dir_.path() / "bad.cue"), QString(), 0});
  EXPECT_FALSE(BoolOf(reply));
  EXPECT_EQ(ValueOf(reply, 1).toString(), Q(dir_.path() / "x.bin"));  // as far as the reader came
  const QString text = QStringLiteral("CUEFileError: Unknown keyword : BOGUS not a keyword");
  ASSERT_EQ(client_.received.size(), 2u);
  EXPECT_EQ(client_.received[0].member(), QStringLiteral("StatusChangeEx"));
  EXPECT_EQ(client_.received[0].arguments(), (QVariantList{2, text}));
  EXPECT_EQ(client_.received[1].member(), QStringLiteral("StatusChange"));
  EXPECT_EQ(client_.received[1].arguments(), (QVariantList{text}));
  EXPECT_EQ(client_.Get(toc, kToc, QStringLiteral("TOCCount")).toInt(), 0);
  // A plain image's information line comes the same way, type 0.
  testing::WriteFileBytes(dir_.path() / "plain.iso", std::string(4096, '\0'));
  client_.received.clear();
  const QDBusMessage iso = client_.CallRunning(toc, kToc, QStringLiteral("LoadISOFile"), {Q(dir_.path() / "plain.iso"), 0});
  EXPECT_TRUE(BoolOf(iso));
  EXPECT_EQ(ValueOf(iso, 1).toInt(), 2048);
  ASSERT_EQ(client_.received.size(), 2u);
  EXPECT_EQ(client_.received[0].arguments(),
            (QVariantList{0, QStringLiteral("セクタサイズは 2048, セクタ数は 2 です。")}));
  other.CallRunning(QStringLiteral("/SORVEL/TOCInformation"), QStringLiteral("org.freedesktop.DBus.Peer"),
                    QStringLiteral("Ping"));
  EXPECT_TRUE(other.received.empty());
}

// A FIFO named as the sheet or descriptor to save: refused at once, with
// the reason as StatusChangeEx, and the server goes on answering.
TEST_F(TOCInformationBusTest, SaveToAFifoIsRefusedAtOnceAndTold) {
  const QString toc = client_.Create(QStringLiteral("TOCInformation"));
  ASSERT_EQ(Call(toc, QStringLiteral("TOCAdd"), {ByteArg(1), ByteArg(1), ByteArg(1), 4, 1, 0, 999}).type(),
            QDBusMessage::ReplyMessage);
  ASSERT_EQ(Call(toc, QStringLiteral("RawTOCAdd"),
                 {ByteArg(1), ByteArg(0x14), ByteArg(0), ByteArg(0xA2), ByteArg(0), ByteArg(0), ByteArg(0), ByteArg(0),
                  ByteArg(0), ByteArg(15), ByteArg(24)})
                .type(),
            QDBusMessage::ReplyMessage);
  client_.Watch(toc, kToc, QStringLiteral("StatusChangeEx"));
  for (const char* method : {"SaveCUEFile", "SaveCCDFile"}) {
    const std::filesystem::path target = dir_.path() / (std::string(method) + ".fifo");
    testing::StandInFile fifo(target, testing::StandIn::kFifo);
    client_.received.clear();
    QVariantList arguments{Q(target)};
    if (std::string(method) == "SaveCUEFile") arguments << Q(dir_.path() / "x.img") << QString();
    const auto start = std::chrono::steady_clock::now();
    const QDBusMessage reply = client_.CallRunning(toc, kToc, QLatin1String(method), arguments);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << method;
    EXPECT_FALSE(BoolOf(reply)) << method;
    EXPECT_FALSE(fifo.Blocked()) << method;
    ASSERT_EQ(client_.received.size(), 1u) << method;
    EXPECT_EQ(client_.received[0].arguments(),
              (QVariantList{2, QStringLiteral("ファイル %1 は通常のファイルではありません。").arg(Q(target))}));
  }
  EXPECT_EQ(client_.Get(toc, kToc, QStringLiteral("TOCCount")).toInt(), 1);
}

// An image or pack file name that a sheet cannot hold (a double quote, a
// line break) answers False with the status, and no sheet is written.
TEST_F(TOCInformationBusTest, SaveOfANameASheetCannotHoldAnswersFalse) {
  const QString toc = client_.Create(QStringLiteral("TOCInformation"));
  ASSERT_EQ(Call(toc, QStringLiteral("TOCAdd"), {ByteArg(1), ByteArg(1), ByteArg(1), 4, 1, 0, 999}).type(),
            QDBusMessage::ReplyMessage);
  client_.Watch(toc, kToc, QStringLiteral("StatusChangeEx"));
  struct Case {
    const char* image;
    const char* packs;
    const char* refused;
  };
  for (const Case& c : {Case{"say \"hi\".img", "", "say \"hi\".img"}, Case{"two\nlines.img", "", "two\nlines.img"},
                        Case{"disc.img", "pa\rcks.cdt", "pa\rcks.cdt"}}) {
    client_.received.clear();
    const QString sheet = Q(dir_.path() / "refused.cue");
    const QVariantList arguments{sheet, Q(dir_.path() / c.image),
                                 *c.packs ? Q(dir_.path() / c.packs) : QString()};
    EXPECT_FALSE(BoolOf(client_.CallRunning(toc, kToc, QStringLiteral("SaveCUEFile"), arguments))) << c.image;
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "refused.cue")) << c.image;
    ASSERT_EQ(client_.received.size(), 1u) << c.image;
    EXPECT_EQ(client_.received[0].arguments(),
              (QVariantList{2, QStringLiteral("ファイル %1 の名前はCUEシートに記述できません。")
                                   .arg(Q(dir_.path() / c.refused))}));
  }
}

// Records handed out are the model's entries; record properties keep their
// types; created records stand alone; pack arrays of any length are safe.
TEST_F(TOCInformationBusTest, RecordsAreTheModelsEntriesAndTypedAsTheClass) {
  const QString toc = client_.Create(QStringLiteral("TOCInformation"));
  ASSERT_EQ(Call(toc, QStringLiteral("TOCAdd"), {ByteArg(1), ByteArg(1), ByteArg(1), 4, 1, 0, 999}).type(),
            QDBusMessage::ReplyMessage);
  // A byte given as a Long is no TOCAdd.
  EXPECT_TRUE(ErrorOf(Call(toc, QStringLiteral("TOCAdd"), {1, 1, 1, 4, 1, 0, 999}))
                  .startsWith(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod")));
  const QString entry = PathOf(Call(toc, QStringLiteral("TOC"), {Int16Arg(1)}));
  EXPECT_EQ(client_.Set(entry, kTrack, QStringLiteral("StartLBA"), 150).type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(client_.Set(entry, kTrack, QStringLiteral("TrackNo"), QVariant::fromValue<uchar>(7)).type(),
            QDBusMessage::ReplyMessage);
  EXPECT_TRUE(ErrorOf(client_.Set(entry, kTrack, QStringLiteral("TrackNo"), 7))
                  .startsWith(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs")));
  ASSERT_TRUE(BoolOf(Call(toc, QStringLiteral("SaveCUEFile"),
                          {Q(dir_.path() / "one.cue"), Q(dir_.path() / "one.bin"), QString(), 2048})));
  EXPECT_EQ(testing::ReadFileBytes(dir_.path() / "one.cue"),
            "FILE \"one.bin\" BINARY\r\n  TRACK 07 MODE1/2048\r\n    INDEX 01 00:02:00\r\n");
  // Deleted from the list, the entry's object lives on alone.
  EXPECT_TRUE(BoolOf(Call(toc, QStringLiteral("TOCDelete"), {Int16Arg(1)})));
  EXPECT_EQ(client_.Get(entry, kTrack, QStringLiteral("EndLBA")).toInt(), 999);

  // The MCN is padded and cut to 13; an ISRC beyond the list reads as none.
  EXPECT_EQ(client_.Set(toc, kToc, QStringLiteral("MCN"), QStringLiteral("4988")).type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(client_.Get(toc, kToc, QStringLiteral("MCN")).toString(), QStringLiteral("4988000000000"));
  EXPECT_EQ(ValueOf(Call(toc, QStringLiteral("ISRC"), {Int16Arg(40)})).toString(), QStringLiteral("000000000000"));
  EXPECT_TRUE(ErrorOf(client_.Set(toc, kToc, QStringLiteral("TOCCount"), QVariant::fromValue<short>(3)))
                  .startsWith(QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly")));

  // Raw entries: LBA and PLBA computed, read-only.
  ASSERT_EQ(Call(toc, QStringLiteral("RawTOCAdd"),
                 {ByteArg(1), ByteArg(0x14), ByteArg(0), ByteArg(0xA2), ByteArg(95), ByteArg(0), ByteArg(0), ByteArg(0),
                  ByteArg(1), ByteArg(2), ByteArg(3)})
                .type(),
            QDBusMessage::ReplyMessage);
  const QString raw = PathOf(Call(toc, QStringLiteral("RawTOC"), {Int16Arg(1)}));
  EXPECT_EQ(client_.Get(raw, kRaw, QStringLiteral("LBA")).toInt(), -22650);
  EXPECT_EQ(client_.Get(raw, kRaw, QStringLiteral("PLBA")).toInt(), 4500 + 150 + 3 - 150);
  EXPECT_TRUE(ErrorOf(client_.Set(raw, kRaw, QStringLiteral("LBA"), 5))
                  .startsWith(QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly")));

  // Packs from arrays of any length: missing bytes 0, extra bytes unread.
  struct PackCase {
    QByteArray data, crc;
    QByteArray want_data, want_crc;
  } cases[] = {{QByteArray(), QByteArray(), QByteArray(12, 0), QByteArray(2, 0)},
               {QByteArray("abc"), QByteArray(10 * 1024 * 1024, 'z'), QByteArray("abc") + QByteArray(9, 0), "zz"},
               {QByteArray(20, 'q'), QByteArray(1, 'c'), QByteArray(12, 'q'), QByteArray("c") + QByteArray(1, 0)}};
  for (const PackCase& c : cases) {
    ASSERT_EQ(Call(toc, QStringLiteral("CDTextAdd"), {ByteArg(0x80), ByteArg(0), ByteArg(0), ByteArg(0), c.data, c.crc})
                  .type(),
              QDBusMessage::ReplyMessage);
    const int count = client_.Get(toc, kToc, QStringLiteral("CDTextCount")).toInt();
    const QString pack = PathOf(Call(toc, QStringLiteral("CDText"), {Int16Arg(count)}));
    QByteArray data, crc;
    for (int i = 0; i < 12; ++i) data += static_cast<char>(ValueOf(client_.Call(pack, kPack, QStringLiteral("Data"), {Int16Arg(i)})).value<uchar>());
    for (int i = 0; i < 2; ++i) crc += static_cast<char>(ValueOf(client_.Call(pack, kPack, QStringLiteral("Crc"), {Int16Arg(i)})).value<uchar>());
    EXPECT_EQ(data, c.want_data) << count;
    EXPECT_EQ(crc, c.want_crc) << count;
  }
  const QString pack = PathOf(Call(toc, QStringLiteral("CDText"), {Int16Arg(1)}));
  EXPECT_EQ(client_.Call(pack, kPack, QStringLiteral("Data"), {Int16Arg(11), ByteArg(0x41)}).type(),
            QDBusMessage::ReplyMessage);
  EXPECT_EQ(ValueOf(client_.Call(pack, kPack, QStringLiteral("Data"), {Int16Arg(11)})).value<uchar>(), 0x41);
  for (int index : {-1, 12, 32767}) {
    EXPECT_TRUE(ErrorOf(client_.Call(pack, kPack, QStringLiteral("Data"), {Int16Arg(index)}))
                    .startsWith(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs")))
        << index;
  }
  EXPECT_TRUE(ErrorOf(client_.Call(pack, kPack, QStringLiteral("Crc"), {Int16Arg(2), ByteArg(1)}))
                  .startsWith(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs")));

  // Records a client creates stand alone, zero-filled.
  const std::pair<const char*, int> records[] = {{"TOCTrack", 7}, {"TOCRawTrack", 13}, {"TOCCDText", 4}};
  for (const auto& [record, properties] : records) {
    const QString made = client_.Create(QLatin1String(record));
    ASSERT_TRUE(made.startsWith(QStringLiteral("/SORVEL/") + QLatin1String(record) + u'/')) << record;
    const QVariantMap all = qdbus_cast<QVariantMap>(ValueOf(client_.Call(
        made, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"), {QString()})));
    EXPECT_EQ(all.size(), properties) << record;
    for (auto it = all.begin(); it != all.end(); ++it) {
      const QVariant value = it->metaType() == QMetaType::fromType<QDBusVariant>() ? it->value<QDBusVariant>().variant() : *it;
      // 00:00:00 is LBA -150.
      const int want = it.key().endsWith(QStringLiteral("LBA")) && QLatin1String(record) == QLatin1String("TOCRawTrack") ? -150 : 0;
      EXPECT_TRUE(value.isValid() && value.toInt() == want) << record << it.key().toStdString();
    }
  }
}

// A TOC is taken whole or refused, never cut: the model's lists end at
// 32,767 entries and each entry past that is refused; a TOC longer than the
// engine's 256 entries is refused by SetTOCStructure, which leaves the engine
// no TOC to write (it once came back as its first 256); a TOC ending at the last 32-bit
// LBA starts no write on a CD-R (it once answered CBR_OK in raw mode).
TEST_F(TOCInformationBusTest, TocsBeyondWhatTheyGoToAreRefusedWhole) {
  const QString kTrelin = QString::fromLatin1(kTrelinInterface);
  const QString toc = client_.Create(QStringLiteral("TOCInformation"));
  ASSERT_FALSE(toc.isEmpty());
  auto add = [&](int first, int count) {
    std::vector<QDBusPendingCall> calls;
    for (int i = first; i < first + count; ++i) {
      calls.push_back(client_.Send(toc, kToc, QStringLiteral("TOCAdd"),
                                   {ByteArg(1), ByteArg(1), ByteArg(1), 0, 0, i, i}));
    }
    int refused = 0;
    for (QDBusPendingCall& call : calls) {
      call.waitForFinished();
      if (call.isError()) {
        ++refused;
        EXPECT_EQ(call.error().name(), QLatin1String(kLimitsExceededError));
      }
    }
    return refused;
  };
  // 40,000 entries, sent a thousand at a time without waiting for each answer.
  int refused = 0;
  for (int first = 0; first < 40000; first += 1000) refused += add(first, 1000);
  EXPECT_EQ(refused, 40000 - 32767);
  EXPECT_EQ(client_.Get(toc, kToc, QStringLiteral("TOCCount")).toInt(), 32767);

  const QString drive = client_.Create(QStringLiteral("Trelin"));
  ASSERT_TRUE(BoolOf(client_.Call(drive, kTrelin, QStringLiteral("OpenDevice"), {Int16Arg(3)})));
  auto set_and_count = [&](int entries) {
    Call(toc, QStringLiteral("Clear"));
    EXPECT_EQ(add(0, entries), 0);
    const QDBusMessage set = client_.Call(drive, kTrelin, QStringLiteral("SetTOCStructure"), {PathArg(toc)});
    const QDBusMessage got = client_.Call(drive, kTrelin, QStringLiteral("GetTOCStructure"));
    const int count = client_.Get(PathOf(got), kToc, QStringLiteral("TOCCount")).toInt();
    return std::make_pair(set.type() == QDBusMessage::ReplyMessage ? QString() : set.errorName(), count);
  };
  EXPECT_EQ(set_and_count(256), std::make_pair(QString(), 256));
  EXPECT_EQ(set_and_count(257), std::make_pair(QString::fromLatin1(kLimitsExceededError), 0));

  Call(toc, QStringLiteral("Clear"));
  Call(toc, QStringLiteral("TOCAdd"), {ByteArg(1), ByteArg(1), ByteArg(1), 4, 1, 0, INT32_MAX});
  EXPECT_EQ(client_.Call(drive, kTrelin, QStringLiteral("SetTOCStructure"), {PathArg(toc)}).type(),
            QDBusMessage::ReplyMessage);
  for (int32_t command : {CCC_DAO_RAW16, CCC_DAO_RAW96, CCC_SAO}) {
    EXPECT_EQ(ValueOf(client_.Call(drive, kTrelin, QStringLiteral("WriteStart"), {command, 0})).toInt(),
              CBR_OVERCAPACITY)
        << command;
  }
  EXPECT_TRUE(BoolOf(client_.Call(drive, kTrelin, QStringLiteral("IsDiscEmpty"))));
}

}  // namespace
}  // namespace sorvel
