// What `sorvel --automation` tells about itself: every help string of the
// type library in the live introspection, the members and their signatures,
// the thirteen enumerations, and the installed interface files equal to what
// the server answers.
#include <gtest/gtest.h>

#include <QDBusObjectPath>
#include <QDir>
#include <QFile>
#include <QXmlStreamReader>
#include <map>

#include "gui/automation/automation_test_rig.h"

namespace sorvel {
namespace {

using testing::DBusClient;
using testing::Int16Arg;
using testing::PathOf;
using testing::ScratchDir;

// One interface of an introspection document, as parsed.
struct Member {
  QString kind;  // method, signal, property
  QString name;
  QString doc;
  QString in;   // method: input signature; property: its type; signal: its arguments
  QString out;  // method: output signature
  int docs = 0;  // DocString annotations found
};
struct Interface {
  QString name;
  QString doc;
  std::vector<std::pair<QString, QString>> annotations;
  std::vector<Member> members;
};

std::map<QString, Interface> Parse(const QString& xml) {
  std::map<QString, Interface> interfaces;
  QXmlStreamReader reader(xml);
  Interface* interface = nullptr;
  Member* member = nullptr;
  while (!reader.atEnd()) {
    reader.readNext();
    if (reader.isEndElement() && (reader.name() == u"method" || reader.name() == u"signal" || reader.name() == u"property"))
      member = nullptr;
    if (!reader.isStartElement()) continue;
    const auto attribute = [&](const char* name) { return reader.attributes().value(QLatin1String(name)).toString(); };
    if (reader.name() == u"interface") {
      interface = &interfaces[attribute("name")];
      interface->name = attribute("name");
    } else if (reader.name() == u"method" || reader.name() == u"signal" || reader.name() == u"property") {
      interface->members.push_back({reader.name().toString(), attribute("name"), {}, attribute("type"), {}, 0});
      member = &interface->members.back();
    } else if (reader.name() == u"arg" && member != nullptr) {
      (attribute("direction") == QLatin1String("out") ? member->out : member->in) += attribute("type");
    } else if (reader.name() == u"annotation" && interface != nullptr) {
      const QString name = attribute("name");
      const QString value = attribute("value");
      if (name == QLatin1String("org.gtk.GDBus.DocString")) {
        if (member != nullptr) {
          member->doc = value;
          ++member->docs;
        } else {
          interface->doc = value;
        }
      } else if (member == nullptr) {
        interface->annotations.emplace_back(name, value);
      }
    }
  }
  EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
  return interfaces;
}

// The server with one object of every class, all held by one client.
class AutomationIntrospectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.ok());
    ASSERT_TRUE(testing::StartServer(bus_));
    for (const char* name : {"Mastering", "Trelin", "TOCInformation", "TOCTrack", "TOCRawTrack", "TOCCDText"}) {
      const QString path = client_.Create(QLatin1String(name));
      ASSERT_FALSE(path.isEmpty()) << name;
      paths_[QStringLiteral("SORVEL.") + QLatin1String(name)] = path;
      paths_[QStringLiteral("SORVEL.") + QLatin1String(name) + QStringLiteral(".Factory")] =
          QStringLiteral("/SORVEL/") + QLatin1String(name);
    }
    const QString speeds = PathOf(client_.Call(paths_[QStringLiteral("SORVEL.Trelin")], QStringLiteral("SORVEL.Trelin"),
                                               QStringLiteral("GetReadSpeed")));
    ASSERT_FALSE(speeds.isEmpty());
    client_.Call(speeds, QStringLiteral("SORVEL.TLNSpeeds"), QStringLiteral("Add"), {false, 176});
    paths_[QStringLiteral("SORVEL.TLNSpeeds")] = speeds;
    paths_[QStringLiteral("SORVEL.TLNSpeed")] =
        PathOf(client_.Call(speeds, QStringLiteral("SORVEL.TLNSpeeds"), QStringLiteral("Items"), {Int16Arg(1)}));
    for (const auto& [name, path] : paths_) {
      const QString xml = client_.Introspect(path);
      ASSERT_FALSE(xml.isEmpty()) << name.toStdString();
      live_[name] = xml;
      interfaces_[name] = Parse(xml)[name];
    }
  }
  const Interface& Of(const char* name) { return interfaces_[QLatin1String(name)]; }

  ScratchDir dir_;
  testing::AutomationDrives drives_{dir_, {"medium=cd-r"}};
  testing::PrivateBus bus_;
  DBusClient client_{bus_, QStringLiteral("client")};
  std::map<QString, QString> paths_;
  std::map<QString, QString> live_;
  std::map<QString, Interface> interfaces_;
};

