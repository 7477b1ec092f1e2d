// libtrelin.so as its callers see it: loaded with dlopen, exactly the 43
// exported names, the edge cases of the exports, and whole write-then-read
// round trips through the exports alone on a drive of SORVEL_DRIVES.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device_engine/write_test_rig.h"
#include "native_common/qrntp_server.h"
#include "native_common/remote_scsi_client.h"
#include "native_common/remote_scsi_protocol.h"
#include "native_common/remote_scsi_server.h"
#include "platform/emulated_drive/soft_mmc_drive.h"

namespace sorvel::write_test {
namespace {

constexpr std::array<const char*, 43> kExports = {
    "GetEngineVersion", "Initialize",      "Terminate",       "GetRemoteHosts",
    "Open",             "OpenEx",          "Close",           "GetDeviceName",
    "ClearTOCStructure", "GetTOCStructure", "SetTOCStructure", "GetFirstLBA",
    "GetLastLBA",       "SetBufferingBlockLength", "ReadStart", "ReadLBA",
    "ReadLBADummy",     "ReadEnd",         "WriteStart",      "WriteLBA",
    "WriteFlush",       "WriteEnd",        "GetLastWroteLBA", "LoadTray",
    "IsReady",          "GetMediaType",    "GetMediaFamilyType", "LockUnlock",
    "Erase",            "IsSupportMedia",  "IsReadSupport",   "IsWriteSupport",
    "IsDiscEmpty",      "ResetSense",      "SetECCMode",      "SetReadSpeed",
    "SetWriteSpeed",    "GetWriteSpeed",   "CheckWriteMode",  "GetSCSIErrorStatus",
    "SetWriteCacheBufferSize", "GetUsedWriteCacheBufferSize", "SetWaitCallback"};

std::filesystem::path LibraryPath() { return testing::BuiltLibraryPath("libtrelin.so"); }

// The library and the exports the tests call.
class Trelin {
 public:
  Trelin() {
    handle_ = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) return;
    Bind(GetEngineVersion, "GetEngineVersion");
    Bind(Initialize, "Initialize");
    Bind(Terminate, "Terminate");
    Bind(GetRemoteHosts, "GetRemoteHosts");
    Bind(Open, "Open");
    Bind(OpenEx, "OpenEx");
    Bind(Close, "Close");
    Bind(GetDeviceName, "GetDeviceName");
    Bind(ClearTOCStructure, "ClearTOCStructure");
    Bind(GetTOCStructure, "GetTOCStructure");
    Bind(SetTOCStructure, "SetTOCStructure");
    Bind(GetFirstLBA, "GetFirstLBA");
    Bind(GetLastLBA, "GetLastLBA");
    Bind(ReadStart, "ReadStart");
    Bind(ReadLBA, "ReadLBA");
    Bind(ReadEnd, "ReadEnd");
    Bind(WriteStart, "WriteStart");
    Bind(WriteLBA, "WriteLBA");
    Bind(WriteFlush, "WriteFlush");
    Bind(WriteEnd, "WriteEnd");
    Bind(GetLastWroteLBA, "GetLastWroteLBA");
    Bind(GetMediaType, "GetMediaType");
    Bind(GetMediaFamilyType, "GetMediaFamilyType");
    Bind(IsDiscEmpty, "IsDiscEmpty");
    Bind(Erase, "Erase");
    Bind(GetSCSIErrorStatus, "GetSCSIErrorStatus");
    Bind(IsReady, "IsReady");
    Bind(SetWaitCallback, "SetWaitCallback");
    Bind(SetWriteCacheBufferSize, "SetWriteCacheBufferSize");
    Bind(GetUsedWriteCacheBufferSize, "GetUsedWriteCacheBufferSize");
  }
  ~Trelin() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  bool loaded() const { return handle_ != nullptr && bound_all_; }
  void* handle() const { return handle_; }

