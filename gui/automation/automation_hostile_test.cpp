// Clients that misbehave, against `sorvel --automation`: made-up and foreign
// paths, arrays of odd sizes, a flood of Create calls, a client leaving in
// the middle of a read. The server stays up, keeps its memory bounded and
// answers a well-behaved client within a second. Calls that wait are tried
// against the server living in this process, whose count of calls tells
// when they have reached it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDBusPendingCallWatcher>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/automation/automation_test_rig.h"
#include "gui/automation/trelin_bus.h"
#include "gui/foundation/automation_host.h"
#include "gui/model/public_enumerations.h"
#include "testing/cd_image_fixture.h"

namespace sorvel {
namespace {

using testing::BoolOf;
using testing::DBusClient;
using testing::ErrorOf;
using testing::Int16Arg;
using testing::PathArg;
using testing::PathOf;
using testing::ScratchDir;
using testing::ValueOf;

const QString kTrelin = QStringLiteral("SORVEL.Trelin");
const QString kToc = QStringLiteral("SORVEL.TOCInformation");

// Resident size of a process in kB; 0 when unknown.
qint64 ResidentKb(qint64 pid) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong();
  }
  return 0;
}

// AddressSanitizer holds freed memory back (its quarantine) and adds shadow
// memory: a server built with it grows more before memory is reused.
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 kSanitizerSlackKb = 512 * 1024;
#else
constexpr qint64 kSanitizerSlackKb = 0;
#endif

QString ErrorName(const QDBusMessage& reply) { return ErrorOf(reply).section(u' ', 0, 0); }

class AutomationHostileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.ok());
    ASSERT_TRUE(testing::StartServer(bus_));
    pid_ = testing::OwnerProcessId(bus_, testing::kServerName);
    ASSERT_GT(pid_, 0);
    // The well-behaved client holds an object, so the server stays while
    // other clients come and go.
    good_object_ = good_.Create(QStringLiteral("TOCInformation"));
    ASSERT_FALSE(good_object_.isEmpty());
    baseline_kb_ = ResidentKb(pid_);
  }
  // Whether the server answers the well-behaved client within a second, or
  // `ms` (the call gives up after that), and still runs.
  bool AnswersWithinASecond(int ms = 1000) {
    QDBusMessage call = QDBusMessage::createMethodCall(testing::kServerName, good_object_,
                                                       QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("Get"));
    call.setArguments({kToc, QStringLiteral("MCN")});
    const QDBusMessage reply = good_.connection().call(call, QDBus::Block, ms);
    return reply.type() == QDBusMessage::ReplyMessage && QFile::exists(QStringLiteral("/proc/%1").arg(pid_));
  }
  // The server's resident size grew by less than `kb` since the start.
  ::testing::AssertionResult GrewLessThan(qint64 kb) {
    const qint64 now = ResidentKb(pid_);
    if (now > 0 && now - baseline_kb_ < kb + kSanitizerSlackKb) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "resident " << baseline_kb_ << " kB at the start, " << now << " kB now";
  }

  ScratchDir dir_;
  testing::CueFixture disc_ = testing::MakeCueImage(dir_.path(), "disc", {{false, 0, 600, "", false}});
  testing::AutomationDrives drives_{dir_, {"image=" + disc_.cue.string(), "medium=cd-r"}};
  testing::PrivateBus bus_;
  DBusClient good_{bus_, QStringLiteral("good")};
  QString good_object_;
  qint64 pid_ = 0;
  qint64 baseline_kb_ = 0;
};