struct Help {
  const char* interface;
  const char* member;  // "" for the interface itself
  const char* text;
};

// Every help string of the type library's public classes, byte for byte; a
// member with several signatures carries it on each.
TEST_F(AutomationIntrospectionTest, EveryHelpStringIsInTheIntrospection) {
  const char* const compatibility =
      "\nこのメソッドは互換性のために用意されています。代わりにIsSupportMediaメソッドを利用してください。";
  const std::string read_support = std::string("ドライヴが指定された媒体区分の読み込みに対応しているかを確認します。") + compatibility;
  const std::string write_support = std::string("ドライヴが指定された媒体区分の書き込みに対応しているかを確認します。") + compatibility;
  const Help helps[] = {
      {"SORVEL.Trelin", "", "ドライヴ中継エンジン"},
      {"SORVEL.Trelin", "GetEngineVersion", "エンジンのバージョンを取得します。"},
      {"SORVEL.Trelin", "GetRemoteHosts", "遠隔SCSIサービスを起動しているホストアドレスを取得します。"},
      {"SORVEL.Trelin", "OpenDevice", "ドライヴの制御を取得します。"},
      {"SORVEL.Trelin", "OpenDeviceEx", "ドライヴの制御を取得します。"},
      {"SORVEL.Trelin", "CloseDevice", "ドライヴの制御を解放します。"},
      {"SORVEL.Trelin", "GetDeviceName", "デバイス名を取得します。"},
      {"SORVEL.Trelin", "ClearTOCStructure", "内蔵TOC情報を初期化します。"},
      {"SORVEL.Trelin", "GetTOCStructure", "エンジンに設定されているTOC情報を取得します。"},
      {"SORVEL.Trelin", "SetTOCStructure", "エンジンにTOC情報を設定します。"},
      {"SORVEL.Trelin", "GetFirstLBA", "読み書き可能な最初のLBAを取得します。"},
      {"SORVEL.Trelin", "GetLastLBA", "読み書き可能な最後のLBAを取得します。"},
      {"SORVEL.Trelin", "SetBufferingBlockLength", "読み書きブロック数を指定します。"},
      {"SORVEL.Trelin", "ReadStart", "媒体の読み込み処理を開始します。"},
      {"SORVEL.Trelin", "ReadLBA", "媒体の指定されたLBAを読み込みます。"},
      {"SORVEL.Trelin", "ReadEnd", "媒体の読み込み処理を終了します。"},
      {"SORVEL.Trelin", "WriteStart", "媒体の書き込み処理を開始します。"},
      {"SORVEL.Trelin", "WriteLBA", "媒体の指定LBAにデータを書き込みます。"},
      {"SORVEL.Trelin", "WriteEnd", "媒体の書き込み処理を終了します。"},
      {"SORVEL.Trelin", "LoadTray", "ドライヴのトレイを開閉します。"},
      {"SORVEL.Trelin", "IsReady", "媒体が挿入されていることを確認します。"},
      {"SORVEL.Trelin", "GetMediaType", "挿入されている媒体の種類を取得します。"},
      {"SORVEL.Trelin", "GetMediaFamilyType", "挿入されている媒体の分類を取得します。"},
      {"SORVEL.Trelin", "LockUnlock", "ドライヴのイジェクトボタンを有効／無効化します。"},
      {"SORVEL.Trelin", "EraseMedia", "書き換え可能な媒体の内容を消去します。"},
      {"SORVEL.Trelin", "IsSupportMedia", "ドライヴが指定された媒体種別に対応しているかを確認します。"},
      {"SORVEL.Trelin", "IsReadSupport", read_support.c_str()},
      {"SORVEL.Trelin", "IsWriteSupport", write_support.c_str()},
      {"SORVEL.Trelin", "IsDiscEmpty", "現在挿入されている媒体が空であることを確認します。"},
      {"SORVEL.Trelin", "SetECCMode", "媒体読み込み時のエラー訂正機構の有効／無効状態を切り替えます。"},
      {"SORVEL.Trelin", "SetReadSpeed", "読み込み速度を設定します。"},
      {"SORVEL.Trelin", "SetWriteSpeed", "書き込み速度を設定します。"},
      {"SORVEL.Trelin", "GetReadSpeed", "読み込み速度を取得します。"},
      {"SORVEL.Trelin", "GetWriteSpeed", "現在挿入されている媒体に対応した書き込み速度を取得します。"},
      {"SORVEL.Trelin", "CheckWriteMode", "指定書き込みコマンドに対応しているかを確認します。"},
      {"SORVEL.Trelin", "GetSCSIErrorStatus", "SCSIエラー情報を取得します。"},
      {"SORVEL.Trelin", "GetSCSIErrorDescription", "SCSIエラー情報の詳細内容を取得します。"},
      {"SORVEL.Trelin", "SetWriteCacheBufferSize", "ソフトウェア緩衝域のサイズを指定します。"},
      {"SORVEL.Trelin", "GetUsedWriteCacheBufferSize", "使用中のソフトウェア緩衝域のサイズを取得します。"},
      {"SORVEL.Trelin", "WriteFlush", ""},
      {"SORVEL.Trelin", "GetLastWroteLBA", ""},
      {"SORVEL.TLNSpeed", "", "MMC速度エントリ"},
      {"SORVEL.TLNSpeed", "CAV", "回転速度(True:CAV/False:CLV)"},
      {"SORVEL.TLNSpeed", "Speed", ""},
      {"SORVEL.TLNSpeeds", "", "MMC速度コレクション"},
      {"SORVEL.TLNSpeeds", "Items", "アイテムの参照"},
      {"SORVEL.TLNSpeeds", "Count", "アイテム数"},
      {"SORVEL.TLNSpeeds", "Clear", "全てのアイテムを削除"},
      {"SORVEL.TLNSpeeds", "Delete", "アイテムの削除"},
      {"SORVEL.TLNSpeeds", "Add", ""},
      {"SORVEL.Mastering", "VolumeLabel", "データトラックのボリュームラベルを指定します。値の取得も可能です。"},
      {"SORVEL.Mastering", "InitISOFS", "データトラックのファイルシステムを指定します。"},
      {"SORVEL.Mastering", "ClearISO", "データトラックに追加された全てのファイルを消去します。"},
      {"SORVEL.Mastering", "IsISOEmpty", "データトラックが空かどうかを判定します。"},
      {"SORVEL.Mastering", "AddFile", "データトラックにファイルを追加します。"},
      {"SORVEL.Mastering", "ClearTrack", "追加したトラックを全てクリアします。"},
      {"SORVEL.Mastering", "AddTrack", "書き込み対象のトラックファイルを追加します。"},
      {"SORVEL.Mastering", "RemoveTrack", "指定されたトラックを削除します。"},
      {"SORVEL.Mastering", "GetTrackCount", "全トラック数を返します。"},
      {"SORVEL.Mastering", "ShowBurnDialog", "ディスク書き込みダイアログを表示します。"},
      {"SORVEL.Mastering", "StartBurn", "ディスクへの書き込みを開始します。"},
      {"SORVEL.Mastering", "StopBurn", "ディスクの書き込みを中断します。"},
      {"SORVEL.Mastering", "IsReady", "ドライヴにディスクがセットされているかどうかを判定します。"},
      {"SORVEL.Mastering", "IsDiscWritable", "現在ドライヴにセットされているディスクが書き込み可能かどうかを判定します。"},
      {"SORVEL.Mastering", "Progress", "書き込み進捗状況を通知します。"},
  };
  for (const Help& help : helps) {
    SCOPED_TRACE(std::string(help.interface) + " " + help.member);
    const Interface& interface = Of(help.interface);
    const QString text = QString::fromUtf8(help.text);
    if (*help.member == '\0') {
      EXPECT_EQ(interface.doc, text);
      continue;
    }
    int found = 0;
    for (const Member& member : interface.members) {
      if (member.name != QLatin1String(help.member)) continue;
      ++found;
      EXPECT_EQ(member.doc, text);
      EXPECT_EQ(member.docs, text.isEmpty() ? 0 : 1);
    }
    EXPECT_GE(found, 1);
  }
}