  int32_t (*GetEngineVersion)() = nullptr;
  intptr_t (*Initialize)() = nullptr;
  void (*Terminate)(intptr_t) = nullptr;
  int32_t (*GetRemoteHosts)(intptr_t, const char*, int32_t, char*, int32_t, int32_t) = nullptr;
  int32_t (*Open)(intptr_t, int32_t) = nullptr;
  int32_t (*OpenEx)(intptr_t, const char*) = nullptr;
  int32_t (*Close)(intptr_t) = nullptr;
  int32_t (*GetDeviceName)(intptr_t, int32_t, char*, int32_t) = nullptr;
  int32_t (*ClearTOCStructure)(intptr_t) = nullptr;
  int32_t (*GetTOCStructure)(intptr_t, int32_t, void*, int32_t) = nullptr;
  int32_t (*SetTOCStructure)(intptr_t, int32_t, const void*, int32_t) = nullptr;
  int32_t (*GetFirstLBA)(intptr_t) = nullptr;
  int32_t (*GetLastLBA)(intptr_t) = nullptr;
  int32_t (*ReadStart)(intptr_t, int32_t, int32_t) = nullptr;
  int32_t (*ReadLBA)(intptr_t, void*, int32_t) = nullptr;
  int32_t (*ReadEnd)(intptr_t) = nullptr;
  int32_t (*WriteStart)(intptr_t, int32_t, int32_t) = nullptr;
  int32_t (*WriteLBA)(intptr_t, int32_t, const void*, int32_t) = nullptr;
  int32_t (*WriteFlush)(intptr_t, int32_t) = nullptr;
  int32_t (*WriteEnd)(intptr_t, int32_t) = nullptr;
  int32_t (*GetLastWroteLBA)(intptr_t) = nullptr;
  int32_t (*GetMediaType)(intptr_t) = nullptr;
  int32_t (*GetMediaFamilyType)(intptr_t) = nullptr;
  int32_t (*IsDiscEmpty)(intptr_t) = nullptr;
  int32_t (*Erase)(intptr_t, int32_t) = nullptr;
  int32_t (*GetSCSIErrorStatus)(intptr_t) = nullptr;
  int32_t (*IsReady)(intptr_t) = nullptr;
  int32_t (*SetWaitCallback)(intptr_t, int32_t (*)(void*), void*) = nullptr;
  int32_t (*SetWriteCacheBufferSize)(intptr_t, int32_t) = nullptr;
  int32_t (*GetUsedWriteCacheBufferSize)(intptr_t) = nullptr;

 private:
  template <typename F>
  void Bind(F& function, const char* name) {
    function = reinterpret_cast<F>(dlsym(handle_, name));
    if (function == nullptr) bound_all_ = false;
  }
  void* handle_ = nullptr;
  bool bound_all_ = true;
};

// SORVEL_DRIVES for the duration of a test.
class ScopedDrives {
 public:
  explicit ScopedDrives(const std::string& value) { setenv("SORVEL_DRIVES", value.c_str(), 1); }
  ~ScopedDrives() { unsetenv("SORVEL_DRIVES"); }
};

TEST(TrelinLibraryTest, ExportsExactlyTheFortyThreeNames) {
  ASSERT_TRUE(testing::RequireTool("nm"));
  std::string out;
  ASSERT_EQ(testing::RunCommand("nm -D --defined-only '" + LibraryPath().string() + "'", &out), 0) << out;
  std::set<std::string> defined;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name) defined.insert(name);
  }
  const std::set<std::string> expected(kExports.begin(), kExports.end());
  EXPECT_EQ(expected.size(), 43u);
  EXPECT_EQ(defined, expected);
}

class TrelinExportTest : public ::testing::TestWithParam<const char*> {};

TEST_P(TrelinExportTest, ResolvesThroughDlsym) {
  Trelin lib;
  ASSERT_NE(lib.handle(), nullptr) << dlerror();
  EXPECT_NE(dlsym(lib.handle(), GetParam()), nullptr) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Names, TrelinExportTest, ::testing::ValuesIn(kExports),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

class TrelinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib_.loaded()) << dlerror();
    engine_ = lib_.Initialize();
    ASSERT_NE(engine_, 0);
  }
  void TearDown() override {
    if (engine_ != 0) lib_.Terminate(engine_);
  }
  Trelin lib_;
  intptr_t engine_ = 0;
  testing::ScratchDir dir_;
};

