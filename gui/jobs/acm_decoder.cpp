#include "gui/jobs/acm_decoder.h"

#include <limits>
#include <span>
#include <vector>

#include "gui/foundation/file_io.h"
#include "gui/foundation/wave_header.h"
#include "gui/jobs/acm_stream.h"
#include "gui/jobs/background_file_writer.h"
#include "gui/jobs/output_set.h"

namespace sorvel::jobs {
namespace {

constexpr int32_t kRate = 44100;
constexpr int32_t kBits = 16;
// The RIFF size field (data size + 36) is 32 bits.
constexpr int64_t kMaxWaveData = std::numeric_limits<uint32_t>::max() - 36;

// Writes the 44-byte header for `data_size` sample bytes at the file's start.
bool WriteWaveHeader(FileIO& wave, int64_t data_size) {
  if (data_size < 0 || data_size > kMaxWaveData || !wave.SeekFile(0, FileIO::kBegin)) return false;
  const auto header = MakeWaveHeader(static_cast<uint32_t>(data_size), kRate, kBits, true);
  return header && wave.WriteFile(header->bytes) == WaveHeader::kSize;
}

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
      // The WAV file is written under a temporary name and takes its name
      // only when whole, and never over a file that stands there by then
      // (another instance's, or the source itself): a failed or stopped
      // decode leaves no file.
      OutputSet outputs(OutputSet::Mode::kNew);
      const QString temporary = outputs.Add(strDestFile);
      FileIO wave;
      if (!temporary.isEmpty() && wave.OpenFile(temporary, kGenericWrite, kOpenExisting, 0, 0)) {
        track_text_ = std::make_unique<Id3TrackText>(*stream.TrackText());
        if (WriteWaveHeader(wave, 0)) {
          std::vector<uint8_t> buffer(static_cast<size_t>(stream.FrameSize()));
          const qint64 total_frames = stream.FrameCount();
          int64_t total = 0;
          bool complete = true;
          bool too_large = false;
          {
            // The samples go to the file in large blocks from a second thread;
            // a failed write shows at a later block or when the last is written.
            BackgroundFileWriter samples(wave);
            for (qint64 n = 1;; ++n) {
              emit Progress(n, total_frames);
              const int32_t bytes = stream.ReadFrame(buffer.data());
              if (bytes < 0) break;
              if (total + bytes > kMaxWaveData) {
                too_large = true;
                break;
              }
              complete = samples.Append(buffer.data(), bytes);
              total += bytes;
              if (!complete || cancel_) break;
            }
            if (!samples.Finish()) complete = false;
          }
          stream.CloseFile();
          if (complete) result = WriteWaveHeader(wave, total) && !too_large;
          if (cancel_) result = false;
        }
        if (!wave.CloseFile()) result = false;
        if (result) result = outputs.Commit();
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
  OutputSet outputs(OutputSet::Mode::kNew);
  const QString temporary = outputs.Add(strDestFile);
  FileIO wave;
  if (temporary.isEmpty() || !wave.OpenFile(temporary, kGenericWrite, kOpenExisting, 0, 0)) return false;
  track_text_ = std::make_unique<Id3TrackText>(*stream.TrackText());
  const bool written = WriteWaveHeader(wave, stream.DecodeSize());
  return wave.CloseFile() && written && outputs.Commit();
}

}  // namespace sorvel::jobs