// The 40 public members of Trelin in interface order, each form of a member
// with defaulted arguments, in D-Bus types; the friends are not there. The
// same for Mastering.
TEST_F(AutomationIntrospectionTest, MembersInOrderWithEveryFormAndTheirTypes) {
  const auto forms = [](const Interface& interface) {
    QStringList out;
    for (const Member& m : interface.members) {
      if (m.kind == QLatin1String("method")) out << m.name + u'(' + m.in + u')' + m.out;
      else out << m.kind + u' ' + m.name + u' ' + m.in;
    }
    return out.join(u' ');
  };
  EXPECT_EQ(forms(Of("SORVEL.Trelin")).toStdString(),
            "GetEngineVersion()i GetRemoteHosts(sii)s GetRemoteHosts(si)s OpenDevice(n)b OpenDeviceEx(s)b "
            "CloseDevice()b GetDeviceName()s GetDeviceName(i)s ClearTOCStructure() GetTOCStructure()o "
            "SetTOCStructure(o) GetFirstLBA()i GetLastLBA()i SetBufferingBlockLength(n) ReadStart(ii)i "
            "ReadLBA(ayi)bay ReadEnd()b WriteStart(ii)i WriteLBA(iayi)b WriteEnd()b WriteEnd(b)b LoadTray(b)b "
            "IsReady()b GetMediaType()i GetMediaFamilyType()i LockUnlock(b)b EraseMedia()b EraseMedia(b)b "
            "IsSupportMedia(i)b IsReadSupport(i)b IsWriteSupport(i)b IsDiscEmpty()b SetECCMode(bi)b SetECCMode(b)b "
            "SetReadSpeed(nb)b SetReadSpeed()b SetReadSpeed(n)b SetWriteSpeed(nb)b SetWriteSpeed()b "
            "SetWriteSpeed(n)b GetReadSpeed()o GetWriteSpeed()o CheckWriteMode(ibi)b GetSCSIErrorStatus()i "
            "GetSCSIErrorDescription()s SetWriteCacheBufferSize(i) GetUsedWriteCacheBufferSize()i WriteFlush()b "
            "WriteFlush(b)b GetLastWroteLBA()i");
  QStringList names;
  for (const Member& m : Of("SORVEL.Trelin").members) {
    if (!names.contains(m.name)) names << m.name;
  }
  EXPECT_EQ(names.size(), 40);
  EXPECT_EQ(forms(Of("SORVEL.Mastering")).toStdString(),
            "InitISOFS(i)b ClearISO() IsISOEmpty()b AddFile(ss)b AddFile(s)b ClearTrack() AddTrack(siii)b "
            "AddTrack(sii)b RemoveTrack(i)b GetTrackCount()i ShowBurnDialog(iss)i ShowBurnDialog(is)i "
            "ShowBurnDialog(i)i StartBurn(sb)b StartBurn(s)b StopBurn()b IsReady(s)b IsDiscWritable(s)b "
            "signal Progress ii property VolumeLabel s");
  EXPECT_EQ(forms(Of("SORVEL.TOCInformation")).toStdString(),
            "Clear() TOC(n)o TOCAdd(yyyiiii) TOCDelete(n)b RawTOC(n)o RawTOCAdd(yyyyyyyyyyy) RawTOCDelete(n)b "
            "ISRC(n)s ISRCAdd(s) ISRCDelete(n)b CDText(n)o CDTextAdd(yyyyayay) CDTextDelete(n)b "
            "SaveCUEFile(sssi)b SaveCUEFile(sss)b SaveCCDFile(s)b LoadISOFile(si)bi LoadCUEFile(ssi)bsi "
            "LoadCCDFile(s)b signal StatusChange s signal StatusChangeEx is property TOCCount n "
            "property RawTOCCount n property MCN s property ISRCCount n property CDTextCount n");
  EXPECT_EQ(forms(Of("SORVEL.TLNSpeeds")).toStdString(),
            "Items(n)o Clear() Delete(n)b Add(bi) property Count n");
  EXPECT_EQ(forms(Of("SORVEL.TLNSpeed")).toStdString(), "property CAV b property Speed i");
  EXPECT_EQ(forms(Of("SORVEL.TOCTrack")).toStdString(),
            "property SessionNo y property TrackNo y property IndexNo y property Flags i property SectorMode i "
            "property StartLBA i property EndLBA i");
  EXPECT_EQ(forms(Of("SORVEL.TOCRawTrack")).toStdString(),
            "property SessionNo y property AdrControl y property Track y property Point y property Minute y "
            "property Second y property Frame y property Zero y property PMinute y property PSecond y "
            "property PFrame y property LBA i property PLBA i");
  EXPECT_EQ(forms(Of("SORVEL.TOCCDText")).toStdString(),
            "Data(ny) Data(n)y Crc(ny) Crc(n)y property PacketType y property TrackNo y property PacketNo y "
            "property Flags y");
  for (const char* factory : {"SORVEL.Trelin.Factory", "SORVEL.Mastering.Factory", "SORVEL.TOCCDText.Factory"}) {
    EXPECT_EQ(forms(Of(factory)).toStdString(), "Create()o Release(o)b") << factory;
  }
  // The form a client keeps when it keeps the last of a member's forms (as
  // dbus-python does) takes arguments, unless the member has only the one
  // form without: one without would be sent without the arguments given.
  for (const auto& [name, interface] : interfaces_) {
    std::map<QString, std::pair<QString, int>> last;  // member: last form's signature, forms
    for (const Member& m : interface.members) {
      if (m.kind != QLatin1String("method")) continue;
      auto& [signature, count] = last[m.name];
      signature = m.in;
      ++count;
    }
    for (const auto& [member, form] : last) {
      EXPECT_TRUE(form.second == 1 || !form.first.isEmpty()) << name.toStdString() << '.' << member.toStdString();
    }
  }
  // Items is the list's default member.
  const auto& annotations = Of("SORVEL.TLNSpeeds").annotations;
  EXPECT_NE(std::find(annotations.begin(), annotations.end(),
                      std::pair<QString, QString>(QStringLiteral("SORVEL.DefaultMember"), QStringLiteral("Items"))),
            annotations.end());
}