TEST_F(TrelinTest, EdgeCasesOfTheExports) {
  EXPECT_EQ(lib_.GetEngineVersion(), 10600);
  lib_.Terminate(0);  // ignored
  EXPECT_EQ(lib_.GetRemoteHosts(engine_, "127.0.0.1", 70000, nullptr, 0, 10), 0);
  EXPECT_EQ(lib_.GetRemoteHosts(engine_, "127.0.0.1", -1, nullptr, 0, 10), 0);
  // Closed engine: commands fail and the sense says no device.
  EXPECT_EQ(lib_.GetSCSIErrorStatus(engine_), 0xFFFFFF);
  EXPECT_EQ(lib_.IsDiscEmpty(engine_), 0);
  EXPECT_EQ(lib_.WriteLBA(engine_, 0, nullptr, 0), 0);
  EXPECT_EQ(lib_.GetFirstLBA(engine_), 0);
  EXPECT_EQ(lib_.SetWriteCacheBufferSize(engine_, -1), 0);
  EXPECT_EQ(lib_.SetWriteCacheBufferSize(engine_, 2456), 2456);
  EXPECT_EQ(lib_.GetUsedWriteCacheBufferSize(engine_), 0);
  EXPECT_EQ(lib_.ClearTOCStructure(engine_), 0);

  ScopedDrives drives("D:=emu:" + (dir_ / "drive.state").string() + ",medium=cd-r,vendor=SORVEL,product=EMU WRITER");
  EXPECT_EQ(lib_.Open(engine_, -1), 0);
  EXPECT_EQ(lib_.Open(engine_, 26), 0);
  EXPECT_EQ(lib_.Open(engine_, 4), 0);  // E: is not in the map
  ASSERT_EQ(lib_.Open(engine_, 3), 1);  // D:
  EXPECT_EQ(lib_.GetMediaType(engine_), 0x09);
  EXPECT_EQ(lib_.GetMediaFamilyType(engine_), 1);
  // Vendor and product: a buffer exactly as long as the text has no room for the zero.
  char name[256];
  ASSERT_EQ(lib_.GetDeviceName(engine_, 3, name, sizeof name), 1);
  const std::string full = name;
  EXPECT_NE(full.find("SORVEL"), std::string::npos) << full;
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(lib_.GetDeviceName(engine_, 3, name, static_cast<int32_t>(full.size())), 0);
  EXPECT_EQ(name[0], 'x');
  ASSERT_EQ(lib_.GetDeviceName(engine_, 3, name, static_cast<int32_t>(full.size() + 1)), 1);
  EXPECT_EQ(std::string(name), full);
  EXPECT_EQ(lib_.Close(engine_), 1);
}

// Sets every part of `toc` through the exports.
void SetToc(Trelin& lib, intptr_t engine, const TocStructure& toc) {
  ASSERT_EQ(lib.ClearTOCStructure(engine), 0);
  for (int32_t part : {TST_TOC, TST_RAWTOC, TST_MCN, TST_ISRC, TST_CDTEXT}) {
    std::vector<uint8_t> buffer(TocStructure::kCdTextPartSize + 2, 0);
    const int32_t size = toc.GetPart(part, buffer.data(), static_cast<int32_t>(buffer.size()));
    if (size == 0) continue;
    // The MCN part goes in as 13 digits and a zero byte.
    const int32_t given = part == TST_MCN ? 14 : size;
    ASSERT_EQ(lib.SetTOCStructure(engine, part, buffer.data(), given), part == TST_MCN ? 13 : size) << part;
  }
}

TocStructure GetToc(Trelin& lib, intptr_t engine) {
  TocStructure toc;
  for (int32_t part : {TST_TOC, TST_MCN, TST_ISRC}) {
    std::vector<uint8_t> buffer(TocStructure::kCdTextPartSize + 2, 0);
    const int32_t size = lib.GetTOCStructure(engine, part, buffer.data(), static_cast<int32_t>(buffer.size()));
    if (size > 0) toc.SetPart(part, buffer.data(), part == TST_MCN ? 14 : size);
  }
  return toc;
}

