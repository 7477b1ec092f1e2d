// The dispatcher itself, with a probe class of its own in a server living in
// this process: XML of the descriptions, replies checked against the
// signature, signals to the owner only, limits of a heavy class, objects
// ending with their client.
#include "gui/automation/automation_service.h"

#include <gtest/gtest.h>

#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusConnectionInterface>
#include <QThread>
#include <QXmlStreamReader>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "gui/automation/automation_test_rig.h"
#include "gui/foundation/automation_host.h"

namespace sorvel {
namespace {

using testing::DBusClient;
using testing::ErrorOf;
using testing::PathArg;
using testing::ValueOf;

const QString kProbe = QStringLiteral("SORVEL.Probe");
// Probes end on their workers.
std::atomic<int> g_probes_alive{0};
// When set, an ending probe notes whether the server's bus name had an owner then.
std::atomic<QDBusConnection*> g_name_watch{nullptr};
std::atomic<int> g_ended_with_name{0};
std::atomic<int> g_ended_without_name{0};

// Hold calls running, and whether they may end.
std::mutex g_hold_mutex;
std::condition_variable g_hold_changed;
int g_holding = 0;
bool g_let_go = false;

class ProbeObject : public BusObject {
 public:
  explicit ProbeObject(const BusClass& bus_class) : BusObject(bus_class) { ++g_probes_alive; }
  ~ProbeObject() override {
    if (QDBusConnection* watch = g_name_watch.load()) {
      ++(watch->interface()->isServiceRegistered(QString::fromLatin1(kAutomationBusName)).value()
             ? g_ended_with_name
             : g_ended_without_name);
    }
    --g_probes_alive;
  }
  void Ping(const QString& text) { Emit(QStringLiteral("Pinged"), {text}); }
  int32_t value = 0;
};

const BusInterface& ProbeInterface() {
  static const BusInterface kInterface = [] {
    BusInterface i;
    i.name = kProbe;
    i.doc = QStringLiteral("a & b <c> \"d\"\nsecond line");
    i.enumerations = {QStringLiteral("CDReadCommandConstants")};
    i.Method<ProbeObject>(QStringLiteral("Echo"), {Arg(QStringLiteral("text"), QStringLiteral("s"))},
                          {Result(QStringLiteral("s"))}, QStringLiteral("echo"),
                          [](ProbeObject&, BusCall& call) { call.Reply({call.String(0)}); });
    i.Method<ProbeObject>(QStringLiteral("Echo"), {}, {Result(QStringLiteral("s"))}, QStringLiteral("echo"),
                          [](ProbeObject&, BusCall& call) { call.Reply({QStringLiteral("nothing")}); });
    i.Method<ProbeObject>(QStringLiteral("Wrong"), {}, {Result(QStringLiteral("i"), QStringLiteral("CDReadCommandConstants"))},
                          QString(), [](ProbeObject&, BusCall& call) { call.Reply({QStringLiteral("not a Long")}); });
    i.Method<ProbeObject>(QStringLiteral("Ping"), {Arg(QStringLiteral("text"), QStringLiteral("s"))}, {}, QString(),
                          [](ProbeObject& self, BusCall& call) { self.Ping(call.String(0)); });
    // A slow call that hands out a new probe of the caller.
    i.Method<ProbeObject>(QStringLiteral("Spawn"), {}, {Result(QStringLiteral("o"))}, QString(),
                          [](ProbeObject& self, BusCall& call) {
                            QThread::msleep(20);
                            call.Reply({QVariant::fromValue(
                                call.HandOut(std::make_shared<ProbeObject>(self.Class())))});
                          });
    // A handler that throws: a standard exception ("std") or anything else.
    i.Method<ProbeObject>(QStringLiteral("Throw"), {Arg(QStringLiteral("kind"), QStringLiteral("s"))}, {}, QString(),
                          [](ProbeObject&, BusCall& call) {
                            if (call.String(0) == QLatin1String("std")) throw std::runtime_error("probe fault");
                            throw 42;
                          });
    // Reads the Value of another probe of the caller, as a drive reads a TOC.
    i.Method<ProbeObject>(QStringLiteral("Read"), {Arg(QStringLiteral("other"), QStringLiteral("o"))},
                          {Result(QStringLiteral("i"))}, QString(), [](ProbeObject&, BusCall& call) {
                            const auto other = call.ObjectArgument<ProbeObject>(0);
                            if (other == nullptr) return;
                            if (!other->TryReadModel([&] { call.Reply({other->value}); })) {
                              call.Fail(QLatin1String(kBusyError), QStringLiteral("busy"));
                            }
                          });
    // Runs until the test lets it end.
    i.Method<ProbeObject>(QStringLiteral("Hold"), {}, {}, QString(), [](ProbeObject&, BusCall&) {
      std::unique_lock lock(g_hold_mutex);
      ++g_holding;
      g_hold_changed.wait_for(lock, std::chrono::seconds(60), [] { return g_let_go; });
      --g_holding;
    });
    i.Signal(QStringLiteral("Pinged"), {Arg(QStringLiteral("text"), QStringLiteral("s"))});
    i.Property<ProbeObject>(
        QStringLiteral("Value"), QStringLiteral("i"), QString(), QString(),
        [](ProbeObject& self) { return QVariant(self.value); },
        [](ProbeObject& self, const QVariant& value) { self.value = value.toInt(); });
    return i;
  }();
  return kInterface;
}

const BusClass& ProbeClass() {
  static const BusClass kClass{QStringLiteral("Probe"), &ProbeInterface,
                               [] { return std::make_shared<ProbeObject>(ProbeClass()); }, 3, 5, true};
  return kClass;
}

// Probes whose model no other object reads: their calls take no model lock,
// as a drive's do.
const BusClass& ReaderClass() {
  static const BusClass kClass{QStringLiteral("Reader"), &ProbeInterface,
                               [] { return std::make_shared<ProbeObject>(ReaderClass()); }};
  return kClass;
}

// The XML of a description: specials and line feeds survive a reader, each
// form of a member is there, enumerations are annotations.
TEST(BusInterfaceTest, XmlOfADescriptionReadsBackAsWritten) {
  const QString xml = NodeXml({InterfaceXml(ProbeInterface(), 2)});
  EXPECT_TRUE(xml.contains(QStringLiteral("value=\"a &amp; b &lt;c&gt; &quot;d&quot;&#10;second line\"")));
  EXPECT_TRUE(xml.contains(
      QStringLiteral("<annotation name=\"SORVEL.Enumeration.CDReadCommandConstants.CCC_RAW96\" value=\"3\"/>")));
  QXmlStreamReader reader(xml);
  QStringList docs, methods, enumerations;
  while (!reader.atEnd()) {
    if (reader.readNext() != QXmlStreamReader::StartElement) continue;
    const auto attributes = reader.attributes();
    if (reader.name() == u"method") methods << attributes.value(QLatin1String("name")).toString();
    if (reader.name() == u"annotation" && attributes.value(QLatin1String("name")) == u"org.gtk.GDBus.DocString")
      docs << attributes.value(QLatin1String("value")).toString();
    if (reader.name() == u"annotation" && attributes.value(QLatin1String("name")) == u"SORVEL.Enumeration")
      enumerations << attributes.value(QLatin1String("value")).toString();
  }
  EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
  EXPECT_EQ(docs.value(0), ProbeInterface().doc);
  EXPECT_EQ(methods, (QStringList{QStringLiteral("Echo"), QStringLiteral("Echo"), QStringLiteral("Wrong"),
                                  QStringLiteral("Ping"), QStringLiteral("Spawn"), QStringLiteral("Throw"),
                                  QStringLiteral("Read"), QStringLiteral("Hold")}));
  EXPECT_EQ(enumerations, QStringList{QStringLiteral("CDReadCommandConstants")});
  EXPECT_EQ(ProbeInterface().FindMethod(QStringLiteral("Echo"), QString())->in.size(), 0u);
  EXPECT_EQ(ProbeInterface().FindMethod(QStringLiteral("Echo"), QStringLiteral("s"))->in.size(), 1u);
  EXPECT_EQ(ProbeInterface().FindMethod(QStringLiteral("Echo"), QStringLiteral("i")), nullptr);
}

TEST(BusInterfaceTest, DBusTypesOfValues) {
  const std::pair<QVariant, const char*> values[] = {
      {ByteValue(7), "y"},
      {Int16Value(-3), "n"},
      {QVariant(int32_t{5}), "i"},
      {QVariant(true), "b"},
      {QVariant(QStringLiteral("x")), "s"},
      {QVariant(QByteArray("x")), "ay"},
      {QVariant::fromValue(QDBusObjectPath(QStringLiteral("/a"))), "o"},
      {QVariant::fromValue(QDBusVariant(1)), "v"},
      {QVariant(QVariantMap()), "a{sv}"},
      {QVariant(QStringList()), "?"},
  };
  for (const auto& [value, type] : values) EXPECT_EQ(DBusTypeOf(value), QLatin1String(type)) << type;
  EXPECT_EQ(DBusSignatureOf({true, QByteArray()}), QStringLiteral("bay"));
}

class AutomationServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.ok());
    ASSERT_TRUE(service_.Publish());
  }
  // Calls served by the server in this process: the event loop runs meanwhile.
  QDBusMessage Call(DBusClient& client, const QString& path, const QString& interface, const QString& method,
                    const QVariantList& arguments = {}) {
    return client.CallRunning(path, interface, method, arguments);
  }
  QString Create(DBusClient& client) { return client.Create(QStringLiteral("Probe"), true); }

  testing::PrivateBus bus_;
  AutomationService service_{bus_.Connect(QStringLiteral("server")), {&ProbeClass(), &ReaderClass()}};
};

