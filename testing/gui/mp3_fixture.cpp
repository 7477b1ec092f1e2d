#include "testing/gui/mp3_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

#include "testing/test_paths.h"

namespace sorvel::testing {

bool EncodeMp3(const std::filesystem::path& dir, const std::string& name, int rate, int channels, double seconds,
               const std::string& lame_args, std::filesystem::path* mp3) {
  if (!RequireTool("sox") || !RequireTool("lame")) return false;
  const std::filesystem::path wav = dir / (name + "-source.wav");
  *mp3 = dir / (name + ".mp3");
  std::ostringstream synth;
  synth << "sox -D -n -r " << rate << " -c " << channels << " -b 16 '" << wav.string() << "' synth " << seconds
        << " sine 300-1800 sine 700-250 vol 0.5 2>&1";
  std::string out;
  if (RunCommand(synth.str(), &out) != 0) {
    ADD_FAILURE() << "sox failed: " << out;
    return false;
  }
  const std::string encode = "lame --quiet " + lame_args + " '" + wav.string() + "' '" + mp3->string() + "' 2>&1";
  if (RunCommand(encode, &out) != 0) {
    ADD_FAILURE() << "lame failed: " << out;
    return false;
  }
  return true;
}

std::string Id3v1Tag(const std::string& title, const std::string& performer, const std::string& comment) {
  std::string tag(128, '\0');
  tag.replace(0, 3, "TAG");
  tag.replace(3, std::min<size_t>(title.size(), 30), title.substr(0, 30));
  tag.replace(33, std::min<size_t>(performer.size(), 30), performer.substr(0, 30));
  tag.replace(63, 4, "Albm");
  tag.replace(93, 4, "2001");
  tag.replace(97, std::min<size_t>(comment.size(), 29), comment.substr(0, 29));
  tag[127] = static_cast<char>(0xFF);  // no genre
  return tag;
}

namespace {

std::string SyncSafe(uint32_t n) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((n >> (7 * (3 - i))) & 0x7F);
  return s;
}

}  // namespace

std::string Id3v2Tag(const std::string& title, bool footer) {
  std::string frame = "TIT2" + SyncSafe(static_cast<uint32_t>(title.size() + 1)) + std::string(2, '\0') +
                      std::string(1, '\x03') + title;
  // Padding (zeros) may only follow a tag without footer; the footer version
  // carries a second frame instead, so the body is not all frames and zeros
  // in the same way.
  const std::string body = footer ? frame + "TPE1" + SyncSafe(4) + std::string(2, '\0') + "\x03" "abc"
                                  : frame + std::string(300, '\0');
  const char flags = footer ? 0x10 : 0x00;
  std::string tag = std::string("ID3\x04\x00", 5) + flags + SyncSafe(static_cast<uint32_t>(body.size())) + body;
  if (footer) tag += std::string("3DI\x04\x00", 5) + flags + SyncSafe(static_cast<uint32_t>(body.size()));
  return tag;
}

namespace {

// Bytes a frame takes: samples / 8 x bitrate / rate, whole slots (4 bytes in
// Layer I, 1 byte otherwise) plus one padding slot.
int FrameBytes(const unsigned char* h) {
  static const int kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
  static const int kKbps[2][3][16] = {
      // MPEG-1: Layer I, II, III
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1}},
      // MPEG-2 and 2.5
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1}}};
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return -1;
  const int version = (h[1] >> 3) & 3;
  const int layer = 4 - ((h[1] >> 1) & 3);  // 1..3, 4 = reserved
  const int rate_index = (h[2] >> 2) & 3;
  if (version == 1 || layer == 4 || rate_index == 3) return -1;
  const int kbps = kKbps[version == 3 ? 0 : 1][layer - 1][h[2] >> 4];
  if (kbps <= 0) return -1;
  const int rate = kRates[version][rate_index];
  const int samples = layer == 1 ? 384 : (layer == 3 && version != 3) ? 576 : 1152;
  const int slot = layer == 1 ? 4 : 1;
  const int padding = (h[2] >> 1) & 1;
  return (samples / 8 * kbps * 1000 / rate) / slot * slot + padding * slot;
}

}  // namespace

int CountMpegFrames(const std::string& file) {
  const auto* d = reinterpret_cast<const unsigned char*>(file.data());
  size_t end = file.size();
  if (end >= 128 && file.compare(end - 128, 3, "TAG") == 0) end -= 128;
  size_t pos = 0;
  if (file.size() >= 10 && file.compare(0, 3, "ID3") == 0) {
    pos = 10 + ((d[6] & 0x7F) << 21 | (d[7] & 0x7F) << 14 | (d[8] & 0x7F) << 7 | (d[9] & 0x7F));
    if (d[5] & 0x10) pos += 10;
  }
  while (pos + 4 <= end && FrameBytes(d + pos) < 0) ++pos;
  int frames = 0;
  while (pos + 4 <= end) {
    const int n = FrameBytes(d + pos);
    if (n <= 0) break;
    ++frames;
    pos += n;
  }
  return frames;
}

int XingFrameCount(const std::string& file) {
  size_t at = file.find("Xing");
  if (at == std::string::npos) at = file.find("Info");
  if (at == std::string::npos || at + 12 > file.size() || at > 200 + file.find('\xFF')) return -1;
  const auto* d = reinterpret_cast<const unsigned char*>(file.data() + at);
  if ((d[7] & 1) == 0) return -1;  // no frame count
  return d[8] << 24 | d[9] << 16 | d[10] << 8 | d[11];
}

bool ReadWav(const std::filesystem::path& path, WavData* wav) {
  const std::string f = ReadFileBytes(path);
  const auto* d = reinterpret_cast<const unsigned char*>(f.data());
  auto u32 = [&](size_t at) { return uint32_t{d[at]} | uint32_t{d[at + 1]} << 8 | uint32_t{d[at + 2]} << 16 | uint32_t{d[at + 3]} << 24; };
  auto u16 = [&](size_t at) { return d[at] | d[at + 1] << 8; };
  if (f.size() < 12 || f.compare(0, 4, "RIFF") != 0 || f.compare(8, 4, "WAVE") != 0) return false;
  size_t pos = 12;
  bool have_format = false;
  while (pos + 8 <= f.size()) {
    const uint32_t size = u32(pos + 4);
    if (f.compare(pos, 4, "fmt ") == 0 && size >= 16 && pos + 24 <= f.size()) {
      if (u16(pos + 8) != 1) return false;
      wav->channels = u16(pos + 10);
      wav->rate = static_cast<int>(u32(pos + 12));
      wav->bits = u16(pos + 22);
      have_format = true;
    } else if (f.compare(pos, 4, "data") == 0) {
      wav->declared_data_size = size;
      const size_t available = std::min<size_t>(size, f.size() - pos - 8);
      wav->samples.resize(available / 2);
      std::memcpy(wav->samples.data(), f.data() + pos + 8, wav->samples.size() * 2);
      return have_format && wav->bits == 16;
    }
    pos += 8 + size + (size & 1);
  }
  return false;
}

double Correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  const size_t n = std::min(a.size(), b.size());
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < n; ++i) {
    const double x = a[i];
    const double y = b[i];
    ab += x * y;
    aa += x * x;
    bb += y * y;
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

}  // namespace sorvel::testing