TEST_F(TrelinTest, CdWrittenAndReadBackThroughTheExports) {
  const std::string state = (dir_ / "cd.state").string();
  ScopedDrives drives("E:=emu:" + state + ",medium=cd-r");
  ASSERT_EQ(lib_.Open(engine_, 4), 1);
  ASSERT_EQ(lib_.IsDiscEmpty(engine_), 1);
  CdImage image;
  SetToc(lib_, engine_, image.toc);
  ASSERT_EQ(lib_.WriteStart(engine_, CCC_DAO_RAW96, 0), CBR_OK);
  EXPECT_LT(lib_.GetFirstLBA(engine_), -150);
  EXPECT_EQ(lib_.GetLastLBA(engine_), CdImage::kLastLba + 6750);
  for (int32_t lba = 0; lba <= CdImage::kLastLba; ++lba) {
    const Bytes payload = image.Payload(CSD_MAINCHANNEL, lba);
    ASSERT_EQ(lib_.WriteLBA(engine_, CSD_MAINCHANNEL, payload.data(), lba), 1) << lba;
  }
  EXPECT_EQ(lib_.WriteFlush(engine_, 0), 1);
  EXPECT_EQ(lib_.GetLastWroteLBA(engine_), CdImage::kLastLba);
  ASSERT_EQ(lib_.WriteEnd(engine_, 0), 1);
  EXPECT_EQ(lib_.IsDiscEmpty(engine_), 0);

  // Another TOC set before the read pass gives way to the disc's.
  TocStructure other;
  other.MakeSingleTrackToc(SMC_AUDIO, 5);
  SetToc(lib_, engine_, other);
  ASSERT_EQ(lib_.ReadStart(engine_, CCC_RAW96, 0), CBR_OK);
  TocStructure read = GetToc(lib_, engine_);
  ASSERT_EQ(read.Count(TST_TOC), image.toc.Count(TST_TOC));
  for (int i = 0; i < read.Count(TST_TOC); ++i) {
    EXPECT_EQ(read.Track(i).StartLBA, image.toc.Track(i).StartLBA) << i;
    EXPECT_EQ(read.Track(i).EndLBA, image.toc.Track(i).EndLBA) << i;
  }
  for (int32_t lba = 0; lba <= CdImage::kLastLba; ++lba) {
    uint8_t sector[2448];
    ASSERT_EQ(lib_.ReadLBA(engine_, sector, lba), 1) << lba;
    ASSERT_EQ(std::memcmp(sector, image.Expected(lba).data(), 2352), 0) << lba;
  }
  // The codes collected while reading.
  read = GetToc(lib_, engine_);
  EXPECT_EQ(std::string(read.Mcn().data(), 13), CdImage::kMcn);
  EXPECT_EQ(std::string(read.Isrc(1).data(), 12), CdImage::kIsrc);
  EXPECT_EQ(lib_.ReadEnd(engine_), 1);
  EXPECT_EQ(lib_.Close(engine_), 1);

  // The disc as the drive keeps it, judged from its state file.
  emu::DriveSettings settings;
  settings.state_path = state;
  std::string error;
  auto soft = emu::SoftMmcDrive::Open(settings, &error);
  ASSERT_NE(soft, nullptr) << error;
  const emu::MediaState media = soft->media();
  EXPECT_EQ(media.layout.mcn, CdImage::kMcn);
  EXPECT_EQ(media.layout.cdtext.size(), image.packs.size());
}

