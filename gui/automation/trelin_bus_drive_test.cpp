// What Trelin objects on the bus send to the drive, read from the emulated
// drive's command log: the server lives in this process, its clients are
// python scripts (the system's python3 with dbus-python).
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <functional>

#include "gui/automation/automation_test_rig.h"
#include "gui/automation/trelin_bus.h"
#include "testing/gui/python_bus_script.h"

namespace sorvel {
namespace {

using platform::emu::LoggedCommand;
using testing::PythonBusScript;
using testing::ScratchDir;

constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kPreventAllow = 0x1E;
constexpr uint8_t kWrite10 = 0x2A;
constexpr uint8_t kModeSelect = 0x55;
constexpr uint8_t kSendCueSheet = 0x5D;
constexpr uint8_t kBlank = 0xA1;
constexpr uint8_t kCloseTrackSession = 0x5B;
constexpr uint8_t kSetCdSpeed = 0xBB;

// The start of every script: the bus, the Trelin factory, a helper that
// makes an object and gives its interface.
const QString kPrologue = QStringLiteral(
    "import dbus, logging, sys, time\n"
    "logging.disable(logging.CRITICAL)\n"
    "bus = dbus.SessionBus()\n"
    "def make(cls):\n"
    "    factory = dbus.Interface(bus.get_object('SORVEL.Mastering', '/SORVEL/' + cls), 'SORVEL.' + cls + '.Factory')\n"
    "    return dbus.Interface(bus.get_object('SORVEL.Mastering', factory.Create()), 'SORVEL.' + cls)\n");

uint16_t Word(const LoggedCommand& command, size_t at) {
  return static_cast<uint16_t>(command.cdb.at(at) << 8 | command.cdb.at(at + 1));
}

std::vector<LoggedCommand> WithOpcode(const std::vector<LoggedCommand>& log, uint8_t opcode) {
  std::vector<LoggedCommand> found;
  for (const LoggedCommand& command : log) {
    if (command.opcode() == opcode) found.push_back(command);
  }
  return found;
}

class TrelinBusDriveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::RequirePythonDbus());
    ASSERT_TRUE(bus_.ok());
    ASSERT_TRUE(server_.published());
  }
  // Runs a script to its end (the server answering meanwhile); its output.
  QString Run(const QString& body) {
    PythonBusScript script(bus_.address(), kPrologue + body);
    EXPECT_TRUE(script.WaitForEnd(120000));
    EXPECT_EQ(script.ExitCode(), 0) << script.Output().toStdString();
    return script.Output();
  }
  ScratchDir dir_;
  testing::AutomationDrives drives_{dir_, {"medium=cd-r", "medium=cd-rw", "medium=dvd-r"}};
  testing::PrivateBus bus_;
  testing::InProcessServer server_{bus_};
};

// A client killed while its drive is open, locked, slowed down and without
// error correction: within a second the drive gets CloseDevice's restore.
TEST_F(TrelinBusDriveTest, KilledClientsDriveIsRestoredAndUnlockedWithinASecond) {
  PythonBusScript script(bus_.address(), kPrologue + QStringLiteral(
                                                         "drive = make('Trelin')\n"
                                                         "assert drive.OpenDevice(3)\n"
                                                         "assert drive.LockUnlock(True)\n"
                                                         "assert drive.SetReadSpeed(1764, False, signature='nb')\n"
                                                         "assert drive.SetECCMode(False, 8, signature='bi')\n"
                                                         "print('ready')\n"
                                                         "time.sleep(600)\n"));
  ASSERT_TRUE(script.WaitForOutput(QStringLiteral("ready"), 120000)) << script.Output().toStdString();
  const auto& hooks = drives_.drive(0).hooks();
  const std::vector<LoggedCommand> before = hooks.log();
  ASSERT_FALSE(WithOpcode(before, kPreventAllow).empty());
  EXPECT_EQ(WithOpcode(before, kPreventAllow).back().cdb[4] & 1, 1);  // locked
  EXPECT_EQ(Word(WithOpcode(before, kSetCdSpeed).back(), 2), 1764);
  ASSERT_EQ(server_.service().ObjectCount(), 1);

  script.Kill();
  QElapsedTimer since_kill;
  since_kill.start();
  std::vector<LoggedCommand> after;
  const bool restored = testing::ServeUntil(
      [&] {
        const std::vector<LoggedCommand> log = hooks.log();
        after.assign(log.begin() + static_cast<std::ptrdiff_t>(std::min(before.size(), log.size())), log.end());
        const auto unlock = WithOpcode(after, kPreventAllow);
        return !unlock.empty() && (unlock.back().cdb[4] & 1) == 0;
      },
      1000);
  EXPECT_TRUE(restored) << "no unlock after " << since_kill.elapsed() << " ms";
  // Error correction first, then the speeds back to the drive's maximum, then
  // the write parameters, and the drive closed with its tray unlocked.
  std::vector<uint8_t> order;
  for (const LoggedCommand& command : after) {
    if (command.opcode() == kModeSelect || command.opcode() == kSetCdSpeed || command.opcode() == kPreventAllow)
      order.push_back(command.opcode());
  }
  EXPECT_EQ(order, (std::vector<uint8_t>{kModeSelect, kSetCdSpeed, kSetCdSpeed, kModeSelect, kPreventAllow}));
  const auto speeds = WithOpcode(after, kSetCdSpeed);
  ASSERT_EQ(speeds.size(), 2u);
  EXPECT_EQ(Word(speeds[0], 2), 0xFFFF);  // read speed
  EXPECT_EQ(Word(speeds[1], 4), 0xFFFF);  // write speed
  EXPECT_TRUE(testing::ServeUntil([&] { return server_.service().ObjectCount() == 0; }, 60000));
  EXPECT_EQ(drives_.drive(0).drive(), nullptr);  // closed
}

