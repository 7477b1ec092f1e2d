// libFuzzer target: the engine's reading of every drive answer. A fake drive
// answers each command from the input (status, sense, data-in bytes) while
// the input steers a sequence of engine operations over it: media queries,
// TOC and track reads, sector reads, mode pages, speeds, and whole read and
// write passes. Caller buffers are exactly as large as the interface says,
// so any answer the engine trusts too far shows under AddressSanitizer.
// Time runs on a manual clock, so the engine's waits cost nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "device_engine/disc_drive.h"
#include "native_common/spti_pass_through.h"
#include "testing/manual_clock.h"

namespace {

using namespace sorvel;

constexpr uint8_t kInquiry = 0x12;

class FuzzedDevice : public platform::ScsiDevice {
 public:
  explicit FuzzedDevice(FuzzedDataProvider* input) : input_(input) {}
  platform::ScsiResult Execute(const platform::ScsiRequest& request) override {
    platform::ScsiResult result;
    auto* data = static_cast<uint8_t*>(request.data);
    // Out of input: every command fails, so every loop of the engine ends.
    if (input_->remaining_bytes() == 0) {
      result.transferred = true;
      result.status = 2;
      result.sense[0] = 0x70;
      result.sense[2] = 5;
      result.sense[12] = 0x24;
      result.sense_length = 18;
      return result;
    }
    const uint8_t kind = input_->ConsumeIntegral<uint8_t>();
    result.transferred = kind < 250;
    if (kind >= 200 && kind < 250) {
      result.status = 2;
      const size_t n = input_->ConsumeIntegralInRange<size_t>(0, sizeof result.sense);
      const std::vector<uint8_t> sense = input_->ConsumeBytes<uint8_t>(n);
      if (!sense.empty()) std::memcpy(result.sense, sense.data(), sense.size());
      result.sense_length = sense.size();
    } else if (kind >= 190 && kind < 200) {
      result.status = kind;  // an odd status byte
    }
    if (!request.write && data != nullptr && request.data_length > 0) {
      const size_t n = input_->ConsumeIntegralInRange<size_t>(0, request.data_length);
      const std::vector<uint8_t> bytes = input_->ConsumeBytes<uint8_t>(n);
      if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
      // The device type of a CD/DVD drive, so that Open goes on.
      if (request.cdb[0] == kInquiry) data[0] = 0x05;
    }
    return result;
  }