TEST_F(TrelinTest, BdReWrittenAndReadBackThroughTheExports) {
  ScopedDrives drives("F:=emu:" + (dir_ / "bd.state").string() + ",medium=bd-re");
  ASSERT_EQ(lib_.Open(engine_, 5), 1);
  EXPECT_EQ(lib_.GetMediaFamilyType(engine_), 3);
  EXPECT_EQ(lib_.Erase(engine_, 1), 1);
  TocStructure toc;
  toc.MakeSingleTrackToc(SMC_MODE1, 1000);
  SetToc(lib_, engine_, toc);
  ASSERT_EQ(lib_.WriteStart(engine_, CCC_SAO, 0), CBR_OK);
  for (int32_t lba = 0; lba < 1000; ++lba) {
    uint8_t sector[2048];
    for (size_t i = 0; i < sizeof sector; ++i) sector[i] = static_cast<uint8_t>(lba ^ (i * 3));
    ASSERT_EQ(lib_.WriteLBA(engine_, CSD_SECTORONLY, sector, lba), 1) << lba;
  }
  ASSERT_EQ(lib_.WriteEnd(engine_, 0), 1);
  ASSERT_EQ(lib_.ReadStart(engine_, CCC_DATA, 0), CBR_OK);
  for (int32_t lba = 0; lba < 1000; ++lba) {
    uint8_t sector[2048];
    ASSERT_EQ(lib_.ReadLBA(engine_, sector, lba), 1) << lba;
    for (size_t i = 0; i < sizeof sector; ++i) ASSERT_EQ(sector[i], static_cast<uint8_t>(lba ^ (i * 3))) << lba;
  }
  EXPECT_EQ(lib_.ReadEnd(engine_), 1);
}

TEST_F(TrelinTest, TerminateWithAnOpenPass) {
  ScopedDrives drives("G:=emu:" + (dir_ / "dvd.state").string() + ",medium=dvd-r");
  ASSERT_EQ(lib_.Open(engine_, 6), 1);
  TocStructure toc;
  toc.MakeSingleTrackToc(SMC_MODE1, 100000);
  SetToc(lib_, engine_, toc);
  ASSERT_EQ(lib_.WriteStart(engine_, CCC_SAO, 0), CBR_OK);
  uint8_t sector[2048] = {};
  for (int32_t lba = 0; lba < 3000; ++lba) ASSERT_EQ(lib_.WriteLBA(engine_, CSD_SECTORONLY, sector, lba), 1);
  lib_.Terminate(engine_);
  engine_ = 0;
}


// Every export given a handle that names no engine returns its failure value
// and leaves the caller's buffers alone.
void ExpectRefusedEverywhere(Trelin& lib, intptr_t h) {
  char text[16] = "x";
  uint8_t sector[2448] = {0x5A};
  EXPECT_EQ(lib.GetRemoteHosts(h, "127.0.0.1", 10000, text, sizeof text, 10), 0);
  EXPECT_EQ(lib.Open(h, 3), 0);
  EXPECT_EQ(lib.OpenEx(h, "D:"), 0);
  EXPECT_EQ(lib.Close(h), 0);
  EXPECT_EQ(lib.GetDeviceName(h, 7, text, sizeof text), 0);
  EXPECT_EQ(lib.ClearTOCStructure(h), 0);
  EXPECT_EQ(lib.GetTOCStructure(h, TST_TOC, sector, sizeof sector), 0);
  EXPECT_EQ(lib.SetTOCStructure(h, TST_TOC, sector, 8), 0);
  EXPECT_EQ(lib.GetFirstLBA(h), 0);
  EXPECT_EQ(lib.GetLastLBA(h), 0);
  EXPECT_EQ(lib.ReadStart(h, CCC_RAW, 0), CBR_UNKNOWNMEDIA);
  EXPECT_EQ(lib.ReadLBA(h, sector, 0), 0);
  EXPECT_EQ(lib.ReadEnd(h), 0);
  EXPECT_EQ(lib.WriteStart(h, CCC_SAO, 0), CBR_UNKNOWNMEDIA);
  EXPECT_EQ(lib.WriteLBA(h, CSD_SECTORONLY, sector, 0), 0);
  EXPECT_EQ(lib.WriteFlush(h, 1), 0);
  EXPECT_EQ(lib.WriteEnd(h, 1), 0);
  EXPECT_EQ(lib.GetLastWroteLBA(h), 0);
  EXPECT_EQ(lib.GetMediaType(h), 0);
  EXPECT_EQ(lib.GetMediaFamilyType(h), 0);
  EXPECT_EQ(lib.IsDiscEmpty(h), 0);
  EXPECT_EQ(lib.Erase(h, 1), 0);
  EXPECT_EQ(lib.GetSCSIErrorStatus(h), 0xFFFFFF);
  EXPECT_EQ(lib.SetWriteCacheBufferSize(h, 4096), 0);
  EXPECT_EQ(lib.GetUsedWriteCacheBufferSize(h), 0);
  lib.Terminate(h);
  EXPECT_STREQ(text, "x");
  EXPECT_EQ(sector[0], 0x5A);
  EXPECT_EQ(sector[1], 0);
}