// Made-up paths and the objects of another client answer the unknown-object
// error, for calls, introspection and properties alike, and as arguments.
TEST_F(AutomationHostileTest, UnknownAndForeignPathsAnswerUnknownObject) {
  DBusClient stranger(bus_, QStringLiteral("stranger"));
  const QString foreign_trelin = good_.Create(QStringLiteral("Trelin"));
  const QStringList paths = {QStringLiteral("/SORVEL/Trelin/999999"), QStringLiteral("/SORVEL/Trelin/abc"),
                             QStringLiteral("/SORVEL/Trelin/1/2"),    QStringLiteral("/SORVEL/Nothing"),
                             QStringLiteral("/SORVEL/Nothing/1"),     QStringLiteral("/SORVEL/TLNSpeeds"),
                             QStringLiteral("/SORVEL/TLNSpeed/1"),    QStringLiteral("/SORVELX"),
                             foreign_trelin,                          good_object_};
  for (const QString& path : paths) {
    SCOPED_TRACE(path.toStdString());
    EXPECT_EQ(ErrorName(stranger.Call(path, kTrelin, QStringLiteral("GetEngineVersion"))),
              QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"));
    EXPECT_EQ(ErrorName(stranger.Call(path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                      QStringLiteral("Introspect"))),
              QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"));
    EXPECT_EQ(ErrorName(stranger.Call(path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                      {kToc, QStringLiteral("MCN")})),
              QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"));
  }
  // As an argument: another client's TOCInformation is no object of the caller.
  const QString own = stranger.Create(QStringLiteral("Trelin"));
  EXPECT_EQ(ErrorName(stranger.Call(own, kTrelin, QStringLiteral("SetTOCStructure"), {PathArg(good_object_)})),
            QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"));
  EXPECT_EQ(ErrorName(stranger.Call(own, kTrelin, QStringLiteral("SetTOCStructure"), {PathArg(own)})),
            QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
  EXPECT_EQ(ErrorName(stranger.Release(QStringLiteral("Trelin"), good_object_)),
            QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"));
  EXPECT_FALSE(BoolOf(stranger.Release(QStringLiteral("Trelin"), QStringLiteral("/SORVEL/Trelin/999999"))));
  // Wrong interfaces, members and signatures on an object of one's own.
  struct Wrong {
    const char* interface;
    const char* member;
    QVariantList arguments;
    const char* error;
  } wrong[] = {{"SORVEL.Nothing", "GetEngineVersion", {}, "org.freedesktop.DBus.Error.UnknownInterface"},
               {"SORVEL.Trelin", "ReadLBADummy", {QByteArray(), 0}, "org.freedesktop.DBus.Error.UnknownMethod"},
               {"SORVEL.Trelin", "GetMediaTypeName", {9}, "org.freedesktop.DBus.Error.UnknownMethod"},
               {"SORVEL.Trelin", "OpenDevice", {3}, "org.freedesktop.DBus.Error.UnknownMethod"},
               {"SORVEL.Trelin", "ReadLBA", {0}, "org.freedesktop.DBus.Error.UnknownMethod"},
               {"org.freedesktop.DBus.Properties", "Get", {kTrelin, QStringLiteral("Nothing")},
                "org.freedesktop.DBus.Error.UnknownProperty"},
               {"org.freedesktop.DBus.Properties", "Get", {QStringLiteral("SORVEL.Nothing"), QStringLiteral("MCN")},
                "org.freedesktop.DBus.Error.UnknownInterface"}};
  for (const Wrong& w : wrong) {
    EXPECT_EQ(ErrorName(stranger.Call(own, QLatin1String(w.interface), QLatin1String(w.member), w.arguments)),
              QLatin1String(w.error))
        << w.interface << " " << w.member;
  }
  // A member known by name names its forms when the arguments fit none
  // (QtDBus sends a plain int as 'i', where SetReadSpeed takes 'n').
  EXPECT_EQ(ErrorOf(stranger.Call(own, kTrelin, QStringLiteral("SetReadSpeed"), {1764})),
            QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod No such method 'SetReadSpeed' in interface "
                           "'SORVEL.Trelin' at object path '%1' (signature 'i'); its forms: SetReadSpeed(nb), "
                           "SetReadSpeed(), SetReadSpeed(n)")
                .arg(own));
  // An empty interface name finds the member.
  EXPECT_GT(ValueOf(stranger.Call(own, QString(), QStringLiteral("GetEngineVersion"))).toInt(), 0);
  EXPECT_TRUE(AnswersWithinASecond());
}

// Arrays of no bytes and of 10 MB for every member that takes one: answers of
// the right size, nothing written from a short array, no growth kept.
TEST_F(AutomationHostileTest, ArraysOfNoBytesAndOfTenMegabytes) {
  const QByteArray empty;
  const QByteArray huge(10 * 1024 * 1024, '\x33');
  DBusClient client(bus_, QStringLiteral("client"));
  const QString reader = client.Create(QStringLiteral("Trelin"));
  ASSERT_TRUE(BoolOf(client.Call(reader, kTrelin, QStringLiteral("OpenDevice"), {Int16Arg(3)})));
  for (const QByteArray& array : {empty, huge}) {
    const QDBusMessage before = client.Call(reader, kTrelin, QStringLiteral("ReadLBA"), {array, 0});
    EXPECT_FALSE(BoolOf(before));
    EXPECT_EQ(ValueOf(before, 1).toByteArray().size(), 0);
  }
  ASSERT_EQ(ValueOf(client.Call(reader, kTrelin, QStringLiteral("ReadStart"), {CCC_RAW, 0})).toInt(), CBR_OK);
  for (const QByteArray& array : {empty, huge}) {
    const QDBusMessage read = client.Call(reader, kTrelin, QStringLiteral("ReadLBA"), {array, 7});
    EXPECT_TRUE(BoolOf(read));
    EXPECT_EQ(ValueOf(read, 1).toByteArray().size(), 2352);
  }
  const QString writer = client.Create(QStringLiteral("Trelin"));
  const QString toc = client.Create(QStringLiteral("TOCInformation"));
  client.Call(toc, kToc, QStringLiteral("TOCAdd"), {testing::ByteArg(1), testing::ByteArg(1), testing::ByteArg(1), 4, 1, 0, 299});
  ASSERT_TRUE(BoolOf(client.Call(writer, kTrelin, QStringLiteral("OpenDevice"), {Int16Arg(4)})));
  EXPECT_FALSE(BoolOf(client.Call(writer, kTrelin, QStringLiteral("WriteLBA"), {CSD_SECTORONLY, huge, 0})));  // no pass
  client.Call(writer, kTrelin, QStringLiteral("SetTOCStructure"), {PathArg(toc)});
  ASSERT_EQ(ValueOf(client.Call(writer, kTrelin, QStringLiteral("WriteStart"), {CCC_SAO, 0})).toInt(), CBR_OK);
  for (int32_t type : {CSD_SECTORONLY, CSD_MAINCHANNEL, CSD_MAINSUBCHANNEL}) {
    EXPECT_FALSE(BoolOf(client.Call(writer, kTrelin, QStringLiteral("WriteLBA"), {type, empty, 0}))) << type;
  }
  EXPECT_TRUE(BoolOf(client.Call(writer, kTrelin, QStringLiteral("WriteLBA"), {CSD_SECTORONLY, huge, 0})));
  EXPECT_TRUE(BoolOf(client.Call(writer, kTrelin, QStringLiteral("WriteFlush"))));
  EXPECT_EQ(ValueOf(client.Call(writer, kTrelin, QStringLiteral("GetLastWroteLBA"))).toInt(), 0);
  EXPECT_TRUE(BoolOf(client.Call(writer, kTrelin, QStringLiteral("WriteEnd"), {true})));
  for (const QByteArray& array : {empty, huge}) {
    EXPECT_EQ(client.Call(toc, kToc, QStringLiteral("CDTextAdd"),
                          {testing::ByteArg(0x80), testing::ByteArg(0), testing::ByteArg(0), testing::ByteArg(0), array,
                           array})
                  .type(),
              QDBusMessage::ReplyMessage);
  }
  EXPECT_EQ(client.Get(toc, kToc, QStringLiteral("CDTextCount")).toInt(), 2);
  EXPECT_TRUE(AnswersWithinASecond());
  EXPECT_TRUE(GrewLessThan(64 * 1024));
}

// 100,000 Create calls from one client: 4,096 objects, then a clear refusal
// for each further one; the other client is answered throughout, the
// server's memory stays bounded, and the objects end with their client.
TEST_F(AutomationHostileTest, HundredThousandCreateCallsAreBoundedPerConnection) {
  auto flood = std::make_unique<DBusClient>(bus_, QStringLiteral("flood"));
  constexpr int kCalls = 100000;
  constexpr int kBatch = 2000;
  int made = 0;
  int refused = 0;
  QString other_error;
  for (int sent = 0; sent < kCalls; sent += kBatch) {
    std::vector<QDBusPendingCall> calls;
    calls.reserve(kBatch);
    for (int i = 0; i < kBatch; ++i) {
      calls.push_back(flood->Send(QStringLiteral("/SORVEL/TOCInformation"), QStringLiteral("SORVEL.TOCInformation.Factory"),
                                  QStringLiteral("Create")));
    }
    for (QDBusPendingCall& call : calls) {
      call.waitForFinished();
      const QDBusMessage reply = call.reply();
      if (reply.type() == QDBusMessage::ReplyMessage) {
        ++made;
      } else if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.LimitsExceeded")) {
        ++refused;
      } else {
        other_error = ErrorOf(reply);
      }
    }
    // Once it has answered a batch, the server answers at once again.
    ASSERT_TRUE(AnswersWithinASecond()) << "after " << sent + kBatch << " calls";
  }
  EXPECT_EQ(made, AutomationService::kMaxObjectsPerConnection);
  EXPECT_EQ(refused, kCalls - AutomationService::kMaxObjectsPerConnection);
  EXPECT_TRUE(other_error.isEmpty()) << other_error.toStdString();
  // Handing out counts too: no speed list beyond the limit either.
  const QString trelin = good_.Create(QStringLiteral("Trelin"));
  EXPECT_TRUE(ErrorOf(flood->Call(QStringLiteral("/SORVEL/Trelin"), QStringLiteral("SORVEL.Trelin.Factory"),
                                  QStringLiteral("Create")))
                  .contains(QStringLiteral("at most 4096 objects")));
  EXPECT_TRUE(GrewLessThan(128 * 1024));
  // Another connection has its own allowance.
  EXPECT_FALSE(good_.Create(QStringLiteral("TOCInformation")).isEmpty());
  EXPECT_FALSE(PathOf(good_.Call(trelin, kTrelin, QStringLiteral("GetReadSpeed"))).isEmpty());
  flood->Leave();
  flood.reset();
  EXPECT_TRUE(AnswersWithinASecond());
}

// Each Trelin object runs a drive engine with a thread of its own: a
// connection holds at most 64 of them and the server 512, so that no client
// can make the server run out of threads.
TEST_F(AutomationHostileTest, DriveEnginesAreBoundedPerConnectionAndInTheServer) {
  std::vector<std::unique_ptr<DBusClient>> clients;
  int made = 0;
  QString refusal;
  for (int c = 0; c < 9; ++c) {
    clients.push_back(std::make_unique<DBusClient>(bus_, QStringLiteral("engines-%1").arg(c)));
    std::vector<QDBusPendingCall> calls;
    for (int i = 0; i < 80; ++i) {
      calls.push_back(clients.back()->Send(QStringLiteral("/SORVEL/Trelin"), QStringLiteral("SORVEL.Trelin.Factory"),
                                           QStringLiteral("Create")));
    }
    int mine = 0;
    for (QDBusPendingCall& call : calls) {
      call.waitForFinished();
      if (call.reply().type() == QDBusMessage::ReplyMessage) {
        ++mine;
      } else {
        refusal = ErrorOf(call.reply());
      }
    }
    EXPECT_EQ(mine, c < 8 ? kMaxTrelinPerConnection : 0) << c;
    if (c == 0) {
      EXPECT_EQ(refusal, QStringLiteral("org.freedesktop.DBus.Error.LimitsExceeded A connection holds at most 64 "
                                        "Trelin objects; release some first"));
    }
    made += mine;
  }
  EXPECT_EQ(made, kMaxTrelinInServer);
  EXPECT_TRUE(refusal.contains(QStringLiteral("The server holds at most 512 Trelin objects")));
  EXPECT_TRUE(AnswersWithinASecond());
  // Released, they make room again.
  clients.front()->Leave();
  bool again = false;
  for (int attempt = 0; attempt < 100 && !again; ++attempt) {
    again = !clients.back()->Create(QStringLiteral("Trelin")).isEmpty();
    if (!again) QThread::msleep(20);
  }
  EXPECT_TRUE(again);
}

// A client that leaves with reads still queued: the server goes on serving,
// and the drive that client held is closed, so another can open it.
TEST_F(AutomationHostileTest, ClientLeavingInTheMiddleOfAReadLeavesTheServerServing) {
  {
    DBusClient reader(bus_, QStringLiteral("reader"));
    const QString drive = reader.Create(QStringLiteral("Trelin"));
    ASSERT_TRUE(BoolOf(reader.Call(drive, kTrelin, QStringLiteral("OpenDevice"), {Int16Arg(3)})));
    ASSERT_TRUE(BoolOf(reader.Call(drive, kTrelin, QStringLiteral("LockUnlock"), {true})));
    ASSERT_EQ(ValueOf(reader.Call(drive, kTrelin, QStringLiteral("ReadStart"), {CCC_RAW96, 0})).toInt(), CBR_OK);
    for (int32_t lba = 0; lba < 600; ++lba) {
      reader.Send(drive, kTrelin, QStringLiteral("ReadLBA"), {QByteArray(), lba});
    }
    reader.Leave();
  }
  // The reads already sent are served, then the drive is closed.
  const QString drive = good_.Create(QStringLiteral("Trelin"));
  bool opened = false;
  for (int attempt = 0; attempt < 100 && !opened; ++attempt) {
    opened = BoolOf(good_.Call(drive, kTrelin, QStringLiteral("OpenDevice"), {Int16Arg(3)}));
    if (!opened) QThread::msleep(20);
  }
  ASSERT_TRUE(opened);
  EXPECT_TRUE(AnswersWithinASecond());
  EXPECT_TRUE(BoolOf(good_.Call(drive, kTrelin, QStringLiteral("LoadTray"), {false})));  // not locked any more
  EXPECT_TRUE(GrewLessThan(64 * 1024));
}

// A loopback socket of this test bound to a free port: a listening one
// accepts connections (into the kernel's backlog) and never answers, a
// datagram one takes what is sent and never answers. Its port; 0 on failure.
int SilentLoopbackSocket(int type, int& fd) {
  fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (type == SOCK_STREAM && ::listen(fd, 8) != 0) ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

// The server living in this process, for the tests of calls that wait: they
// wait for the server's own count of calls running before they check that
// another client is answered meanwhile.
class AutomationWaitingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.ok());
    ASSERT_TRUE(server_.published());
    good_object_ = good_.Create(QStringLiteral("TOCInformation"), true);
    ASSERT_FALSE(good_object_.isEmpty());
  }
  // Whether the server answers the well-behaved client within `ms`.
  bool AnswersWithin(int ms) {
    QDBusMessage call = QDBusMessage::createMethodCall(testing::kServerName, good_object_,
                                                       QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("Get"));
    call.setArguments({kToc, QStringLiteral("MCN")});
    QDBusPendingCall pending = good_.connection().asyncCall(call, ms);
    return testing::ServeUntil([&] { return pending.isFinished(); }, ms + 1000) &&
           pending.reply().type() == QDBusMessage::ReplyMessage;
  }
  // Serves until the server runs (or has queued) at least `count` calls of clients.
  static bool CallsInServer(int count) {
    return testing::ServeUntil([count] { return AutomationCallCount() >= count; }, 60000);
  }
  static bool Finished(QDBusPendingCall& call, int ms) {
    return testing::ServeUntil([&] { return call.isFinished(); }, ms);
  }

  ScratchDir dir_;
  testing::AutomationDrives drives_{dir_, {"medium=cd-r"}};
  testing::PrivateBus bus_;
  testing::InProcessServer server_{bus_};
  DBusClient good_{bus_, QStringLiteral("good")};
  QString good_object_;
};

// A client whose call waits on the network (discovery with a time-out of
// 12 s; a remote drive whose daemon accepts and never answers) holds up no
// other client: the well-behaved one is answered within half a second
// meanwhile, and the waiting call returns (discovery after the time-out its
// client gave).
TEST_F(AutomationWaitingTest, AWaitingCallHoldsUpNoOtherClient) {
  int stream = -1;
  int datagram = -1;
  const int daemon_port = SilentLoopbackSocket(SOCK_STREAM, stream);
  const int discovery_port = SilentLoopbackSocket(SOCK_DGRAM, datagram);
  ASSERT_GT(daemon_port, 0);
  ASSERT_GT(discovery_port, 0);
  DBusClient waiter(bus_, QStringLiteral("waiter"));
  const QString drive = waiter.Create(QStringLiteral("Trelin"), true);
  ASSERT_FALSE(drive.isEmpty());
  constexpr int kDiscoveryMs = 12000;
  struct Case {
    const char* name;
    std::function<QDBusPendingCall()> start;
    std::function<void()> release;  // what lets the call end, after the check
    int least_ms;                   // the call returns after this
    int most_ms;                    // and within this
  } cases[] = {
      {"GetRemoteHosts",
       [&] {
         return waiter.Send(drive, kTrelin, QStringLiteral("GetRemoteHosts"),
                            {QStringLiteral("127.0.0.1"), discovery_port, kDiscoveryMs});
       },
       [] {}, kDiscoveryMs, kDiscoveryMs + 3000},
      {"OpenDeviceEx",
       [&] {
         return waiter.Send(drive, kTrelin, QStringLiteral("OpenDeviceEx"),
                            {QStringLiteral("\\\\127.0.0.1:%1\\D:").arg(daemon_port)});
       },
       [] {}, 0, 60000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QElapsedTimer since_start;
    since_start.start();
    ASSERT_TRUE(testing::ServeUntil([] { return AutomationCallCount() == 0; }, 10000));
    QDBusPendingCall waiting = c.start();
    ASSERT_TRUE(CallsInServer(1));
    QElapsedTimer answered;
    answered.start();
    EXPECT_TRUE(AnswersWithin(500)) << answered.elapsed() << " ms";
    c.release();
    EXPECT_TRUE(Finished(waiting, c.most_ms));
    EXPECT_GE(since_start.elapsed(), c.least_ms);
    EXPECT_LT(since_start.elapsed(), c.most_ms);
  }
  ::close(stream);
  ::close(datagram);
  EXPECT_TRUE(AnswersWithin(1000));
}

// A client with a call waiting on every drive object it may hold (discovery
// on a port that never answers), twice as many as its calls run at once,
// takes a few of the server's threads, not all: the well-behaved client is
// answered within half a second, and the waiting calls all return.
TEST_F(AutomationWaitingTest, EveryDriveOfAClientWaitingHoldsUpNoOtherClient) {
  constexpr int kWaitMs = 4000;
  int datagram = -1;
  const int discovery_port = SilentLoopbackSocket(SOCK_DGRAM, datagram);
  ASSERT_GT(discovery_port, 0);
  DBusClient waiter(bus_, QStringLiteral("waiter"));
  std::vector<QDBusPendingCall> waiting;
  for (int i = 0; i < kMaxTrelinPerConnection; ++i) {
    const QString drive = waiter.Create(QStringLiteral("Trelin"), true);
    ASSERT_FALSE(drive.isEmpty());
    waiting.push_back(waiter.Send(drive, kTrelin, QStringLiteral("GetRemoteHosts"),
                                  {QStringLiteral("127.0.0.1"), discovery_port, kWaitMs}));
  }
  ASSERT_TRUE(CallsInServer(kMaxTrelinPerConnection)) << AutomationCallCount();
  QElapsedTimer answered;
  answered.start();
  EXPECT_TRUE(AnswersWithin(500)) << answered.elapsed() << " ms";
  for (QDBusPendingCall& call : waiting) {
    ASSERT_TRUE(Finished(call, 60000));
    EXPECT_EQ(call.reply().type(), QDBusMessage::ReplyMessage) << ErrorOf(call.reply()).toStdString();
  }
  ::close(datagram);
  EXPECT_TRUE(AnswersWithin(1000));
}

}  // namespace
}  // namespace sorvel