TEST_F(AutomationServiceTest, MembersPropertiesAndRepliesAsDescribed) {
  DBusClient client(bus_, QStringLiteral("client"));
  const QString probe = Create(client);
  ASSERT_TRUE(probe.startsWith(QStringLiteral("/SORVEL/Probe/")));
  EXPECT_EQ(ValueOf(Call(client, probe, kProbe, QStringLiteral("Echo"), {QStringLiteral("hi")})).toString(),
            QStringLiteral("hi"));
  EXPECT_EQ(ValueOf(Call(client, probe, kProbe, QStringLiteral("Echo"))).toString(), QStringLiteral("nothing"));
  // A reply that would break the promised signature is an error instead.
  EXPECT_TRUE(ErrorOf(Call(client, probe, kProbe, QStringLiteral("Wrong")))
                  .startsWith(QStringLiteral("org.freedesktop.DBus.Error.Failed")));
  const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
  EXPECT_EQ(Call(client, probe, properties, QStringLiteral("Set"),
                 {kProbe, QStringLiteral("Value"), QVariant::fromValue(QDBusVariant(42))})
                .type(),
            QDBusMessage::ReplyMessage);
  EXPECT_EQ(ValueOf(Call(client, probe, properties, QStringLiteral("Get"), {kProbe, QStringLiteral("Value")}))
                .value<QDBusVariant>()
                .variant()
                .toInt(),
            42);
  EXPECT_TRUE(ErrorOf(Call(client, probe, properties, QStringLiteral("Set"),
                           {kProbe, QStringLiteral("Value"), QVariant::fromValue(QDBusVariant(QStringLiteral("42")))}))
                  .startsWith(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs")));
  // Signals go to the owner alone.
  DBusClient other(bus_, QStringLiteral("other"));
  client.Watch(probe, kProbe, QStringLiteral("Pinged"));
  other.Watch(probe, kProbe, QStringLiteral("Pinged"));
  Call(client, probe, kProbe, QStringLiteral("Ping"), {QStringLiteral("one")});
  ASSERT_EQ(client.received.size(), 1u);
  EXPECT_EQ(client.received[0].arguments(), QVariantList{QStringLiteral("one")});
  Call(other, QStringLiteral("/SORVEL/Probe"), QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
  EXPECT_TRUE(other.received.empty());
}

// A class with limits: three a connection, five in the server; released
// objects make room again.
TEST_F(AutomationServiceTest, LimitsOfAHeavyClass) {
  DBusClient first(bus_, QStringLiteral("first"));
  DBusClient second(bus_, QStringLiteral("second"));
  QStringList mine;
  for (int i = 0; i < 3; ++i) mine << Create(first);
  EXPECT_FALSE(mine.contains(QString()));
  EXPECT_EQ(ErrorOf(Call(first, QStringLiteral("/SORVEL/Probe"), QStringLiteral("SORVEL.Probe.Factory"),
                         QStringLiteral("Create"))),
            QStringLiteral("org.freedesktop.DBus.Error.LimitsExceeded A connection holds at most 3 Probe objects; "
                           "release some first"));
  EXPECT_FALSE(Create(second).isEmpty());
  EXPECT_FALSE(Create(second).isEmpty());
  EXPECT_TRUE(ErrorOf(Call(second, QStringLiteral("/SORVEL/Probe"), QStringLiteral("SORVEL.Probe.Factory"),
                           QStringLiteral("Create")))
                  .contains(QStringLiteral("The server holds at most 5 Probe objects")));
  EXPECT_TRUE(testing::BoolOf(Call(first, QStringLiteral("/SORVEL/Probe"), QStringLiteral("SORVEL.Probe.Factory"),
                                   QStringLiteral("Release"), {PathArg(mine[0])})));
  EXPECT_FALSE(Create(second).isEmpty());
  EXPECT_EQ(service_.ObjectCount(), 5);
}

// The objects of a client that leaves end with it, and only those.
TEST_F(AutomationServiceTest, ObjectsEndWithTheirClient) {
  const int before = g_probes_alive;
  DBusClient staying(bus_, QStringLiteral("staying"));
  const QString kept = Create(staying);
  {
    DBusClient leaving(bus_, QStringLiteral("leaving"));
    for (int i = 0; i < 3; ++i) ASSERT_FALSE(Create(leaving).isEmpty());
    EXPECT_EQ(g_probes_alive, before + 4);
    leaving.Leave();
  }
  EXPECT_TRUE(testing::ServeUntil([&] { return g_probes_alive == before + 1; }, 60000));
  EXPECT_EQ(service_.ObjectCount(), 1);
  EXPECT_EQ(ValueOf(Call(staying, kept, kProbe, QStringLiteral("Echo"))).toString(), QStringLiteral("nothing"));
}

// Calls run on the object's worker after the client sent them: those still
// queued when the client leaves hand out nothing more, so every object of
// the client ends (one made for it afterwards would never be released).
TEST_F(AutomationServiceTest, CallsQueuedWhenTheClientLeavesLeaveNoObjectBehind) {
  const int before = g_probes_alive;
  {
    DBusClient leaving(bus_, QStringLiteral("leaving"));
    const QString probe = Create(leaving);
    ASSERT_FALSE(probe.isEmpty());
    for (int i = 0; i < 50; ++i) leaving.Send(probe, kProbe, QStringLiteral("Spawn"));
    leaving.Leave();
  }
  // The queued calls take about a second; once the server runs none, every
  // probe has ended.
  EXPECT_TRUE(testing::ServeUntil([] { return AutomationCallCount() == 0; }, 10000)) << AutomationCallCount();
  EXPECT_TRUE(testing::ServeUntil([&] { return service_.ObjectCount() == 0 && g_probes_alive == before; }, 10000))
      << service_.ObjectCount() << " objects, " << g_probes_alive - before << " probes";
}

// A handler that throws is answered with an error, and the object's worker
// goes on: the calls after it, and those queued behind it, are answered.
TEST_F(AutomationServiceTest, AnExceptionInACallIsAnErrorAndTheObjectGoesOn) {
  DBusClient client(bus_, QStringLiteral("client"));
  const QString probe = Create(client);
  ASSERT_FALSE(probe.isEmpty());
  const struct {
    const char* kind;
    const char* error;
  } cases[] = {
      {"std", "org.freedesktop.DBus.Error.Failed 'Throw' failed: probe fault"},
      {"other", "org.freedesktop.DBus.Error.Failed 'Throw' failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    EXPECT_EQ(ErrorOf(Call(client, probe, kProbe, QStringLiteral("Throw"), {QLatin1String(c.kind)})),
              QLatin1String(c.error));
    EXPECT_EQ(ValueOf(Call(client, probe, kProbe, QStringLiteral("Echo"), {QStringLiteral("after")})).toString(),
              QStringLiteral("after"));
    std::vector<QDBusPendingCall> queued;
    for (int i = 0; i < 20; ++i) queued.push_back(client.Send(probe, kProbe, QStringLiteral("Throw"), {QLatin1String(c.kind)}));
    QDBusPendingCall last = client.Send(probe, kProbe, QStringLiteral("Echo"), {QStringLiteral("last")});
    ASSERT_TRUE(testing::ServeUntil([&] { return last.isFinished(); }, 30000));
    EXPECT_EQ(ValueOf(last.reply()).toString(), QStringLiteral("last"));
    for (QDBusPendingCall& call : queued) EXPECT_EQ(ErrorOf(call.reply()), QLatin1String(c.error));
  }
}

// An object that reads another's model (a drive taking a TOC) never waits
// for the other's worker: it reads the model when no call of the other
// object runs, and is answered busy while one does.
TEST_F(AutomationServiceTest, AnObjectReadByAnotherIsReadOrBusyNeverWaitedFor) {
  DBusClient client(bus_, QStringLiteral("client"));
  const QString reader = client.Create(QStringLiteral("Reader"), true);
  const QString probe = Create(client);
  ASSERT_FALSE(reader.isEmpty());
  ASSERT_EQ(Call(client, probe, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                 {kProbe, QStringLiteral("Value"), QVariant::fromValue(QDBusVariant(2))})
                .type(),
            QDBusMessage::ReplyMessage);
  EXPECT_EQ(ValueOf(Call(client, reader, kProbe, QStringLiteral("Read"), {PathArg(probe)})).toInt(), 2);
  {
    std::lock_guard lock(g_hold_mutex);
    g_let_go = false;
  }
  QDBusPendingCall held = client.Send(probe, kProbe, QStringLiteral("Hold"));
  ASSERT_TRUE(testing::ServeUntil(
      [] {
        std::lock_guard lock(g_hold_mutex);
        return g_holding > 0;
      },
      30000));
  EXPECT_EQ(ErrorOf(Call(client, reader, kProbe, QStringLiteral("Read"), {PathArg(probe)})),
            QStringLiteral("SORVEL.Error.Busy busy"));
  {
    std::lock_guard lock(g_hold_mutex);
    g_let_go = true;
  }
  g_hold_changed.notify_all();
  ASSERT_TRUE(testing::ServeUntil([&] { return held.isFinished(); }, 30000));
  EXPECT_EQ(ValueOf(Call(client, reader, kProbe, QStringLiteral("Read"), {PathArg(probe)})).toInt(), 2);
}

// A server that ends gives up its bus name before its objects go: a client
// calling the name meanwhile starts a new server instead of meeting paths
// that are no longer served.
TEST(AutomationServiceEndTest, TheNameIsGivenUpBeforeTheObjectsEnd) {
  testing::PrivateBus bus;
  ASSERT_TRUE(bus.ok());
  QDBusConnection watch = bus.Connect(QStringLiteral("watch"));
  auto service = std::make_unique<AutomationService>(bus.Connect(QStringLiteral("server")),
                                                     std::vector<const BusClass*>{&ProbeClass()});
  ASSERT_TRUE(service->Publish());
  DBusClient client(bus, QStringLiteral("client"));
  for (int i = 0; i < 3; ++i) ASSERT_FALSE(client.Create(QStringLiteral("Probe"), true).isEmpty());
  g_ended_with_name = 0;
  g_ended_without_name = 0;
  g_name_watch = &watch;
  service.reset();
  g_name_watch = nullptr;
  EXPECT_EQ(g_ended_with_name, 0);
  EXPECT_EQ(g_ended_without_name, 3);
}

}  // namespace
}  // namespace sorvel