TEST_F(TrelinTest, HandlesThatNameNoEngineAreRefused) {
  ExpectRefusedEverywhere(lib_, 0);
  int not_an_engine[64] = {};
  ExpectRefusedEverywhere(lib_, reinterpret_cast<intptr_t>(not_an_engine));
  ExpectRefusedEverywhere(lib_, static_cast<intptr_t>(0x5EEDF00D));
  ExpectRefusedEverywhere(lib_, engine_ + 16);
  // Terminated twice: the second and every later call touch nothing.
  const intptr_t gone = lib_.Initialize();
  ASSERT_NE(gone, 0);
  lib_.Terminate(gone);
  ExpectRefusedEverywhere(lib_, gone);
  // The live engine is untouched by all of that.
  EXPECT_EQ(lib_.SetWriteCacheBufferSize(engine_, 2456), 2456);
  EXPECT_EQ(lib_.GetSCSIErrorStatus(engine_), 0xFFFFFF);
}


// Writes and reads back a 300-sector DVD-R image through the exports.
void DvdRoundTrip(Trelin& lib, intptr_t engine) {
  ASSERT_EQ(lib.GetMediaFamilyType(engine), 2);
  TocStructure toc;
  toc.MakeSingleTrackToc(SMC_MODE1, 300);
  SetToc(lib, engine, toc);
  ASSERT_EQ(lib.WriteStart(engine, CCC_SAO, 0), CBR_OK);
  for (int32_t lba = 0; lba < 300; ++lba) {
    uint8_t sector[2048];
    std::memset(sector, lba & 0xFF, sizeof sector);
    sector[0] = static_cast<uint8_t>(lba >> 8);
    ASSERT_EQ(lib.WriteLBA(engine, CSD_SECTORONLY, sector, lba), 1) << lba;
  }
  ASSERT_EQ(lib.WriteEnd(engine, 0), 1);
  ASSERT_EQ(lib.ReadStart(engine, CCC_DATA, 0), CBR_OK);
  for (int32_t lba = 0; lba < 300; ++lba) {
    uint8_t sector[2048];
    ASSERT_EQ(lib.ReadLBA(engine, sector, lba), 1) << lba;
    ASSERT_EQ(sector[0], static_cast<uint8_t>(lba >> 8)) << lba;
    ASSERT_EQ(sector[2047], static_cast<uint8_t>(lba & 0xFF)) << lba;
  }
  EXPECT_EQ(lib.ReadEnd(engine), 1);
  EXPECT_EQ(lib.Close(engine), 1);
}

TEST_F(TrelinTest, OpenExOfThisMachineUsesTheDriveMap) {
  ScopedDrives drives("H:=emu:" + (dir_ / "dvd.state").string() + ",medium=dvd-r");
  EXPECT_EQ(lib_.OpenEx(engine_, nullptr), 0);
  EXPECT_EQ(lib_.OpenEx(engine_, "not a drive name"), 0);
  EXPECT_EQ(lib_.OpenEx(engine_, "\\\\.\\Q:"), 0);  // not in the map
  ASSERT_EQ(lib_.OpenEx(engine_, "\\\\.\\H:"), 1);
  DvdRoundTrip(lib_, engine_);
}

