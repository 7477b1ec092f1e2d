#include "gui/jobs/acm_decoder.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "gui/jobs/acm_stream.h"

namespace sorvel::jobs {
namespace {

constexpr int32_t kRate = 44100;
constexpr int32_t kBits = 16;
constexpr int64_t kWaveHeaderSize = 44;
// The RIFF size field (data size + 36) is 32 bits.
constexpr int64_t kMaxWaveData = std::numeric_limits<uint32_t>::max() - 36;

void PutLe(uint8_t* p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The canonical 44-byte PCM header for 44,100 Hz, 16-bit stereo.
std::array<uint8_t, kWaveHeaderSize> WaveHeader(uint32_t data_size) {
  std::array<uint8_t, kWaveHeaderSize> h{};
  const uint16_t block_align = kBits / 8 * 2;
  std::memcpy(&h[0], "RIFF", 4);
  PutLe(&h[4], data_size + 36, 4);
  std::memcpy(&h[8], "WAVEfmt ", 8);
  PutLe(&h[16], 16, 4);
  PutLe(&h[20], 1, 2);
  PutLe(&h[22], 2, 2);
  PutLe(&h[24], kRate, 4);
  PutLe(&h[28], block_align * kRate, 4);
  PutLe(&h[32], block_align, 2);
  PutLe(&h[34], kBits, 2);
  std::memcpy(&h[36], "data", 4);
  PutLe(&h[40], data_size, 4);
  return h;
}

// The WAV file being written: created (emptied when it exists), closed on destruction.
class WaveOutput {
 public:
  explicit WaveOutput(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (!name.isEmpty()) fd_ = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  }
  ~WaveOutput() {
    if (fd_ >= 0) ::close(fd_);
  }
  WaveOutput(const WaveOutput&) = delete;
  WaveOutput& operator=(const WaveOutput&) = delete;

  bool IsOpen() const { return fd_ >= 0; }

  // Bytes written.
  int64_t Write(const uint8_t* data, int64_t length) {
    int64_t done = 0;
    while (fd_ >= 0 && done < length) {
      const ssize_t n = ::write(fd_, data + done, static_cast<size_t>(length - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += n;
    }
    return done;
  }

  bool WriteHeaderAtStart(uint32_t data_size) {
    if (fd_ < 0 || ::lseek(fd_, 0, SEEK_SET) != 0) return false;
    const auto header = WaveHeader(data_size);
    return Write(header.data(), kWaveHeaderSize) == kWaveHeaderSize;
  }

 private:
  int fd_ = -1;
};

}  // namespace

ACMDecoder::ACMDecoder(QObject* parent) : QObject(parent) {}

ACMDecoder::~ACMDecoder() = default;

void ACMDecoder::StopRead() { cancel_ = true; }

bool ACMDecoder::DecodeACM(const QString& strDestFile, const QString& strSourceFile) {
  emit StatusChange(0, QStringLiteral("展開中 - ") + strSourceFile);
  bool result = false;
  {
    ACMStream stream;
    if (stream.OpenFile(strSourceFile, kRate, kBits, true)) {
      WaveOutput wave(strDestFile);
      if (wave.IsOpen()) {
        track_text_ = std::make_unique<Id3TrackText>(*stream.TrackText());
        if (wave.WriteHeaderAtStart(0)) {
          std::vector<uint8_t> buffer(static_cast<size_t>(stream.FrameSize()));
          const qint64 total_frames = stream.FrameCount();
          int64_t total = 0;
          bool complete = true;
          bool too_large = false;
          for (qint64 n = 1;; ++n) {
            emit Progress(n, total_frames);
            const int32_t bytes = stream.ReadFrame(buffer.data());
            if (bytes < 0) break;
            if (total + bytes > kMaxWaveData) {
              too_large = true;
              break;
            }
            const int64_t written = wave.Write(buffer.data(), bytes);
            total += written;
            complete = written == bytes;
            if (!complete || cancel_) break;
          }
          stream.CloseFile();
          if (complete) result = wave.WriteHeaderAtStart(static_cast<uint32_t>(total)) && !too_large;
          if (cancel_) result = false;
        }
      }
    }
  }
  emit StatusChange(0, QString());
  cancel_ = false;
  return result;
}

bool ACMDecoder::DecodeACMHeader(const QString& strDestFile, const QString& strSourceFile) {
  ACMStream stream;
  if (!stream.OpenFile(strSourceFile, kRate, kBits, true)) return false;
  if (stream.DecodeSize() > kMaxWaveData) return false;
  WaveOutput wave(strDestFile);
  if (!wave.IsOpen()) return false;
  track_text_ = std::make_unique<Id3TrackText>(*stream.TrackText());
  return wave.WriteHeaderAtStart(static_cast<uint32_t>(stream.DecodeSize()));
}

}  // namespace sorvel::jobs