struct Enumeration {
  const char* name;
  bool engine;  // carries the device engine's help string
  std::vector<std::pair<const char*, int32_t>> members;
};

// The thirteen enumerations, names and values, each published on an
// interface that uses it.
TEST_F(AutomationIntrospectionTest, EnumerationsWithTheirNamesAndValues) {
  const Enumeration enumerations[] = {
      {"MediaFamilyTypeConstants", true,
       {{"MFT_CDFAMILY", 1}, {"MFT_DVDFAMILY", 2}, {"MFT_BDFAMILY", 3}, {"MFT_HDDVDFAMILY", 4}, {"MFT_UNKNOWN", 255}}},
      {"MediaTypeConstants", true,
       {{"MTC_CD_ROM", 8},      {"MTC_CD_R", 9},         {"MTC_CD_RW", 10},       {"MTC_DVD_ROM", 16},
        {"MTC_DVD_R", 17},      {"MTC_DVD_RAM", 18},     {"MTC_DVD_RW_OW", 19},   {"MTC_DVD_RW", 20},
        {"MTC_DVD_R_DL", 21},   {"MTC_DVD_R_DL_JR", 22}, {"MTC_DVD_RW_DL", 23},   {"MTC_DVD_DDR", 24},
        {"MTC_PC_RW", 26},      {"MTC_PC_R", 27},        {"MTC_PC_RW_DL", 42},    {"MTC_PC_R_DL", 43},
        {"MTC_BD_ROM", 64},     {"MTC_BD_R", 65},        {"MTC_BD_R_RR", 66},     {"MTC_BD_RE", 67},
        {"MTC_HDDVD_ROM", 80},  {"MTC_HDDVD_R", 81},     {"MTC_HDDVD_RAM", 82},   {"MTC_HDDVD_RW", 83},
        {"MTC_HDDVD_R_DL", 88}, {"MTC_HDDVD_RW_DL", 90}, {"MTC_ERROR", 65535}}},
      {"CDReadCommandConstants", true, {{"CCC_DATA", 0}, {"CCC_RAW", 1}, {"CCC_RAW16", 2}, {"CCC_RAW96", 3}}},
      {"CDWriteCommandConstants", true,
       {{"CCC_SAO", 0}, {"CCC_SAO_RAW", 1}, {"CCC_DAO_RAW16", 3}, {"CCC_DAO_RAW96", 4}}},
      {"SectorModeConstants", true, {{"SMC_AUDIO", 0}, {"SMC_MODE1", 1}, {"SMC_MODE2", 2}}},
      {"CDDiscDataConstants", true,
       {{"CDD_MAINDATA", 0}, {"CDD_FIRSTPREGAP", 4}, {"CDD_NOPREGAP", 16384}, {"CDD_FIRSTSESSIONONLY", 32768},
        {"CDD_OPCOFF", 262144}, {"CDD_OVERBURN", 524288}, {"CDD_COLLECTSUBPQ", 8388608}}},
      {"CDSectorDataConstants", true,
       {{"CSD_SECTORONLY", 0}, {"CSD_MAINCHANNEL", 1}, {"CSD_MAINSUBCHANNEL", 2}, {"CSD_ERRORDATA", 32768}}},
      {"TOCStructureTypeConstants", true,
       {{"TST_TOC", 0}, {"TST_RAWTOC", 1}, {"TST_MCN", 2}, {"TST_ISRC", 3}, {"TST_CDTEXT", 4}}},
      {"TrackControlFieldConstants", true,
       {{"TCF_PREEMPHASIS", 1}, {"TCF_INCREMENTAL", 1}, {"TCF_COPYPERMITTED", 2}, {"TCF_DATATRACK", 4}}},
      {"CDBIOSReturnConstants", true,
       {{"CBR_OK", 0}, {"CBR_ALREADYRUNNING", 1}, {"CBR_UNKNOWNMEDIA", 2}, {"CBR_IGNOREDATAASSORTMENT", 3},
        {"CBR_IGNOREREADCOMMAND", 4}, {"CBR_IGNOREWRITECOMMAND", 5}, {"CBR_TOCREADERROR", 6}, {"CBR_NOTEMPTY", 7},
        {"CBR_RWFORMATERROR", 8}, {"CBR_OVERCAPACITY", 9}}},
      {"DeviceNameConstants", true,
       {{"DNC_VENDOR", 1}, {"DNC_NAME", 2}, {"DNC_VENDORNAME", 3}, {"DNC_REVISION", 4}, {"DNC_ALL", 7}}},
      {"MasteringFileSystemConstants", false,
       {{"SORVEL_JISX0606_LEVEL1", 0}, {"SORVEL_JISX0606_DOS", 1}, {"SORVEL_JISX0606_LEVEL2", 2},
        {"SORVEL_JISX0606_ROMEO", 3}, {"SORVEL_JISX0606_LEVEL4", 4}, {"SORVEL_JISX0606_JOLIET", 16},
        {"SORVEL_JISX0606_JOLIET2", 17}}},
      {"MasteringTrackControlFieldConstants", false, {{"SORVEL_PREEMPHASIS", 1}, {"SORVEL_COPYPERMITTED", 2}}},
  };
  // Enumeration -> its annotations ("member" -> value, "DocString" -> help),
  // the same on every interface that publishes it.
  std::map<QString, std::vector<std::pair<QString, QString>>> published;
  for (const auto& [name, interface] : interfaces_) {
    std::map<QString, std::vector<std::pair<QString, QString>>> here;
    for (const auto& [annotation, value] : interface.annotations) {
      const QStringList parts = annotation.split(u'.');
      if (parts.size() != 4 || parts[0] != QLatin1String("SORVEL") || parts[1] != QLatin1String("Enumeration")) continue;
      here[parts[2]].emplace_back(parts[3], value);
    }
    for (const auto& [enumeration, members] : here) {
      if (published.count(enumeration) != 0) {
        EXPECT_EQ(published[enumeration], members) << enumeration.toStdString();
      }
      published[enumeration] = members;
    }
  }
  EXPECT_EQ(published.size(), std::size(enumerations));
  for (const Enumeration& e : enumerations) {
    SCOPED_TRACE(e.name);
    std::vector<std::pair<QString, QString>> want;
    if (e.engine) want.emplace_back(QStringLiteral("DocString"), QStringLiteral("ドライヴ中継エンジン"));
    for (const auto& [member, value] : e.members) want.emplace_back(QLatin1String(member), QString::number(value));
    EXPECT_EQ(published[QLatin1String(e.name)], want);
  }
}