// A default python proxy keeps the last form of each member in the
// introspection, the shortest that takes arguments: the arguments given reach
// the drive, a call with fewer or more than that form fails in the client,
// and the other forms are reached by naming their signature.
TEST_F(TrelinBusDriveTest, DefaultProxyCallsTheFormOfItsArguments) {
  const QString output = Run(QStringLiteral(
      "drive = make('Trelin')\n"
      "assert drive.OpenDevice(4)\n"
      "def loud(call):\n"
      "    try:\n"
      "        call()\n"
      "        return 'sent'\n"
      "    except TypeError:\n"
      "        return 'refused'\n"
      "drive.SetReadSpeed(1764)\n"
      "drive.SetReadSpeed(1764, True, signature='nb')\n"
      "drive.SetReadSpeed(signature='')\n"
      "drive.SetWriteSpeed(1764)\n"
      "drive.SetWriteSpeed(signature='')\n"
      "print(loud(lambda: drive.SetReadSpeed(1764, True)), loud(lambda: drive.SetReadSpeed()),\n"
      "      loud(lambda: drive.WriteEnd()), loud(lambda: drive.EraseMedia()))\n"
      "print(drive.EraseMedia(False), drive.EraseMedia(signature=''))\n"
      "print('[%s]' % drive.GetDeviceName(1), drive.GetDeviceName(signature='') == drive.GetDeviceName(7))\n"
      "print(drive.WriteEnd(False), drive.WriteFlush(False), drive.WriteEnd(signature=''), drive.WriteFlush(signature=''))\n"
      "drive.CloseDevice()\n"));
  // The vendor as the drive reports it, blank-padded to 8 characters.
  EXPECT_EQ(output, QStringLiteral("refused refused refused refused\n1 1\n[SORVEL  ] True\n0 1 0 1\n"));
  const std::vector<LoggedCommand> log = drives_.drive(1).hooks().log();
  auto speeds = WithOpcode(log, kSetCdSpeed);
  ASSERT_GE(speeds.size(), 7u);
  // Those of OpenDevice before, of CloseDevice (the speeds put back) after.
  speeds.erase(speeds.end() - 2, speeds.end());
  speeds.erase(speeds.begin(), speeds.end() - 5);
  EXPECT_EQ(speeds[0].cdb[1], 0);  // CLV
  EXPECT_EQ(Word(speeds[0], 2), 1764);
  EXPECT_EQ(speeds[1].cdb[1], 1);  // CAV
  EXPECT_EQ(Word(speeds[1], 2), 1764);
  EXPECT_EQ(Word(speeds[2], 2), 0xFFFF);  // the drive's maximum
  EXPECT_EQ(Word(speeds[3], 4), 1764);
  EXPECT_EQ(Word(speeds[4], 4), 0xFFFF);
  const auto blanks = WithOpcode(log, kBlank);
  ASSERT_EQ(blanks.size(), 2u);
  EXPECT_EQ(blanks[0].cdb[1] & 7, 0);  // full blanking
  EXPECT_EQ(blanks[1].cdb[1] & 7, 1);  // quick (minimal) blanking
}

