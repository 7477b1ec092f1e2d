// Fuzz target: the device engine's binding called in any order with any
// arguments, as an automation client could call it: integers anywhere in
// their range, buffers of any length, TOCs of any content, drive names of
// any text (never one of another host: nothing leaves this process). D: is an
// emulated CD-RW, E: an emulated pressed CD; other letters are unmapped.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "gui/model/fuzz/gui_fuzz_rig.h"
#include "gui/model/trelin.h"

namespace {

using namespace sorvel;

int32_t AnyInt(FuzzedDataProvider& input) { return fuzz::AnyInt(input, -200, 3000); }

QByteArray AnyBytes(FuzzedDataProvider& input) {
  const size_t length = input.ConsumeBool() ? Trelin::kSectorBufferSize : input.ConsumeIntegralInRange<size_t>(0, 3000);
  QByteArray bytes(static_cast<qsizetype>(length), '\0');
  const std::string given = input.ConsumeBytesAsString(std::min<size_t>(length, 64));
  std::copy(given.begin(), given.end(), bytes.begin());
  return bytes;
}

// A device name without a host of its own: "\\.\X:", or the input's text
// with every "\" taken out.
QString DeviceName(FuzzedDataProvider& input) {
  if (input.ConsumeBool()) return QStringLiteral("\\\\.\\%1:").arg(QChar(u'A' + input.ConsumeIntegralInRange<int>(0, 27)));
  std::string text = input.ConsumeRandomLengthString(40);
  std::erase(text, '\\');
  return QString::fromUtf8(QByteArray::fromStdString(text));
}

void FillToc(FuzzedDataProvider& input, TOCInformation& toc) {
  const int tracks = input.ConsumeIntegralInRange<int>(0, 4);
  for (int i = 0; i < tracks; ++i) {
    uint8_t numbers[3];
    for (uint8_t& v : numbers) v = input.ConsumeIntegral<uint8_t>();
    int32_t values[4];
    for (int32_t& v : values) v = AnyInt(input);
    toc.TOCAdd(numbers[0], numbers[1], numbers[2], values[0], values[1], values[2], values[3]);
  }
  const int raw = input.ConsumeIntegralInRange<int>(0, 4);
  for (int i = 0; i < raw; ++i) {
    uint8_t b[11];
    for (uint8_t& v : b) v = input.ConsumeIntegral<uint8_t>();
    toc.RawTOCAdd(b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10]);
  }
  if (input.ConsumeBool()) toc.MCN(QString::fromStdString(input.ConsumeRandomLengthString(16)));
  if (input.ConsumeBool()) toc.ISRCAdd(QString::fromStdString(input.ConsumeRandomLengthString(16)));
  if (input.ConsumeBool()) {
    const std::string data = input.ConsumeBytesAsString(14);
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    toc.CDTextAdd(0x80, 0, 0, 0, std::span<const uint8_t>(bytes, std::min<size_t>(data.size(), 12)),
                  std::span<const uint8_t>(bytes + std::min<size_t>(data.size(), 12), data.size() - std::min<size_t>(data.size(), 12)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The engine reports every step on standard output.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
  fuzz::StartOffscreenApplication();
  const std::string folder = fuzz::ScratchFolder();
  std::string sectors;
  for (int i = 0; i < 300 * 2352; ++i) sectors.push_back(static_cast<char>(i * 7));
  fuzz::WriteFile(folder + "/pressed.bin", sectors);
  fuzz::WriteFile(folder + "/pressed.cue",
                  "FILE \"pressed.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
                  " TRACK 02 AUDIO\n  INDEX 00 00:02:00\n  INDEX 01 00:02:10\n");
  setenv("SORVEL_DRIVES",
         ("D:=emu:" + folder + "/rw,medium=cd-rw;E:=emu:" + folder + "/rom,image=" + folder + "/pressed.cue").c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  Trelin drive;
  for (int step = 0; step < 40 && input.remaining_bytes() > 0; ++step) {
    switch (input.ConsumeIntegralInRange<int>(0, 33)) {
      case 0: drive.OpenDevice(input.ConsumeBool() ? input.ConsumeIntegralInRange<int32_t>(3, 5) : AnyInt(input)); break;
      case 1: drive.OpenDeviceEx(DeviceName(input)); break;
      case 2: drive.CloseDevice(); break;
      case 3: drive.GetDeviceName(AnyInt(input)); break;
      case 4: drive.ClearTOCStructure(); break;
      case 5: drive.GetTOCStructure(); break;
      case 6: {
        TOCInformation toc;
        FillToc(input, toc);
        drive.SetTOCStructure(toc);
        break;
      }
      case 7: drive.GetFirstLBA(); drive.GetLastLBA(); drive.GetLastWroteLBA(); break;
      case 8: drive.SetBufferingBlockLength(AnyInt(input)); break;
      case 9: {
        const int32_t command = AnyInt(input);
        drive.ReadStart(command, AnyInt(input));
        break;
      }
      case 10: {
        QByteArray buffer = AnyBytes(input);
        drive.ReadLBA(buffer, AnyInt(input));
        drive.ReadLBADummy(buffer, AnyInt(input));
        break;
      }
      case 11: drive.ReadEnd(); break;
      case 12: {
        const int32_t command = AnyInt(input);
        drive.WriteStart(command, AnyInt(input));
        break;
      }
      case 13: {
        const int32_t type = AnyInt(input);
        const QByteArray buffer = AnyBytes(input);
        drive.WriteLBA(type, buffer, AnyInt(input));
        break;
      }
      case 14: drive.WriteFlush(input.ConsumeBool()); drive.WriteEnd(input.ConsumeBool()); break;
      case 15: drive.LoadTray(input.ConsumeBool()); break;
      case 16: drive.IsReady(); drive.GetMediaType(); drive.GetMediaFamilyType(); break;
      case 17: drive.LockUnlock(input.ConsumeBool()); break;
      case 18: drive.EraseMedia(input.ConsumeBool()); break;
      case 19: drive.IsSupportMedia(AnyInt(input)); drive.IsReadSupport(AnyInt(input)); break;
      case 20: drive.IsWriteSupport(AnyInt(input)); drive.IsDiscEmpty(); break;
      case 21: {
        const bool enabled = input.ConsumeBool();
        drive.SetECCMode(enabled, AnyInt(input));
        break;
      }
      case 22: {
        const int32_t speed = AnyInt(input);
        drive.SetReadSpeed(speed, input.ConsumeBool());
        break;
      }
      case 23: {
        const int32_t speed = AnyInt(input);
        drive.SetWriteSpeed(speed, input.ConsumeBool());
        break;
      }
      case 24: drive.GetReadSpeed(); drive.GetWriteSpeed(); break;
      case 25: {
        const int32_t command = AnyInt(input);
        const bool test = input.ConsumeBool();
        drive.CheckWriteMode(command, test, AnyInt(input));
        break;
      }
      case 26: drive.GetSCSIErrorStatus(); drive.GetSCSIErrorDescription(); drive.ResetSense(); break;
      case 27: drive.SetWriteCacheBufferSize(input.ConsumeIntegralInRange<int32_t>(INT_MIN, 1 << 24)); break;
      case 28: drive.GetUsedWriteCacheBufferSize(); drive.GetDefaultCDWriteCommand(); drive.IsMediaWritable(); break;
      case 29: Trelin::GetMediaTypeName(AnyInt(input)); break;
      case 30: {
        const int32_t part = AnyInt(input);
        QByteArray buffer = AnyBytes(input);
        drive.GetTOCStructureRaw(part, buffer, AnyInt(input));
        break;
      }
      case 31: {
        const int32_t part = AnyInt(input);
        const QByteArray buffer = AnyBytes(input);
        drive.SetTOCStructureRaw(part, buffer, AnyInt(input));
        break;
      }
      case 32: {
        const int32_t family = AnyInt(input);
        Trelin::ReadSpeedList(family, AnyInt(input));
        break;
      }
      default: drive.GetEngineVersion(); break;
    }
  }
  return 0;
}
