#include "gui/automation/mastering_bus.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>

#include "gui/foundation/progress_step.h"

namespace sorvel {
namespace {

using Self = MasteringBusObject;

BusArg Long(const char* name, const char* enumeration = "") {
  return Arg(QLatin1String(name), QStringLiteral("i"), QLatin1String(enumeration));
}
BusArg Text(const char* name) { return Arg(QLatin1String(name), QStringLiteral("s")); }

// Runs a member of the class; an error it raises becomes the call's error.
template <typename Body>
void Raising(BusCall& call, Body&& body) {
  try {
    body();
  } catch (const MasteringError& error) {
    call.Fail(MasteringErrorName(error.Number()), error.Description());
  }
}

// Whether the server shows windows: not on the offscreen (or minimal)
// platform it takes without a display, where a dialog would wait unseen for
// an answer that never comes.
bool HasDisplay() {
  const QString platform = QGuiApplication::platformName();
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr &&
         platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

const BusInterface& Interface() {
  static const BusInterface kInterface = [] {
    BusInterface i;
    i.name = QString::fromLatin1(kMasteringInterface);
    i.enumerations = {QStringLiteral("MasteringFileSystemConstants"),
                      QStringLiteral("MasteringTrackControlFieldConstants")};
    const BusArg ok = Result(QStringLiteral("b"));
    i.Method<Self>(QStringLiteral("InitISOFS"), {Long("FileSystemType", "MasteringFileSystemConstants")}, {ok},
                   QStringLiteral("データトラックのファイルシステムを指定します。"),
                   [](Self& self, BusCall& call) { call.Reply({self.Layout().InitISOFS(call.Int32(0))}); });
    i.Method<Self>(QStringLiteral("ClearISO"), {}, {},
                   QStringLiteral("データトラックに追加された全てのファイルを消去します。"),
                   [](Self& self, BusCall&) { self.Layout().ClearISO(); });
    i.Method<Self>(QStringLiteral("IsISOEmpty"), {}, {ok}, QStringLiteral("データトラックが空かどうかを判定します。"),
                   [](Self& self, BusCall& call) { call.Reply({self.Layout().IsISOEmpty()}); });
    {
      const QString help = QStringLiteral("データトラックにファイルを追加します。");
      const auto add = [](Self& self, BusCall& call, const QString& directory) {
        Raising(call, [&] { call.Reply({self.Layout().AddFile(call.String(0), directory)}); });
      };
      i.Method<Self>(QStringLiteral("AddFile"), {Text("FileName"), Text("DirectoryName")}, {ok}, help,
                     [add](Self& self, BusCall& call) { add(self, call, call.String(1)); });
      i.Method<Self>(QStringLiteral("AddFile"), {Text("FileName")}, {ok}, help,
                     [add](Self& self, BusCall& call) { add(self, call, QString()); });
    }
    i.Method<Self>(QStringLiteral("ClearTrack"), {}, {}, QStringLiteral("追加したトラックを全てクリアします。"),
                   [](Self& self, BusCall&) { self.Layout().ClearTrack(); });
    {
      const QString help = QStringLiteral("書き込み対象のトラックファイルを追加します。");
      const auto add = [](Self& self, BusCall& call, int32_t control) {
        call.Reply({self.Layout().AddTrack(call.String(0), call.Int32(1), call.Int32(2), control)});
      };
      i.Method<Self>(QStringLiteral("AddTrack"),
                     {Text("TrackFileName"), Long("PregapLength"), Long("PostgapLength"),
                      Long("TrackControlFlag", "MasteringTrackControlFieldConstants")},
                     {ok}, help, [add](Self& self, BusCall& call) { add(self, call, call.Int32(3)); });
      i.Method<Self>(QStringLiteral("AddTrack"), {Text("TrackFileName"), Long("PregapLength"), Long("PostgapLength")},
                     {ok}, help, [add](Self& self, BusCall& call) { add(self, call, 0); });
    }
    i.Method<Self>(QStringLiteral("RemoveTrack"), {Long("TrackNo")}, {ok},
                   QStringLiteral("指定されたトラックを削除します。"),
                   [](Self& self, BusCall& call) { call.Reply({self.Layout().RemoveTrack(call.Int32(0))}); });
    i.Method<Self>(QStringLiteral("GetTrackCount"), {}, {Result(QStringLiteral("i"))},
                   QStringLiteral("全トラック数を返します。"),
                   [](Self& self, BusCall& call) { call.Reply({self.Layout().GetTrackCount()}); });
    {
      const QString help = QStringLiteral("ディスク書き込みダイアログを表示します。");
      const auto show = [](Self& self, BusCall& call, const QString& title, const QString& drive) {
        if (!HasDisplay()) {
          call.Fail(QLatin1String(kNotSupportedError),
                    QStringLiteral("ShowBurnDialog needs a display: this server runs without one (platform '%1')")
                        .arg(QGuiApplication::platformName()));
          return;
        }
        // Widgets live on the GUI thread; the worker (and with it the
        // object's other calls) waits there until the dialog closes.
        int32_t written = 0;
        const int32_t window = call.Int32(0);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [&] { written = self.Layout().ShowBurnDialog(window, title, drive); }, Qt::BlockingQueuedConnection);
        call.Reply({written});
      };
      const BusArg count = Result(QStringLiteral("i"));
      i.Method<Self>(QStringLiteral("ShowBurnDialog"), {Long("hWnd"), Text("Title"), Text("DriveName")}, {count}, help,
                     [show](Self& self, BusCall& call) { show(self, call, call.String(1), call.String(2)); });
      i.Method<Self>(QStringLiteral("ShowBurnDialog"), {Long("hWnd"), Text("Title")}, {count}, help,
                     [show](Self& self, BusCall& call) { show(self, call, call.String(1), QString()); });
      i.Method<Self>(QStringLiteral("ShowBurnDialog"), {Long("hWnd")}, {count}, help,
                     [show](Self& self, BusCall& call) { show(self, call, QString(), QString()); });
    }
    {
      const QString help = QStringLiteral("ディスクへの書き込みを開始します。");
      const auto burn = [](Self& self, BusCall& call, bool eject) {
        Raising(call, [&] { call.Reply({self.Layout().StartBurn(call.String(0), eject)}); });
      };
      i.Method<Self>(QStringLiteral("StartBurn"), {Text("DriveName"), Arg(QStringLiteral("EjectAfterBurn"), QStringLiteral("b"))},
                     {ok}, help, [burn](Self& self, BusCall& call) { burn(self, call, call.Bool(1)); });
      i.Method<Self>(QStringLiteral("StartBurn"), {Text("DriveName")}, {ok}, help,
                     [burn](Self& self, BusCall& call) { burn(self, call, true); });
    }
    // Reaches the burn that runs on the object's worker.
    i.Method<Self>(QStringLiteral("StopBurn"), {}, {ok}, QStringLiteral("ディスクの書き込みを中断します。"),
                   [](Self& self, BusCall& call) { call.Reply({self.Layout().StopBurn()}); })
        .OnBusThread();
    i.Method<Self>(QStringLiteral("IsReady"), {Text("DriveName")}, {ok},
                   QStringLiteral("ドライヴにディスクがセットされているかどうかを判定します。"),
                   [](Self& self, BusCall& call) { call.Reply({self.Layout().IsReady(call.String(0))}); });
    i.Method<Self>(QStringLiteral("IsDiscWritable"), {Text("DriveName")}, {ok},
                   QStringLiteral("現在ドライヴにセットされているディスクが書き込み可能かどうかを判定します。"),
                   [](Self& self, BusCall& call) { call.Reply({self.Layout().IsDiscWritable(call.String(0))}); });
    i.Signal(QStringLiteral("Progress"), {Long("Value"), Long("Total")}, QStringLiteral("書き込み進捗状況を通知します。"));
    i.Property<Self>(
        QStringLiteral("VolumeLabel"), QStringLiteral("s"), QString(),
        QStringLiteral("データトラックのボリュームラベルを指定します。値の取得も可能です。"),
        [](Self& self) { return QVariant(self.Layout().VolumeLabel()); },
        [](Self& self, const QVariant& value) { self.Layout().SetVolumeLabel(value.toString()); });
    return i;
  }();
  return kInterface;
}

}  // namespace

QString MasteringErrorName(uint32_t number) {
  return QStringLiteral("SORVEL.Mastering.Error.E") + QString::number(number, 16).toUpper().rightJustified(8, u'0');
}

const BusClass& MasteringBusClass() {
  static const BusClass kClass{QStringLiteral("Mastering"), &Interface,
                               [] { return std::make_shared<MasteringBusObject>(); }};
  return kClass;
}

MasteringBusObject::MasteringBusObject() : BusObject(MasteringBusClass()), mastering_(std::make_unique<Mastering>()) {
  // Direct: the burn emits Progress on the worker, and its signals go out
  // from there, in order, before StartBurn's answer.
  QObject::connect(
      mastering_.get(), &Mastering::Progress, mastering_.get(),
      [this](int32_t value, int32_t total) { PassProgressOn(value, total); }, Qt::DirectConnection);
}

void MasteringBusObject::Abandoned() { mastering_->CloseBurnDialog(); }

void MasteringBusObject::Stop() { mastering_->StopBurn(); }

void MasteringBusObject::PassProgressOn(int32_t value, int32_t total) {
  // The first report, one for another total, every thousandth and the last sector.
  if (progress_sent_ && total == progress_total_ && !ProgressStepDue(0, total, progress_value_, value)) return;
  progress_sent_ = true;
  progress_value_ = value;
  progress_total_ = total;
  Emit(QStringLiteral("Progress"), {value, total});
}

}  // namespace sorvel