// WriteEnd(True) from a default proxy aborts: after 100 of 2,710 sectors
// nothing more is written and the DVD-R is not closed.
TEST_F(TrelinBusDriveTest, WriteEndTrueAbortsThePass) {
  const QString output = Run(QStringLiteral(
      "toc = make('TOCInformation')\n"
      "toc.TOCAdd(1, 1, 1, 4, 1, 0, 2709)\n"
      "drive = make('Trelin')\n"
      "assert drive.OpenDevice(5)\n"
      "drive.SetTOCStructure(toc)\n"
      "assert drive.WriteStart(0, 0) == 0\n"
      "print(all(drive.WriteLBA(4, b'', lba) for lba in range(100)))\n"
      "drive.WriteEnd(True)\n"));
  EXPECT_EQ(output, QStringLiteral("True\n"));
  const std::vector<LoggedCommand> log = drives_.drive(2).hooks().log();
  int written = 0;
  for (const LoggedCommand& write : WithOpcode(log, kWrite10)) written += Word(write, 7);
  EXPECT_GT(written, 0);
  EXPECT_LE(written, 100);  // the sectors given, no padding
  EXPECT_TRUE(WithOpcode(log, kCloseTrackSession).empty());
}

// While the write cache's worker writes, a member that would send a drive
// command of its own answers its failure value and sends nothing: the worker
// alone talks to the drive until WriteFlush.
TEST_F(TrelinBusDriveTest, NoDriveCommandOfTheCallerWhileTheWorkerWrites) {
  const QString output = Run(QStringLiteral(
      "toc = make('TOCInformation')\n"
      "toc.TOCAdd(1, 1, 1, 4, 1, 0, 299)\n"
      "drive = make('Trelin')\n"
      "assert drive.OpenDevice(3)\n"
      "drive.SetTOCStructure(toc)\n"
      "assert drive.WriteStart(0, 0) == 0\n"
      "speeds = bus.get_object('SORVEL.Mastering', drive.GetReadSpeed())\n"
      "print(drive.IsReady(), drive.GetMediaType(), drive.ReadStart(1, 0), drive.LockUnlock(True),\n"
      "      drive.SetReadSpeed(signature=''), drive.CheckWriteMode(0, False, 1),\n"
      "      speeds.Get('SORVEL.TLNSpeeds', 'Count', dbus_interface='org.freedesktop.DBus.Properties'))\n"
      "drive.SetBufferingBlockLength(2)\n"
      "print(all(drive.WriteLBA(4, b'', lba) for lba in range(300)))\n"
      "print(drive.WriteFlush(signature=''), drive.IsReady(), drive.WriteEnd(signature=''))\n"));
  EXPECT_EQ(output, QStringLiteral("0 0 1 0 0 0 0\nTrue\n1 1 1\n"));
  // From the cue sheet of WriteStart to the TEST UNIT READY of the IsReady
  // after WriteFlush: the worker's WRITEs only, every whole block of 26
  // sectors (the block length unchanged) of the 450 from LBA -150 on; the
  // last 8 sectors go at WriteEnd.
  const std::vector<LoggedCommand> log = drives_.drive(0).hooks().log();
  size_t cue = log.size();
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].opcode() == kSendCueSheet) cue = i;
  }
  ASSERT_LT(cue, log.size());
  size_t i = cue + 1;
  int writes = 0;
  for (; i < log.size() && log[i].opcode() != kTestUnitReady; ++i) {
    EXPECT_EQ(log[i].opcode(), kWrite10) << i;
    EXPECT_EQ(Word(log[i], 7), 26) << i;
    ++writes;
  }
  EXPECT_EQ(writes, 450 / 26);
  ASSERT_LT(i, log.size());
  const auto rest = std::vector<LoggedCommand>(log.begin() + static_cast<std::ptrdiff_t>(i), log.end());
  ASSERT_EQ(WithOpcode(rest, kWrite10).size(), 1u);
  EXPECT_EQ(Word(WithOpcode(rest, kWrite10)[0], 7), 450 % 26);
}

}  // namespace
}  // namespace sorvel
