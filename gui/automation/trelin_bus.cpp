#include "gui/automation/trelin_bus.h"

#include <QDBusObjectPath>

#include "gui/automation/tln_speeds_bus.h"
#include "gui/automation/toc_information_bus.h"

namespace sorvel {
namespace {

using Self = TrelinBusObject;

BusArg Bool(const char* name) { return Arg(QLatin1String(name), QStringLiteral("b")); }
BusArg Int16(const char* name) { return Arg(QLatin1String(name), QStringLiteral("n")); }
BusArg Long(const char* name, const char* enumeration = "") {
  return Arg(QLatin1String(name), QStringLiteral("i"), QLatin1String(enumeration));
}
BusArg Text(const char* name) { return Arg(QLatin1String(name), QStringLiteral("s")); }
BusArg Bytes(const char* name) { return Arg(QLatin1String(name), QStringLiteral("ay")); }

// Ends the write cache's worker (dropping what it has not written) before
// the object sends drive commands of its own.
void StopWorker(Self& self) {
  if (!self.worker_may_run) return;
  self.Drive().WriteFlush(true);
  self.worker_may_run = false;
}

// Runs `body`, a member that sends drive commands, unless the write cache's
// worker may be writing: then the member answers `failure` without a command.
template <typename Body>
void DriveCommand(Self& self, BusCall& call, QVariantList failure, Body&& body) {
  if (self.worker_may_run) {
    call.Reply(std::move(failure));
    return;
  }
  body();
}

void ReplySpeeds(BusCall& call, std::unique_ptr<TLNSpeeds> speeds) {
  call.Reply({QVariant::fromValue(call.HandOut(std::make_shared<TLNSpeedsBusObject>(std::move(speeds))))});
}

const BusInterface& Interface() {
  static const BusInterface kInterface = [] {
    BusInterface i;
    i.name = QString::fromLatin1(kTrelinInterface);
    i.doc = QStringLiteral("ドライヴ中継エンジン");
    i.enumerations = {QStringLiteral("MediaFamilyTypeConstants"),  QStringLiteral("MediaTypeConstants"),
                      QStringLiteral("CDReadCommandConstants"),    QStringLiteral("CDWriteCommandConstants"),
                      QStringLiteral("CDDiscDataConstants"),       QStringLiteral("CDSectorDataConstants"),
                      QStringLiteral("TOCStructureTypeConstants"), QStringLiteral("CDBIOSReturnConstants"),
                      QStringLiteral("DeviceNameConstants")};
    const BusArg ok = Result(QStringLiteral("b"));
    const BusArg number = Result(QStringLiteral("i"));
    const BusArg text = Result(QStringLiteral("s"));
    const BusArg object = Result(QStringLiteral("o"));

    i.Method<Self>(QStringLiteral("GetEngineVersion"), {}, {number}, QStringLiteral("エンジンのバージョンを取得します。"),
                   [](Self& self, BusCall& call) { call.Reply({self.Drive().GetEngineVersion()}); });
    {
      const QString help = QStringLiteral("遠隔SCSIサービスを起動しているホストアドレスを取得します。");
      const auto hosts = [](Self& self, BusCall& call, int32_t timeout) {
        DriveCommand(self, call, {QString()}, [&] {
          call.Reply({self.Drive().GetRemoteHosts(call.String(0), call.Int32(1), timeout)});
        });
      };
      i.Method<Self>(QStringLiteral("GetRemoteHosts"),
                     {Text("strBroadCastIP"), Long("lngPortNo"), Long("lngTimeout")}, {text}, help,
                     [hosts](Self& self, BusCall& call) {
                       hosts(self, call, call.Int32(2));
                     });
      i.Method<Self>(QStringLiteral("GetRemoteHosts"), {Text("strBroadCastIP"), Long("lngPortNo")}, {text}, help,
                     [hosts](Self& self, BusCall& call) { hosts(self, call, 200); });
    }
    {
      const QString help = QStringLiteral("ドライヴの制御を取得します。");
      const auto opened = [](Self& self, BusCall& call, bool result) {
        self.open = result;
        self.read_sector_size = 0;
        self.write_media_family.reset();
        call.Reply({result});
      };
      i.Method<Self>(QStringLiteral("OpenDevice"), {Int16("intDrive")}, {ok}, help,
                     [opened](Self& self, BusCall& call) {
                       StopWorker(self);
                       opened(self, call, self.Drive().OpenDevice(call.Int16(0)));
                     });
      i.Method<Self>(QStringLiteral("OpenDeviceEx"), {Text("strDeviceName")}, {ok}, help,
                     [opened](Self& self, BusCall& call) {
                       StopWorker(self);
                       opened(self, call, self.Drive().OpenDeviceEx(call.String(0)));
                     });
    }
    i.Method<Self>(QStringLiteral("CloseDevice"), {}, {ok}, QStringLiteral("ドライヴの制御を解放します。"),
                   [](Self& self, BusCall& call) {
                     StopWorker(self);
                     const bool closed = self.Drive().CloseDevice();
                     self.open = false;
                     self.read_sector_size = 0;
                     self.write_media_family.reset();
                     call.Reply({closed});
                   });
    {
      const QString help = QStringLiteral("デバイス名を取得します。");
      i.Method<Self>(QStringLiteral("GetDeviceName"), {}, {text}, help,
                     [](Self& self, BusCall& call) { call.Reply({self.Drive().GetDeviceName()}); });
      i.Method<Self>(QStringLiteral("GetDeviceName"), {Long("lngNameType", "DeviceNameConstants")}, {text}, help,
                     [](Self& self, BusCall& call) { call.Reply({self.Drive().GetDeviceName(call.Int32(0))}); });
    }
    i.Method<Self>(QStringLiteral("ClearTOCStructure"), {}, {}, QStringLiteral("内蔵TOC情報を初期化します。"),
                   [](Self& self, BusCall&) { self.Drive().ClearTOCStructure(); });
    i.Method<Self>(QStringLiteral("GetTOCStructure"), {}, {object},
                   QStringLiteral("エンジンに設定されているTOC情報を取得します。"), [](Self& self, BusCall& call) {
                     auto toc = std::make_shared<TOCInformationBusObject>(self.Drive().GetTOCStructure());
                     call.Reply({QVariant::fromValue(call.HandOut(std::move(toc)))});
                   });
    i.Method<Self>(QStringLiteral("SetTOCStructure"), {Arg(QStringLiteral("objTOCInfo"), QStringLiteral("o"))}, {},
                   QStringLiteral("エンジンにTOC情報を設定します。"), [](Self& self, BusCall& call) {
                     const auto toc = call.ObjectArgument<TOCInformationBusObject>(0);
                     if (toc == nullptr) return;
                     // The TOC is copied while no call of its own changes it;
                     // one running (a sheet still loading) makes this call
                     // answer busy rather than wait for it. A TOC the engine
                     // cannot hold whole is refused, never cut.
                     bool taken = true;
                     if (!toc->TryReadModel([&] { taken = self.Drive().SetTOCStructure(toc->Toc()); })) {
                       call.Fail(QLatin1String(kBusyError),
                                 QStringLiteral("The TOC object '%1' is inside a call of its own; try again when it "
                                                "has answered")
                                     .arg(toc->Path()));
                       return;
                     }
                     if (!taken) {
                       call.Fail(QLatin1String(kLimitsExceededError),
                                 QStringLiteral("The TOC holds more entries than the engine takes"));
                     }
                   });
    i.Method<Self>(QStringLiteral("GetFirstLBA"), {}, {number}, QStringLiteral("読み書き可能な最初のLBAを取得します。"),
                   [](Self& self, BusCall& call) { call.Reply({self.Drive().GetFirstLBA()}); });
    i.Method<Self>(QStringLiteral("GetLastLBA"), {}, {number}, QStringLiteral("読み書き可能な最後のLBAを取得します。"),
                   [](Self& self, BusCall& call) { call.Reply({self.Drive().GetLastLBA()}); });
    i.Method<Self>(QStringLiteral("SetBufferingBlockLength"), {Int16("intBlockLength")}, {},
                   QStringLiteral("読み書きブロック数を指定します。"), [](Self& self, BusCall& call) {
                     DriveCommand(self, call, {}, [&] { self.Drive().SetBufferingBlockLength(call.Int16(0)); });
                   });
    i.Method<Self>(QStringLiteral("ReadStart"),
                   {Long("lngReadCommand", "CDReadCommandConstants"), Long("lngReadFlag", "CDDiscDataConstants")},
                   {Result(QStringLiteral("i"), QStringLiteral("CDBIOSReturnConstants"))},
                   QStringLiteral("媒体の読み込み処理を開始します。"), [](Self& self, BusCall& call) {
                     DriveCommand(self, call, {int32_t{CBR_ALREADYRUNNING}}, [&] {
                       const int32_t command = call.Int32(0);
                       const int32_t result = self.Drive().ReadStart(command, call.Int32(1));
                       if (result == CBR_OK) {
                         self.read_sector_size = Self::ReadSectorSize(command);
                         self.write_media_family.reset();
                       } else if (result != CBR_ALREADYRUNNING) {
                         self.read_sector_size = 0;
                       }
                       call.Reply({result});
                     });
                   });
    // The array the client sends only stands for the caller's buffer: the
    // sector comes back as the second result.
    i.Method<Self>(QStringLiteral("ReadLBA"), {Bytes("bytData"), Long("lngLBA")}, {ok, Bytes("bytData")},
                   QStringLiteral("媒体の指定されたLBAを読み込みます。"), [](Self& self, BusCall& call) {
                     DriveCommand(self, call, {false, QByteArray()}, [&] {
                       QByteArray sector(Trelin::kSectorBufferSize, '\0');
                       const bool read = self.Drive().ReadLBA(sector, call.Int32(1));
                       sector.truncate(self.read_sector_size);
                       call.Reply({read, sector});
                     });
                   });
    i.Method<Self>(QStringLiteral("ReadEnd"), {}, {ok}, QStringLiteral("媒体の読み込み処理を終了します。"),
                   [](Self& self, BusCall& call) {
                     DriveCommand(self, call, {false}, [&] {
                       self.read_sector_size = 0;
                       call.Reply({self.Drive().ReadEnd()});
                     });
                   });
    i.Method<Self>(QStringLiteral("WriteStart"),
                   {Long("lngWriteCommand", "CDWriteCommandConstants"), Long("lngWriteFlag", "CDDiscDataConstants")},
                   {Result(QStringLiteral("i"), QStringLiteral("CDBIOSReturnConstants"))},
                   QStringLiteral("媒体の書き込み処理を開始します。"), [](Self& self, BusCall& call) {
                     DriveCommand(self, call, {int32_t{CBR_ALREADYRUNNING}}, [&] {
                       const int32_t family = self.Drive().GetMediaFamilyType();
                       const int32_t result = self.Drive().WriteStart(call.Int32(0), call.Int32(1));
                       if (result == CBR_OK) {
                         self.write_media_family = family;
                         self.worker_may_run = true;
                         self.read_sector_size = 0;
                       }
                       call.Reply({result});
                     });
                   });
    i.Method<Self>(QStringLiteral("WriteLBA"),
                   {Long("lngDataType", "CDSectorDataConstants"), Bytes("bytData"), Long("lngLBA")}, {ok},
                   QStringLiteral("媒体の指定LBAにデータを書き込みます。"), [](Self& self, BusCall& call) {
                     const int32_t type = call.Int32(0);
                     const QByteArray data = call.Bytes(1);
                     if (self.write_media_family &&
                         data.size() < Self::WriteDataSize(*self.write_media_family, type)) {
                       call.Reply({false});
                       return;
                     }
                     call.Reply({self.Drive().WriteLBA(type, data, call.Int32(2))});
                   });
    {
      const QString help = QStringLiteral("媒体の書き込み処理を終了します。");
      const auto end = [](Self& self, BusCall& call, bool abort) {
        const bool ended = self.Drive().WriteEnd(abort);
        self.worker_may_run = false;
        self.write_media_family.reset();
        call.Reply({ended});
      };
      i.Method<Self>(QStringLiteral("WriteEnd"), {}, {ok}, help,
                     [end](Self& self, BusCall& call) { end(self, call, false); });
      i.Method<Self>(QStringLiteral("WriteEnd"), {Bool("blnAbort")}, {ok}, help,
                     [end](Self& self, BusCall& call) { end(self, call, call.Bool(0)); });
    }
    i.Method<Self>(QStringLiteral("LoadTray"), {Bool("blnLoad")}, {ok}, QStringLiteral("ドライヴのトレイを開閉します。"),
                   [](Self& self, BusCall& call) {
                     DriveCommand(self, call, {false}, [&] { call.Reply({self.Drive().LoadTray(call.Bool(0))}); });
                   });
    i.Method<Self>(QStringLiteral("IsReady"), {}, {ok}, QStringLiteral("媒体が挿入されていることを確認します。"),
                   [](Self& self, BusCall& call) {
                     DriveCommand(self, call, {false}, [&] { call.Reply({self.Drive().IsReady()}); });
                   });
    i.Method<Self>(QStringLiteral("GetMediaType"), {}, {Result(QStringLiteral("i"), QStringLiteral("MediaTypeConstants"))},
                   QStringLiteral("挿入されている媒体の種類を取得します。"), [](Self& self, BusCall& call) {
                     DriveCommand(self, call, {int32_t{0}}, [&] { call.Reply({self.Drive().GetMediaType()}); });
                   });
    i.Method<Self>(QStringLiteral("GetMediaFamilyType"), {},
                   {Result(QStringLiteral("i"), QStringLiteral("MediaFamilyTypeConstants"))},
                   QStringLiteral("挿入されている媒体の分類を取得します。"), [](Self& self, BusCall& call) {
                     DriveCommand(self, call, {int32_t{0}}, [&] { call.Reply({self.Drive().GetMediaFamilyType()}); });
                   });
    i.Method<Self>(QStringLiteral("LockUnlock"), {Bool("blnDoLock")}, {ok},
                   QStringLiteral("ドライヴのイジェクトボタンを有効／無効化します。"), [](Self& self, BusCall& call) {
                     DriveCommand(self, call, {false}, [&] { call.Reply({self.Drive().LockUnlock(call.Bool(0))}); });
                   });
    {
      const QString help = QStringLiteral("書き換え可能な媒体の内容を消去します。");
      i.Method<Self>(QStringLiteral("EraseMedia"), {}, {ok}, help, [](Self& self, BusCall& call) {
        DriveCommand(self, call, {false}, [&] { call.Reply({self.Drive().EraseMedia()}); });
      });
      i.Method<Self>(QStringLiteral("EraseMedia"), {Bool("blnQuickly")}, {ok}, help, [](Self& self, BusCall& call) {
        DriveCommand(self, call, {false}, [&] { call.Reply({self.Drive().EraseMedia(call.Bool(0))}); });
      });
    }
    i.Method<Self>(QStringLiteral("IsSupportMedia"), {Long("lngMediaType", "MediaTypeConstants")}, {ok},
                   QStringLiteral("ドライヴが指定された媒体種別に対応しているかを確認します。"),
                   [](Self& self, BusCall& call) {
                     DriveCommand(self, call, {false}, [&] { call.Reply({self.Drive().IsSupportMedia(call.Int32(0))}); });
                   });
    {
      const QString compatibility =
          QStringLiteral("\nこのメソッドは互換性のために用意されています。代わりにIsSupportMediaメソッドを利用してください。");
      i.Method<Self>(QStringLiteral("IsReadSupport"), {Long("lngMediaFamily", "MediaFamilyTypeConstants")}, {ok},
                     QStringLiteral("ドライヴが指定された媒体区分の読み込みに対応しているかを確認します。") + compatibility,
                     [](Self& self, BusCall& call) {
                       DriveCommand(self, call, {false},
                                    [&] { call.Reply({self.Drive().IsReadSupport(call.Int32(0))}); });
                     });
      i.Method<Self>(QStringLiteral("IsWriteSupport"), {Long("lngMediaFamily", "MediaFamilyTypeConstants")}, {ok},
                     QStringLiteral("ドライヴが指定された媒体区分の書き込みに対応しているかを確認します。") + compatibility,
                     [](Self& self, BusCall& call) {
                       DriveCommand(self, call, {false},
                                    [&] { call.Reply({self.Drive().IsWriteSupport(call.Int32(0))}); });
                     });
    }
    i.Method<Self>(QStringLiteral("IsDiscEmpty"), {}, {ok},
                   QStringLiteral("現在挿入されている媒体が空であることを確認します。"), [](Self& self, BusCall& call) {
                     DriveCommand(self, call, {false}, [&] { call.Reply({self.Drive().IsDiscEmpty()}); });
                   });
    {
      const QString help = QStringLiteral("媒体読み込み時のエラー訂正機構の有効／無効状態を切り替えます。");
      const auto ecc = [](Self& self, BusCall& call, int32_t retries) {
        DriveCommand(self, call, {false}, [&] { call.Reply({self.Drive().SetECCMode(call.Bool(0), retries)}); });
      };
      i.Method<Self>(QStringLiteral("SetECCMode"), {Bool("blnEnabled"), Long("lngRetryCount")}, {ok}, help,
                     [ecc](Self& self, BusCall& call) { ecc(self, call, call.Int32(1)); });
      i.Method<Self>(QStringLiteral("SetECCMode"), {Bool("blnEnabled")}, {ok}, help,
                     [ecc](Self& self, BusCall& call) { ecc(self, call, 0); });
    }
    // SetReadSpeed and SetWriteSpeed: speed (-1) and CAV (False) may be left out.
    const auto speed_setter = [&i, ok](const char* name, const char* help, bool (Trelin::*set)(int32_t, bool)) {
      const auto run = [set](Self& self, BusCall& call, int32_t speed, bool cav) {
        DriveCommand(self, call, {false}, [&] { call.Reply({(self.Drive().*set)(speed, cav)}); });
      };
      i.Method<Self>(QLatin1String(name), {Int16("intSpeed"), Bool("blnCAV")}, {ok}, QString::fromUtf8(help),
                     [run](Self& self, BusCall& call) { run(self, call, call.Int16(0), call.Bool(1)); });
      i.Method<Self>(QLatin1String(name), {}, {ok}, QString::fromUtf8(help),
                     [run](Self& self, BusCall& call) { run(self, call, -1, false); });
      i.Method<Self>(QLatin1String(name), {Int16("intSpeed")}, {ok}, QString::fromUtf8(help),
                     [run](Self& self, BusCall& call) { run(self, call, call.Int16(0), false); });
    };
    speed_setter("SetReadSpeed", "読み込み速度を設定します。", &Trelin::SetReadSpeed);
    speed_setter("SetWriteSpeed", "書き込み速度を設定します。", &Trelin::SetWriteSpeed);
    i.Method<Self>(QStringLiteral("GetReadSpeed"), {}, {object}, QStringLiteral("読み込み速度を取得します。"),
                   [](Self& self, BusCall& call) {
                     ReplySpeeds(call, self.worker_may_run ? std::make_unique<TLNSpeeds>() : self.Drive().GetReadSpeed());
                   });
    i.Method<Self>(QStringLiteral("GetWriteSpeed"), {}, {object},
                   QStringLiteral("現在挿入されている媒体に対応した書き込み速度を取得します。"),
                   [](Self& self, BusCall& call) {
                     ReplySpeeds(call, self.worker_may_run ? std::make_unique<TLNSpeeds>() : self.Drive().GetWriteSpeed());
                   });
    i.Method<Self>(QStringLiteral("CheckWriteMode"),
                   {Long("lngWriteCommand", "CDWriteCommandConstants"), Bool("blnTestMode"),
                    Long("lngMediaFamilyType", "MediaFamilyTypeConstants")},
                   {ok}, QStringLiteral("指定書き込みコマンドに対応しているかを確認します。"),
                   [](Self& self, BusCall& call) {
                     DriveCommand(self, call, {false}, [&] {
                       call.Reply({self.Drive().CheckWriteMode(call.Int32(0), call.Bool(1), call.Int32(2))});
                     });
                   });
    i.Method<Self>(QStringLiteral("GetSCSIErrorStatus"), {}, {number}, QStringLiteral("SCSIエラー情報を取得します。"),
                   [](Self& self, BusCall& call) { call.Reply({self.Drive().GetSCSIErrorStatus()}); });
    i.Method<Self>(QStringLiteral("GetSCSIErrorDescription"), {}, {text},
                   QStringLiteral("SCSIエラー情報の詳細内容を取得します。"),
                   [](Self& self, BusCall& call) { call.Reply({self.Drive().GetSCSIErrorDescription()}); });
    i.Method<Self>(QStringLiteral("SetWriteCacheBufferSize"), {Long("lngSize")}, {},
                   QStringLiteral("ソフトウェア緩衝域のサイズを指定します。"),
                   [](Self& self, BusCall& call) { self.Drive().SetWriteCacheBufferSize(call.Int32(0)); });
    i.Method<Self>(QStringLiteral("GetUsedWriteCacheBufferSize"), {}, {number},
                   QStringLiteral("使用中のソフトウェア緩衝域のサイズを取得します。"),
                   [](Self& self, BusCall& call) { call.Reply({self.Drive().GetUsedWriteCacheBufferSize()}); });
    {
      const auto flush = [](Self& self, BusCall& call, bool abort) {
        const bool flushed = self.Drive().WriteFlush(abort);
        self.worker_may_run = false;
        call.Reply({flushed});
      };
      i.Method<Self>(QStringLiteral("WriteFlush"), {}, {ok}, QString(),
                     [flush](Self& self, BusCall& call) { flush(self, call, false); });
      i.Method<Self>(QStringLiteral("WriteFlush"), {Bool("blnAbort")}, {ok}, QString(),
                     [flush](Self& self, BusCall& call) { flush(self, call, call.Bool(0)); });
    }
    i.Method<Self>(QStringLiteral("GetLastWroteLBA"), {}, {number}, QString(),
                   [](Self& self, BusCall& call) { call.Reply({self.Drive().GetLastWroteLBA()}); });
    return i;
  }();
  return kInterface;
}

}  // namespace

const BusClass& TrelinBusClass() {
  // Each object runs a drive engine, which keeps a thread of its own.
  static const BusClass kClass{QStringLiteral("Trelin"), &Interface,
                               [] { return std::make_shared<TrelinBusObject>(); }, kMaxTrelinPerConnection,
                               kMaxTrelinInServer};
  return kClass;
}

TrelinBusObject::TrelinBusObject() : BusObject(TrelinBusClass()) {}

TrelinBusObject::~TrelinBusObject() { Ended(); }

void TrelinBusObject::Ended() {
  if (!open) return;
  StopWorker(*this);
  drive_.CloseDevice();
  open = false;
}

int32_t TrelinBusObject::ReadSectorSize(int32_t read_command) {
  switch (read_command) {
    case CCC_DATA: return 2048;
    case CCC_RAW: return 2352;
    default: return Trelin::kSectorBufferSize;
  }
}

int32_t TrelinBusObject::WriteDataSize(int32_t media_family, int32_t data_type) {
  const bool cd = media_family == MFT_CDFAMILY;
  switch (data_type) {
    case CSD_SECTORONLY: return cd ? 2352 : 2048;
    case CSD_MAINCHANNEL: return 2352;
    case CSD_MAINSUBCHANNEL: return cd ? Trelin::kSectorBufferSize : 2352;
    default: return 0;  // no data is read (an empty or an error sector), or the type is refused
  }
}

}  // namespace sorvel
