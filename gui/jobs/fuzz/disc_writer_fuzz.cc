// Fuzz target: the write-image job over an arbitrary descriptor, written
// with the real device engine to an emulated blank CD-R. The descriptor
// (CUE, CCD, TSN, or an ISO's own bytes) comes from the input, with an image
// beside it whose length, ".sub" and ".pre" the input chooses; the sectors
// carry a sync pattern and the BCD address of their place. Whatever the
// files say, the job ends, reads and writes inside its buffers, and a write
// it calls a success leaves a closed disc.
//
// Input: byte 0 the kind (0 CUE, 1 CCD, 2 TSN, 3 ISO); byte 1 flags (bit 0
// a ".sub", bit 1 a ".pre", bit 2 raw writing, bits 3-4 the image cut short
// by one byte, longer by 100 bytes, or half as long); byte 2 the image's
// sectors (0 to 63); the rest the descriptor (the ISO image itself).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "gui/jobs/disc_writer.h"
#include "gui/model/device_setting.h"
#include "gui/model/fuzz/gui_fuzz_rig.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/trelin.h"
#include "platform/emulated_drive/emulated_drive_registry.h"
#include "platform/emulated_drive/soft_mmc_drive.h"

namespace {

using namespace sorvel;

using fuzz::Check;

std::string StatePath() { return fuzz::ScratchFolder() + "/drive"; }

Trelin& Drive() {
  static Trelin* drive = [] {
    setenv("SORVEL_DRIVES", ("D:=emu:" + StatePath() + ",medium=cd-r").c_str(), 1);
    auto* made = new Trelin;
    if (!made->OpenDevice(3)) std::abort();
    return made;
  }();
  return *drive;
}

uint8_t Bcd(int value) { return static_cast<uint8_t>((value / 10) << 4 | (value % 10)); }

// Raw sectors with the sync pattern and the BCD address of LBA 0, 1, ...
std::string RawImage(int sectors) {
  std::string image;
  for (int lba = 0; lba < sectors; ++lba) {
    std::string sector(2352, static_cast<char>(lba));
    sector[0] = sector[11] = 0;
    for (int i = 1; i <= 10; ++i) sector[i] = static_cast<char>(0xFF);
    const int frames = lba + 150;
    sector[12] = static_cast<char>(Bcd(frames / 4500));
    sector[13] = static_cast<char>(Bcd(frames / 75 % 60));
    sector[14] = static_cast<char>(Bcd(frames % 75));
    sector[15] = 1;
    image += sector;
  }
  return image;
}

void SetWriteCommand(int32_t command) {
  DeviceSetting setting;
  setting.LoadSetting(Drive());
  setting.CDWriteCommand = command;
  setting.WriteCacheBufferRate = 1;
  setting.ForceEject = false;
  setting.SaveSetting();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The engine reports every step on standard output.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
  fuzz::StartOffscreenApplication();
  Drive();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int kind = data[0] % 4;
  const uint8_t flags = data[1];
  const int sectors = data[2] % 64;
  const std::string text(reinterpret_cast<const char*>(data + 3), size - 3);
  const std::string folder = fuzz::ScratchFolder();
  static const char* const kNames[] = {"/disc.cue", "/disc.ccd", "/disc.tsn", "/disc.iso"};
  const std::string descriptor = folder + kNames[kind];

  std::string image = kind == 3 ? text : RawImage(sectors);
  switch ((flags >> 3) & 3) {
    case 1: if (!image.empty()) image.pop_back(); break;
    case 2: image.append(100, '\x5A'); break;
    case 3: image.resize(image.size() / 2); break;
    default: break;
  }
  std::remove((folder + "/disc.sub").c_str());
  std::remove((folder + "/disc.pre").c_str());
  if (kind == 3) {
    fuzz::WriteFile(descriptor, image);
  } else {
    fuzz::WriteFile(descriptor, text);
    fuzz::WriteFile(folder + "/disc.img", image);
    if ((flags & 1) != 0) fuzz::WriteFile(folder + "/disc.sub", std::string(sectors * 96, '\0'));
    if ((flags & 2) != 0) fuzz::WriteFile(folder + "/disc.pre", RawImage(150));
  }

  // A blank disc for every input.
  platform::emu::SoftMmcDrive* emulated = platform::emu::FindOpenDrive(StatePath());
  std::string error;
  if (emulated == nullptr || !emulated->InsertDisc("cd-r", "", &error)) std::abort();
  SetWriteCommand((flags & 4) != 0 ? CCC_SAO_RAW : CCC_SAO);

  DiscWriter writer;
  const bool written = writer.StartWriteCompatible(Drive(), QString::fromStdString(descriptor), nullptr);
  if (written) Check(emulated->media().status != platform::emu::DiscStatus::kBlank);
  return 0;
}