TEST_F(TrelinTest, RemoteDriveThroughALoopbackServer) {
  // The server runs in this process on the drive map; the library reaches
  // it over TCP on 127.0.0.1 only.
  ScopedDrives drives("E:=emu:" + (dir_ / "remote.state").string() + ",medium=dvd-r");
  RemoteScsiServer server;
  ASSERT_TRUE(server.Start(0));
  const uint16_t port = server.server().port();
  const std::string name = "\\\\127.0.0.1:" + std::to_string(port) + "\\E:";
  ASSERT_EQ(lib_.OpenEx(engine_, name.c_str()), 1);
  DvdRoundTrip(lib_, engine_);

  // Discovery on loopback: the server answers; a text that does not fit is
  // cut and left unterminated, the result is its length + 1 either way.
  char hosts[64];
  std::memset(hosts, 'x', sizeof hosts);
  ASSERT_EQ(lib_.GetRemoteHosts(engine_, "127.0.0.1", port, hosts, sizeof hosts, 400), 10);
  EXPECT_EQ(std::string(hosts), "127.0.0.1");
  std::memset(hosts, 'x', sizeof hosts);
  EXPECT_EQ(lib_.GetRemoteHosts(engine_, "127.0.0.1", port, hosts, 4, 400), 10);
  EXPECT_EQ(std::string(hosts, 5), "127.x");
  server.Stop();
}

// A remote server that keeps every drive command waiting for `hold_ms`, then
// answers it as done, data-in bytes as an optical drive's INQUIRY begins.
class SlowServer : public QRNTPServerEvents {
 public:
  std::atomic<int> hold_ms{0};

  std::unique_ptr<QRNTPRequestHandler> CreateHandler() override { return std::make_unique<Handler>(this); }
  void OnLog(const QRNTPLogEntry&) override {}

 private:
  class Handler : public QRNTPRequestHandler {
   public:
    explicit Handler(SlowServer* server) : server_(server) {}
    bool HandleRawRequest(const std::string& function, uint32_t, const std::vector<uint8_t>& input,
                          std::vector<uint8_t>* output, bool*) override {
      if (function == "ExecCommand" && input.size() >= kExecCommandRequestSize) {
        std::this_thread::sleep_for(std::chrono::milliseconds(server_->hold_ms.load()));
        ExecCommandReply reply;
        reply.result = 0;
        reply.data_length = std::max(ExecCommandRequest::Decode(input.data()).data_in_length, 0);
        output->assign(kExecCommandReplySize, 0);
        reply.Encode(output->data());
        output->resize(kExecCommandReplySize + static_cast<size_t>(reply.data_length), 0);
        if (reply.data_length > 0) (*output)[kExecCommandReplySize] = 5;  // an optical drive
      } else {
        output->assign(4, 0);
        (*output)[0] = 1;
      }
      return true;
    }

   private:
    SlowServer* server_;
  };
};

// While a remote command waits, the wait callback is asked about every
// 100 ms; the engine refuses every export made from inside it (the command is
// still open), and a non-zero answer gives the command up (after a short
// grace for its answer): the drive then
// reads as gone, and the next ready check opens it again.
TEST_F(TrelinTest, WaitCallbackIsAskedWhileARemoteCommandWaitsAndMayGiveItUp) {
  SlowServer events;
  QRNTPServer server(std::string(kRemoteScsiSubsystem), &events);
  ASSERT_TRUE(server.Start(0));
  const std::string name = "\\\\127.0.0.1:" + std::to_string(server.port()) + "\\E:";
  ASSERT_EQ(lib_.OpenEx(engine_, name.c_str()), 1);
  struct Asked {
    Trelin* lib;
    intptr_t engine;
    int count = 0;
    int nested = -1;  // what an export made from inside the callback answered
  } asked{&lib_, engine_};
  auto ask = [](void* context) -> int32_t {
    auto* a = static_cast<Asked*>(context);
    if (++a->count == 1) a->nested = a->lib->SetWaitCallback(a->engine, nullptr, nullptr);
    return a->count >= 3 ? 1 : 0;
  };
  ASSERT_EQ(lib_.SetWaitCallback(engine_, ask, &asked), 1);
  events.hold_ms = 3000;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lib_.IsReady(engine_), 0);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(asked.count, 3);
  EXPECT_EQ(asked.nested, 0);
  EXPECT_GE(took, std::chrono::milliseconds(250));
  EXPECT_LT(took, std::chrono::milliseconds(1500 + RemoteScsiClient::kGiveUpGraceMs));
  EXPECT_EQ(lib_.GetSCSIErrorStatus(engine_), 0xFFFFFF);
  EXPECT_EQ(lib_.ReadEnd(engine_), 0);
  EXPECT_EQ(asked.count, 3);  // a link that is gone waits for nothing

  // The next ready check opens the drive again without OpenEx; a command that
  // takes its time is waited for while the callback answers 0.
  asked.count = -100;
  events.hold_ms = 400;
  EXPECT_EQ(lib_.IsReady(engine_), 1);
  EXPECT_GE(asked.count, -97);
  EXPECT_EQ(lib_.SetWaitCallback(engine_, nullptr, nullptr), 1);
  lib_.Close(engine_);
  server.Stop();
}

