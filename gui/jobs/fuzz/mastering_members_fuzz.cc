// Fuzz target: the members the automation class offers on the session bus,
// called in any order with any arguments, as a client could. Names of host
// files stay inside the fixture folder (a WAV, a file, a folder tree, a FIFO,
// wildcards); drive names are anything, D: being an emulated drive with a
// blank CD-R, a pressed DVD or no disc.
// Errors arrive as MasteringError, as the service turns them into D-Bus
// errors; nothing else may escape, and the layout stays within its limits.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "gui/jobs/mastering.h"
#include "gui/model/device_setting.h"
#include "gui/model/fuzz/gui_fuzz_rig.h"
#include "gui/model/trelin.h"
#include "platform/emulated_drive/emulated_drive_registry.h"
#include "platform/emulated_drive/soft_mmc_drive.h"

namespace {

using namespace sorvel;

constexpr char kFixtures[] = "/tmp/sorvel-fuzz-fixtures";

std::string StatePath() { return fuzz::ScratchFolder() + "/drive"; }

using fuzz::Check;

int32_t AnyInt(FuzzedDataProvider& input) { return fuzz::AnyInt(input, -2, 110); }

QString AnyText(FuzzedDataProvider& input) {
  return QString::fromUtf8(QByteArray::fromStdString(input.ConsumeRandomLengthString(300)));
}

// A host name inside the fixture folder: a fixture, a wildcard, or the
// input's own text without "/" or "..", so that no walk leaves the folder.
QString HostName(FuzzedDataProvider& input) {
  static const char* const kNames[] = {"a.wav", "b.wav", "short.wav", "c.mp3", "pipe.wav", "data",
                                       "data/readme.txt", "data/sub", "*.wav", "data/*", "missing.wav", "*"};
  std::string name;
  if (input.ConsumeBool()) {
    name = kNames[input.ConsumeIntegralInRange<size_t>(0, std::size(kNames) - 1)];
  } else {
    for (char c : input.ConsumeRandomLengthString(40)) name += c == '/' ? '_' : c;
    while (name.find("..") != std::string::npos) name.replace(name.find(".."), 2, "_");
  }
  return QString::fromUtf8(QByteArray::fromStdString(std::string(kFixtures) + "/" + name));
}

QString DriveName(FuzzedDataProvider& input) {
  static const char* const kDrives[] = {"D", "d:", "D:\\", "E:", "", "1", "\xEF\xBC\xA4"};
  if (input.ConsumeBool()) return QString::fromUtf8(kDrives[input.ConsumeIntegralInRange<size_t>(0, 6)]);
  return AnyText(input);
}

void MakeFixtures() {
  const std::string folder = kFixtures;
  fuzz::WriteFixture(folder, "a.wav", fuzz::WaveBytes(2));
  fuzz::WriteFixture(folder, "b.wav", fuzz::WaveBytes(1));
  fuzz::WriteFixture(folder, "short.wav", fuzz::WaveBytes(1).substr(0, 60));
  fuzz::WriteFixture(folder, "c.mp3", std::string(600, '\xFF'));
  fuzz::WriteFixture(folder + "/data", "readme.txt", "hello");
  fuzz::WriteFixture(folder + "/data/sub", "x.bin", std::string(5000, 'x'));
  fuzz::WriteFixture(folder, "pressed.iso", std::string(20 * 2048, '\0'));
  ::mkfifo((folder + "/pipe.wav").c_str(), 0600);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The engines report every step on standard output.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
  fuzz::StartOffscreenApplication();
  MakeFixtures();
  setenv("SORVEL_DRIVES", ("D:=emu:" + StatePath() + ",medium=cd-r").c_str(), 1);
  // The drive's settings: a small write cache, the tray left alone.
  Trelin drive;
  if (!drive.OpenDevice(3)) std::abort();
  DeviceSetting setting;
  setting.LoadSetting(drive);
  setting.WriteCacheBufferRate = 1;
  setting.ForceEject = false;
  setting.SaveSetting();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  // The disc in D: (the drive is open only during calls): a blank CD-R for
  // one input in sixteen (a burn takes seconds), else no disc or a pressed
  // DVD, on which a burn is refused at once.
  {
    std::string error;
    platform::emu::DriveSettings settings;
    settings.state_path = StatePath();
    settings.medium = "cd-r";
    auto device = platform::emu::SoftMmcDrive::Open(settings, &error);
    if (device == nullptr) std::abort();
    switch (input.ConsumeIntegralInRange<int>(0, 15)) {
      case 0: device->InsertDisc("cd-r", "", &error); break;
      case 1: device->RemoveDisc(); break;
      default: device->InsertDisc("dvd-rom", std::string(kFixtures) + "/pressed.iso", &error); break;
    }
  }
  Mastering mastering;
  for (int step = 0; step < 24 && input.remaining_bytes() > 0; ++step) {
    try {
      switch (input.ConsumeIntegralInRange<int>(0, 14)) {
        case 0: mastering.SetVolumeLabel(AnyText(input)); break;
        case 1: mastering.VolumeLabel(); break;
        case 2: mastering.InitISOFS(AnyInt(input)); break;
        case 3: mastering.ClearISO(); break;
        case 4: mastering.IsISOEmpty(); break;
        case 5: {
          const QString name = HostName(input);
          mastering.AddFile(name, AnyText(input));
          break;
        }
        case 6: mastering.ClearTrack(); break;
        case 7: {
          const QString name = HostName(input);
          const int32_t pregap = AnyInt(input), postgap = AnyInt(input), flags = AnyInt(input);
          mastering.AddTrack(name, pregap, postgap, flags);
          break;
        }
        case 8: mastering.RemoveTrack(AnyInt(input)); break;
        case 9: Check(mastering.GetTrackCount() >= 0 && mastering.GetTrackCount() <= 99); break;
        case 10: {
          const int32_t window = AnyInt(input);
          const QString title = AnyText(input);
          mastering.ShowBurnDialog(window, title, DriveName(input));
          break;
        }
        case 11: {
          const QString drive = DriveName(input);
          mastering.StartBurn(drive, input.ConsumeBool());
          break;
        }
        case 12: mastering.StopBurn(); break;
        case 13: mastering.IsReady(DriveName(input)); break;
        default: mastering.IsDiscWritable(DriveName(input)); break;
      }
    } catch (const MasteringError& error) {
      Check(error.Number() >= kMasteringDirectoryError && error.Number() <= kMasteringBurnError);
    }
  }
  return 0;
}