 private:
  FuzzedDataProvider* input_;
};

TocStructure SmallToc(FuzzedDataProvider& input) {
  TocStructure toc;
  toc.MakeSingleTrackToc(input.ConsumeIntegralInRange<uint8_t>(SMC_AUDIO, SMC_MODE2),
                         input.ConsumeIntegralInRange<int32_t>(1, 40));
  return toc;
}

void ReadPass(DiscDrive& drive, FuzzedDataProvider& input) {
  TocStructure toc;
  const int32_t command = input.ConsumeIntegralInRange<int32_t>(CCC_DATA, CCC_RAW96);
  const int32_t flags = input.ConsumeIntegral<int32_t>() & (CDD_FIRSTPREGAP | CDD_NOPREGAP | CDD_FIRSTSESSIONONLY |
                                                            CDD_COLLECTSUBPQ);
  if (drive.ReadStart(command, flags, &toc) != CBR_OK) return;
  const size_t size = DiscDrive::ReadSectorSize(drive.GetMediaFamilyType(), command);
  std::vector<uint8_t> sector(size == 0 ? 1 : size);
  for (int i = 0; i < 8 && input.remaining_bytes() > 0; ++i) {
    const int32_t lba = drive.GetFirstLBA() + input.ConsumeIntegralInRange<int32_t>(0, 60);
    if (size > 0) {
      drive.ReadLBA(sector.data(), lba);
      drive.ReadLBADummy(sector.data(), lba);
    }
  }
  TocStructure copy;
  drive.CopySessionToc(&copy);
  drive.ReadEnd();
}

void WritePass(DiscDrive& drive, FuzzedDataProvider& input) {
  const int32_t mode = input.ConsumeIntegralInRange<int32_t>(CCC_SAO, CCC_DAO_RAW96);
  const int32_t flags = input.ConsumeBool() ? CDD_OPCOFF : 0;
  if (drive.WriteStart(mode, flags, SmallToc(input)) != CBR_OK) return;
  std::vector<uint8_t> data(2448, 0x5A);
  const int32_t last = drive.GetLastLBA();
  for (int32_t lba = 0; lba <= last && lba < 48 && input.remaining_bytes() > 0; ++lba) {
    static constexpr int32_t kTypes[] = {CSD_SECTORONLY, CSD_MAINCHANNEL, CSD_MAINSUBCHANNEL, CSD_GENERATED,
                                         CSD_ERRORDATA};
    const int32_t type = kTypes[input.ConsumeIntegralInRange<size_t>(0, 4)];
    const int32_t size = DiscDrive::WriteDataSize(drive.GetMediaFamilyType(), type);
    // The caller's buffer is exactly what the data type needs.
    std::vector<uint8_t> exact(data.begin(), data.begin() + (size > 0 ? size : 0));
    drive.WriteLBA(type, size > 0 ? exact.data() : nullptr, lba);
  }
  drive.WriteEnd(input.ConsumeBool());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The engine reports every step on standard output.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider input(bytes, size);
  testing::ScopedManualClock clock;
  SptiPassThrough pass([&input](char, std::string*) -> std::unique_ptr<platform::ScsiDevice> {
    return std::make_unique<FuzzedDevice>(&input);
  });
  DiscDrive drive;
  drive.SetPassThrough(&pass);
  if (!drive.Open("E:")) {
    drive.SetPassThrough(nullptr);
    return 0;
  }
  for (int step = 0; step < 48 && input.remaining_bytes() > 0; ++step) {
    switch (input.ConsumeIntegralInRange<int>(0, 22)) {
      case 0: drive.GetMediaType(); drive.GetMediaFamilyType(); break;
      case 1: drive.IsDiscEmpty(); break;
      case 2: { bool formatted = false; drive.ReadFormatCapacities(&formatted); break; }
      case 3: drive.FormatUnit(input.ConsumeBool() ? 0x26 : 0x30); break;
      case 4: drive.IsSupportMedia(input.ConsumeIntegral<uint16_t>()); break;
      case 5: drive.ReadCapacity(); break;
      case 6: drive.GetLeadInStart(); drive.GetLastLeadOut(); break;
      case 7: drive.GetWritableSize(); break;
      case 8: {
        TocStructure toc;
        drive.ReadRawToc(&toc, input.ConsumeBool(), input.ConsumeBool(), input.ConsumeBool());
        break;
      }
      case 9: { TocStructure toc; drive.ReadToc(&toc); break; }
      case 10: {
        const int32_t length = input.ConsumeIntegralInRange<int32_t>(1, 64);
        std::vector<uint8_t> buffer(static_cast<size_t>(length));
        drive.ReadTrackInformation(buffer.data(), input.ConsumeIntegral<uint8_t>(), length);
        break;
      }
      case 11: {
        const int32_t type = input.ConsumeIntegralInRange<int32_t>(kReadMain, kReadMainPW);
        const int32_t count = input.ConsumeIntegralInRange<int32_t>(1, 3);
        std::vector<uint8_t> buffer(static_cast<size_t>(count) * (type == kReadMain ? 2352 : 2448));
        drive.ReadCd(buffer.data(), input.ConsumeIntegral<int16_t>(), count, type);
        break;
      }
      case 12: {
        const int32_t count = input.ConsumeIntegralInRange<int32_t>(1, 3);
        std::vector<uint8_t> buffer(static_cast<size_t>(count) * 2048);
        drive.Read10(buffer.data(), input.ConsumeIntegral<int16_t>(), count);
        break;
      }
      case 13: {
        const int32_t length = input.ConsumeIntegralInRange<int32_t>(1, 9000);
        std::vector<uint8_t> buffer(static_cast<size_t>(length));
        drive.ReadCdText(buffer.data(), length);
        break;
      }
      case 14: {
        const int32_t room = input.ConsumeIntegralInRange<int32_t>(1, 16);
        std::vector<WriteSpeedEntry> entries(static_cast<size_t>(room));
        drive.GetWriteSpeed(entries.data(), room);
        break;
      }
      case 15:
        drive.SetWriteParameters(input.ConsumeIntegralInRange<int32_t>(0, 4), input.ConsumeBool(), input.ConsumeBool(),
                                 input.ConsumeIntegralInRange<int32_t>(0, 4));
        break;
      case 16:
        drive.SetECCMode(input.ConsumeBool(), input.ConsumeIntegralInRange<int32_t>(0, 255));
        drive.SetReadSpeed(input.ConsumeIntegral<uint16_t>(), input.ConsumeBool());
        drive.SetWriteSpeed(input.ConsumeIntegral<uint16_t>(), input.ConsumeBool());
        break;
      case 17:
        drive.IsReadSupport(input.ConsumeIntegral<uint8_t>());
        drive.IsWriteSupport(input.ConsumeIntegral<uint8_t>());
        break;
      case 18: ReadPass(drive, input); break;
      case 19: WritePass(drive, input); break;
      case 20: drive.GetSCSIErrorStatus(); drive.ResetSense(); drive.ClearSense(); break;
      case 21: {
        const int32_t length = input.ConsumeIntegralInRange<int32_t>(1, 255);
        std::vector<uint8_t> buffer(static_cast<size_t>(length));
        drive.Inquiry(buffer.data(), length);
        break;
      }
      default: drive.LoadTray(input.ConsumeBool()); drive.IsReady(); drive.Erase(true); break;
    }
  }
  drive.SetPassThrough(nullptr);
  return 0;
}