// SetWaitCallback returns only when the callback set before has returned:
// here one asked on another thread (as on the write cache's worker), which
// holds on until SetWaitCallback has returned or a second has passed.
TEST_F(TrelinTest, SetWaitCallbackReturnsWhenTheEarlierCallbackHasEnded) {
  SlowServer events;
  QRNTPServer server(std::string(kRemoteScsiSubsystem), &events);
  ASSERT_TRUE(server.Start(0));
  const std::string name = "\\\\127.0.0.1:" + std::to_string(server.port()) + "\\E:";
  ASSERT_EQ(lib_.OpenEx(engine_, name.c_str()), 1);
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool running = false;       // the first callback has been asked
    bool set_returned = false;  // SetWaitCallback has returned
    bool overtaken = false;     // it returned while the first callback ran
  } shared;
  auto first = [](void* context) -> int32_t {
    auto* s = static_cast<Shared*>(context);
    std::unique_lock lock(s->mutex);
    s->running = true;
    s->changed.notify_all();
    s->changed.wait_for(lock, std::chrono::seconds(1), [s] { return s->set_returned; });
    s->overtaken = s->set_returned;
    return 1;  // give the command up
  };
  ASSERT_EQ(lib_.SetWaitCallback(engine_, first, &shared), 1);
  events.hold_ms = 3000;
  std::thread command([&] { lib_.IsReady(engine_); });
  {
    std::unique_lock lock(shared.mutex);
    ASSERT_TRUE(shared.changed.wait_for(lock, std::chrono::seconds(30), [&] { return shared.running; }));
  }
  EXPECT_EQ(lib_.SetWaitCallback(engine_, nullptr, nullptr), 1);
  {
    std::lock_guard lock(shared.mutex);
    shared.set_returned = true;
  }
  shared.changed.notify_all();
  command.join();
  EXPECT_FALSE(shared.overtaken);
  lib_.Close(engine_);
  server.Stop();
}

TEST_F(TrelinTest, DiscoveryWithoutAnswersGivesAnEmptyList) {
  // A port of 127.0.0.1 where nothing listens (a closed server's).
  RemoteScsiServer server;
  ASSERT_TRUE(server.Start(0));
  const uint16_t port = server.server().port();
  server.Stop();
  char hosts[16];
  std::memset(hosts, 'x', sizeof hosts);
  EXPECT_EQ(lib_.GetRemoteHosts(engine_, "127.0.0.1", port, hosts, sizeof hosts, 100), 1);
  EXPECT_EQ(hosts[0], '\0');
  EXPECT_EQ(lib_.GetRemoteHosts(engine_, "127.0.0.1", port, nullptr, 0, 50), 1);
  // A remote name whose host does not answer opens nothing.
  const std::string name = "\\\\127.0.0.1:" + std::to_string(port) + "\\E:";
  EXPECT_EQ(lib_.OpenEx(engine_, name.c_str()), 0);
  EXPECT_EQ(lib_.GetSCSIErrorStatus(engine_), 0xFFFFFF);
}

}  // namespace
}  // namespace sorvel::write_test