// Each installed interface file holds exactly the interface element the
// server answers for it, in a well-formed document.
TEST_F(AutomationIntrospectionTest, InstalledInterfaceFilesEqualTheLiveIntrospection) {
  const QString folder = QFileInfo(testing::Q(testing::BuiltLibraryPath("sorvel"))).absolutePath() +
                         QStringLiteral("/../share/dbus-1/interfaces");
  const QStringList files = QDir(folder).entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name);
  EXPECT_EQ(files.size(), 14);
  const auto element = [](const QString& xml, const QString& name) {
    const int start = xml.indexOf(QStringLiteral("  <interface name=\"%1\">").arg(name));
    const int end = xml.indexOf(QStringLiteral("  </interface>\n"), start);
    return start < 0 || end < 0 ? QString() : xml.mid(start, end + 15 - start);
  };
  for (const auto& [name, xml] : live_) {
    SCOPED_TRACE(name.toStdString());
    QFile file(folder + u'/' + name + QStringLiteral(".xml"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString installed = QString::fromUtf8(file.readAll());
    EXPECT_EQ(Parse(installed).size(), 1u);
    EXPECT_TRUE(installed.startsWith(QStringLiteral("<!DOCTYPE node PUBLIC")));
    const QString want = element(xml, name);
    ASSERT_FALSE(want.isEmpty());
    EXPECT_EQ(element(installed, name), want);
  }
  // The root lists the factories.
  const QString root = client_.Introspect(QStringLiteral("/SORVEL"));
  for (const char* factory : {"Mastering", "Trelin", "TOCInformation", "TOCTrack", "TOCRawTrack", "TOCCDText"}) {
    EXPECT_TRUE(root.contains(QStringLiteral("<node name=\"%1\"/>").arg(QLatin1String(factory)))) << factory;
  }
  EXPECT_FALSE(root.contains(QStringLiteral("TLNSpeeds")));
}

}  // namespace
}  // namespace sorvel
