// The write cache against the emulated drive: the queue and its limits, the
// worker's ordering, abort, sticky failures and the sense it shares, and the
// pass-through calls with the cache switched off.
#include "device_engine/cached_disc_drive.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "device_engine/drive_engine.h"
#include "device_engine/write_test_rig.h"

namespace sorvel::write_test {
namespace {

void Sector(int32_t lba, uint8_t* out) {
  for (size_t i = 0; i < 2048; ++i) out[i] = static_cast<uint8_t>(lba * 7 + i * 13 + 5);
}

TocStructure Toc(int32_t sectors) {
  TocStructure toc;
  toc.MakeSingleTrackToc(SMC_MODE1, sectors);
  return toc;
}

bool Write(CachedDiscDrive& drive, int32_t lba) {
  uint8_t sector[2048];
  Sector(lba, sector);
  return drive.WriteLBA(CSD_SECTORONLY, sector, lba);
}

// What the emulated drive holds at `lba` (READ(10) through a read pass).
void ExpectContent(CachedDiscDrive& drive, int32_t sectors, int32_t written_up_to) {
  ASSERT_EQ(drive.ReadStart(CCC_DATA, 0, nullptr), CBR_OK);
  for (int32_t lba = 0; lba < sectors; ++lba) {
    uint8_t got[2048], want[2048] = {};
    ASSERT_TRUE(drive.ReadLBA(got, lba)) << lba;
    if (lba <= written_up_to) Sector(lba, want);
    ASSERT_EQ(std::memcmp(got, want, 2048), 0) << lba;
  }
  drive.ReadEnd();
}

TEST(WriteCacheRecordTest, LayoutSizes) {
  EXPECT_EQ(WriteCacheRecord::kSize, 2456);
  EXPECT_EQ(WriteCacheRecord::kDataOffset + WriteCacheRecord::kDataSize, WriteCacheRecord::kSize);
  EXPECT_EQ(CachedDiscDrive::kDefaultBufferSize, 10485760);
  // Bytes taken from the caller per type and family.
  EXPECT_EQ(DiscDrive::WriteDataSize(MFT_CD, CSD_SECTORONLY), 2352);
  EXPECT_EQ(DiscDrive::WriteDataSize(MFT_DVD, CSD_SECTORONLY), 2048);
  EXPECT_EQ(DiscDrive::WriteDataSize(MFT_BD, CSD_MAINCHANNEL), 2352);
  EXPECT_EQ(DiscDrive::WriteDataSize(MFT_CD, CSD_MAINSUBCHANNEL), 2448);
  EXPECT_EQ(DiscDrive::WriteDataSize(MFT_CD, CSD_GENERATED), 0);
  EXPECT_EQ(DiscDrive::WriteDataSize(MFT_CD, CSD_ERRORDATA), 0);
  EXPECT_EQ(DiscDrive::WriteDataSize(MFT_CD, 3), -1);
}

TEST(WriteCacheSizeTest, SizesBelowOneRecordSwitchTheCacheOff) {
  CachedDiscDrive drive;
  struct Case {
    int32_t bytes, stored;
  };
  for (const Case& c : {Case{2455, 0}, Case{-1, 0}, Case{INT32_MIN, 0}, Case{0, 0}, Case{2456, 2456},
                        Case{10485760, 10485760}}) {
    EXPECT_EQ(drive.SetWriteCacheBufferSize(c.bytes), c.stored) << c.bytes;
    EXPECT_EQ(drive.write_cache_buffer_size(), c.stored) << c.bytes;
  }
}

TEST(WriteCacheTest, NoPassTakesNoSector) {
  WriteRig rig("dvd-r");
  ASSERT_TRUE(rig.opened());
  EXPECT_FALSE(Write(rig.drive(), 0));
  EXPECT_EQ(rig.drive().GetUsedWriteCacheBufferSize(), 0);
  // A start that fails starts no worker either.
  TocStructure empty;
  EXPECT_NE(rig.drive().WriteStart(CCC_SAO, 0, empty), CBR_OK);
  EXPECT_FALSE(rig.drive().IsWorkerRunning());
  EXPECT_FALSE(Write(rig.drive(), 0));
  EXPECT_TRUE(rig.Commands(kWrite10).empty());
}

TEST(WriteCacheTest, QueueHoldsRecordsWhileTheWorkerIsBusy) {
  WriteRig rig("dvd-r");
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  ASSERT_EQ(drive.WriteStart(CCC_SAO, 0, Toc(100)), CBR_OK);
  EXPECT_TRUE(drive.IsWorkerRunning());
  drive.CloseGate();
  for (int32_t lba = 0; lba < 4; ++lba) ASSERT_TRUE(Write(drive, lba));
  drive.WaitForWorker(1);
  // The worker holds the first record; three wait in the queue.
  EXPECT_EQ(drive.GetUsedWriteCacheBufferSize(), 7368);
  // Neither the size nor the pass can change meanwhile, and nothing reaches the drive.
  rig.hooks().ClearLog();
  EXPECT_EQ(drive.SetWriteCacheBufferSize(0), CachedDiscDrive::kDefaultBufferSize);
  EXPECT_EQ(drive.write_cache_buffer_size(), CachedDiscDrive::kDefaultBufferSize);
  EXPECT_EQ(drive.WriteStart(CCC_SAO, 0, Toc(100)), CBR_ALREADYRUNNING);
  EXPECT_FALSE(drive.ResetSense());
  EXPECT_TRUE(rig.hooks().log().empty());
  drive.OpenGate();
  for (int32_t lba = 4; lba < 100; ++lba) ASSERT_TRUE(Write(drive, lba));
  ASSERT_TRUE(drive.WriteEnd(false));
  EXPECT_FALSE(drive.IsWorkerRunning());
  EXPECT_EQ(drive.GetUsedWriteCacheBufferSize(), 0);
  EXPECT_EQ(drive.GetLastWroteLBA(), 99);
  ExpectContent(drive, 100, 99);
}

TEST(WriteCacheTest, FullQueueMakesTheCallerWait) {
  WriteRig rig("dvd-r");
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  drive.SetWriteCacheBufferSize(3 * WriteCacheRecord::kSize);
  ASSERT_EQ(drive.WriteStart(CCC_SAO, 0, Toc(50)), CBR_OK);
  drive.CloseGate();
  ASSERT_TRUE(Write(drive, 0));
  drive.WaitForWorker(1);
  for (int32_t lba = 1; lba < 4; ++lba) ASSERT_TRUE(Write(drive, lba));
  EXPECT_EQ(drive.GetUsedWriteCacheBufferSize(), 3 * WriteCacheRecord::kSize);
  std::atomic<bool> returned{false};
  std::thread producer([&] {
    Write(drive, 4);
    returned = true;
  });
  // The producer cannot get its record in until the worker takes one.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(returned.load());
  drive.OpenGate();
  producer.join();
  EXPECT_TRUE(returned.load());
  for (int32_t lba = 5; lba < 50; ++lba) ASSERT_TRUE(Write(drive, lba));
  ASSERT_TRUE(drive.WriteEnd(false));
  ExpectContent(drive, 50, 49);
}

// The caller's waits for the worker (room in a full queue, the flush at the
// end) ask whether to give up about every 100 ms, on the caller's thread; a
// give-up ends the wait at once with the pass aborted: the record the worker
// held is the last one written, WriteLBA and the flush report the loss, and
// the pass ends without padding over it. Answers of "go on" change nothing.
TEST(WriteCacheTest, ACallersWaitForTheWorkerCanBeGivenUp) {
  enum class Where { kRoom, kFlush };
  struct Case {
    const char* name;
    Where where;
    int give_up_at;  // 0: never
  };
  for (const Case& c : {Case{"room, given up", Where::kRoom, 3}, Case{"flush, given up", Where::kFlush, 3},
                        Case{"flush, waited for", Where::kFlush, 0}}) {
    SCOPED_TRACE(c.name);
    WriteRig rig("dvd-r");
    ASSERT_TRUE(rig.opened());
    GatedDrive& drive = rig.drive();
    drive.SetWriteCacheBufferSize(3 * WriteCacheRecord::kSize);
    ASSERT_EQ(drive.WriteStart(CCC_SAO, 0, Toc(50)), CBR_OK);
    drive.CloseGate();
    ASSERT_TRUE(Write(drive, 0));
    drive.WaitForWorker(1);
    for (int32_t lba = 1; lba < 4; ++lba) ASSERT_TRUE(Write(drive, lba));
    drive.GiveUpAt(c.give_up_at);
    std::thread opener;
    if (c.give_up_at == 0) {
      // Let the worker go on once the caller has been asked a few times.
      opener = std::thread([&] {
        while (drive.asks() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        drive.OpenGate();
      });
    }
    bool result;
    if (c.where == Where::kRoom) {
      result = Write(drive, 4);
    } else {
      result = drive.WriteFlush(false);
    }
    if (opener.joinable()) opener.join();
    EXPECT_GE(drive.asks(), 3);
    EXPECT_EQ(drive.asks_elsewhere(), 0);
    if (c.give_up_at == 0) {
      EXPECT_TRUE(result);
      EXPECT_EQ(drive.GetLastWroteLBA(), 3);
      ASSERT_TRUE(drive.WriteEnd(false));
      ExpectContent(drive, 50, 3);
      continue;
    }
    EXPECT_FALSE(result);
    EXPECT_FALSE(Write(drive, 5));
    EXPECT_FALSE(drive.WriteFlush(false));
    EXPECT_FALSE(drive.IsWorkerRunning());
    EXPECT_EQ(drive.GetLastWroteLBA(), 0);
    rig.hooks().ClearLog();
    EXPECT_FALSE(drive.WriteEnd(false));
    // No padding went to the drive after the hole.
    EXPECT_TRUE(rig.Commands(kWrite10).empty());
  }
}

TEST(WriteCacheTest, FlushWithAbortDropsQueuedRecordsAndEndPadsFromThere) {
  WriteRig rig("dvd-r");
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  ASSERT_EQ(drive.WriteStart(CCC_SAO, 0, Toc(60)), CBR_OK);
  drive.CloseGate();
  for (int32_t lba = 0; lba < 40; ++lba) ASSERT_TRUE(Write(drive, lba));
  drive.WaitForWorker(1);
  EXPECT_TRUE(drive.WriteFlush(true));
  EXPECT_FALSE(drive.IsWorkerRunning());
  EXPECT_EQ(drive.GetUsedWriteCacheBufferSize(), 0);
  // Only the record the worker held went on: sector 0.
  EXPECT_EQ(drive.GetLastWroteLBA(), 0);
  EXPECT_EQ(drive.current_lba(), 1);
  EXPECT_TRUE(drive.IsWriting());
  ASSERT_TRUE(drive.WriteEnd(false));
  ExpectContent(drive, 60, 0);
}

TEST(WriteCacheTest, ConcurrentProducerAndStatusReaders) {
  // The caller's thread writes while another reads what the worker shares;
  // run under ThreadSanitizer this checks the shared values.
  WriteRig rig("bd-r");
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  drive.SetWriteCacheBufferSize(8 * WriteCacheRecord::kSize);
  constexpr int32_t kSectors = 2000;
  ASSERT_EQ(drive.WriteStart(CCC_SAO, 0, Toc(kSectors)), CBR_OK);
  std::atomic<bool> done{false};
  std::thread reader([&] {
    int32_t last = -1;
    while (!done.load()) {
      const int32_t lba = drive.GetLastWroteLBA();
      EXPECT_GE(lba, last);
      last = lba;
      EXPECT_LE(drive.GetUsedWriteCacheBufferSize(), 8 * WriteCacheRecord::kSize);
      EXPECT_EQ(drive.GetSCSIErrorStatus(), 0);
      std::this_thread::yield();
    }
  });
  for (int32_t lba = 0; lba < kSectors; ++lba) ASSERT_TRUE(Write(drive, lba));
  EXPECT_TRUE(drive.WriteFlush(false));
  done = true;
  reader.join();
  ASSERT_TRUE(drive.WriteEnd(false));
  ExpectContent(drive, kSectors, kSectors - 1);
}

TEST(WriteCacheTest, SuccessfulStartResetsTheLastResult) {
  emu::DriveFaults faults;
  faults.write_error_lba = 30;
  WriteRig rig("dvd-rw", faults);
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  ASSERT_EQ(drive.WriteStart(CCC_SAO, 0, Toc(100)), CBR_OK);
  for (int32_t lba = 0; lba < 100; ++lba) Write(drive, lba);
  EXPECT_FALSE(drive.WriteEnd(false));
  // The next pass starts good again (the medium is erased first).
  rig.hooks().UpdateFaults([](emu::DriveFaults& f) { f.write_error_lba.reset(); });
  ASSERT_EQ(drive.WriteStart(CCC_SAO, 0, Toc(100)), CBR_OK);
  for (int32_t lba = 0; lba < 100; ++lba) ASSERT_TRUE(Write(drive, lba)) << lba;
  EXPECT_TRUE(drive.WriteEnd(false));
  ExpectContent(drive, 100, 99);
}

TEST(WriteCacheTest, UncachedCallsGoStraightThrough) {
  WriteRig rig("dvd-r");
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  ASSERT_EQ(drive.SetWriteCacheBufferSize(0), 0);
  ASSERT_EQ(drive.WriteStart(CCC_SAO, 0, Toc(30)), CBR_OK);
  EXPECT_FALSE(drive.IsWorkerRunning());
  for (int32_t lba = 0; lba < 30; ++lba) {
    ASSERT_TRUE(Write(drive, lba));
    EXPECT_EQ(drive.GetLastWroteLBA(), lba);
    EXPECT_EQ(drive.current_lba(), lba + 1);
  }
  EXPECT_TRUE(drive.WriteFlush(false));
  EXPECT_TRUE(drive.WriteEnd(false));
  ExpectContent(drive, 30, 29);
}

TEST(WriteCacheTest, TerminateWhileTheWorkerRunsNeverPads) {
  // The engine goes away with a full queue: the worker stops (abort) before
  // the drive closes, and no padding or closing command follows.
  testing::ScratchDir dir;
  const std::string state = (dir / "drive.state").string();
  emu::HooksFor(state)->ClearLog();
  const std::string spec = state + ",medium=dvd-r";
  SptiPassThrough pass([spec](char, std::string* error) { return platform::OpenEmulatedDevice(spec, error); });
  {
    auto engine = std::make_unique<DriveEngine>();
    engine->SetPassThrough(&pass);
    ASSERT_TRUE(engine->Open("\\\\.\\E:"));
    engine->SetWriteCacheBufferSize(64 * WriteCacheRecord::kSize);
    TocStructure toc = Toc(5000);
    uint8_t part[TocStructure::kTrackPartSize];
    const int32_t size = toc.GetPart(TST_TOC, part, sizeof part);
    ASSERT_EQ(engine->SetTOCStructure(TST_TOC, part, size), size);
    ASSERT_EQ(engine->WriteStart(CCC_SAO, 0), CBR_OK);
    for (int32_t lba = 0; lba < 500; ++lba) ASSERT_TRUE(Write(*engine, lba));
    engine->Terminate();
    EXPECT_FALSE(engine->IsWorkerRunning());
    EXPECT_FALSE(engine->IsWriting());
  }
  int32_t highest = -1;
  for (const auto& c : emu::HooksFor(state)->log()) {
    EXPECT_NE(c.opcode(), kCloseTrack);
    if (c.opcode() == kWrite10) highest = std::max(highest, CdbLba(c) + CdbCount(c) - 1);
  }
  EXPECT_LT(highest, 500);
}

}  // namespace
}  // namespace sorvel::write_test
