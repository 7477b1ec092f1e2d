#include "gui/jobs/acm_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

#include "gui/foundation/file_io.h"
#include "gui/jobs/mpeg_frame_header.h"
#include "platform/text_encoding.h"

namespace sorvel::jobs {
namespace {

constexpr int64_t kTagSize = 128;
constexpr uint16_t kCodecDelay = 700;
constexpr size_t kScanWindow = 64 * 1024;
constexpr size_t kDecodeWindow = 1024 * 1024;
// Bytes the scan walks past the last confirmed frame before it gives up: a
// file that long without one holds no MP3 there (a multi-gigabyte file of
// something else named ".mp3" would otherwise be read to its end).
constexpr int64_t kSyncSearchLimit = 1 << 20;
// A tick is 1/14,112,000 s, the least common multiple of every MPEG sample
// rate: each frame's playing time is a whole number of ticks.
constexpr uint64_t kTicksPerSecond = 14112000;

// Bytes read at `offset`: fewer than asked only at the end of the file.
int64_t ReadAt(FileIO& file, int64_t offset, uint8_t* buffer, int64_t length) {
  if (!file.SeekFile(offset, FileIO::kBegin)) return 0;
  return file.ReadFile(std::span<uint8_t>(buffer, static_cast<size_t>(length)));
}

// One text field of the ID3v1 tag: cut at its first NUL, decoded (UTF-8 when
// the bytes are valid UTF-8, else CP932) and trimmed.
QString TagText(const uint8_t* field, size_t length) {
  const auto* text = reinterpret_cast<const char*>(field);
  const size_t n = std::find(text, text + length, '\0') - text;
  const std::string utf8 = platform::DecodeTextFile(std::string_view(text, n));
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).trimmed();
}

}  // namespace

struct ACMStream::ScanResult {
  uint8_t tag[kTagSize] = {};
  int64_t first_frame = -1;
  int64_t audio_end = 0;
  int64_t frames = 0;
  uint64_t ticks = 0;  // playing time of the counted frames
  MpegFrameHeader last;
};

// A window of the file kept in memory: the frame scan, which moves through
// the file in 4-byte steps, and the decoding, a block at a time, then cost one
// system call per window instead of one or two per step.
class ACMStream::FileWindow {
 public:
  FileWindow(FileIO& file, int64_t end, size_t size) : file_(file), end_(end), window_(size) {}

  // Copies up to `length` bytes at `offset`, never from the end on; the
  // number copied (fewer also when the file became shorter).
  int64_t Read(int64_t offset, uint8_t* out, int64_t length) {
    if (offset < 0 || length <= 0 || offset >= end_) return 0;
    length = std::min(length, end_ - offset);
    if (offset < start_ || offset + length > start_ + length_) {
      start_ = offset;
      length_ = ReadAt(file_, offset, window_.data(),
                       std::min(static_cast<int64_t>(window_.size()), end_ - offset));
    }
    const int64_t n = std::clamp<int64_t>(start_ + length_ - offset, 0, length);
    std::memcpy(out, window_.data() + (offset - start_), static_cast<size_t>(n));
    return n;
  }

 private:
  FileIO& file_;
  int64_t end_;
  std::vector<uint8_t> window_;
  int64_t start_ = 0;
  int64_t length_ = 0;
};

ACMStream::ACMStream() : file_(std::make_unique<FileIO>()) {}

ACMStream::~ACMStream() { CloseFile(); }

bool ACMStream::Scan(ScanResult* r) {
  const int64_t size = file_->GetSize();

  r->audio_end = size;
  if (size >= kTagSize && ReadAt(*file_, size - kTagSize, r->tag, kTagSize) == kTagSize &&
      std::memcmp(r->tag, "TAG", 3) == 0) {
    // The tag is not audio: neither counted nor decoded.
    r->audio_end = size - kTagSize;
  } else {
    std::memset(r->tag, 0, sizeof r->tag);
  }

  uint8_t head[10];
  if (ReadAt(*file_, 0, head, 10) < 10) return false;
  int64_t start = 0;
  if (std::memcmp(head, "ID3", 3) == 0) {
    start = ((head[5] & 0x10) != 0 ? 20 : 10) + (int64_t{head[6]} << 21) + (int64_t{head[7]} << 14) +
            (int64_t{head[8]} << 7) + head[9];
  }
  uint8_t b[4];
  if (ReadAt(*file_, start, b, 4) == 4 && b[0] == 0 && b[1] == 0) start += b[2] * 256 + b[3] + 4;

  // A frame is confirmed when the next one begins where it ends, or the
  // audio ends there. Every header found counts; when the scan gives up, the
  // count goes back to the last confirmed frame, so that syncs that chance
  // put into whatever follows are not decoded.
  FileWindow reader(*file_, r->audio_end, kScanWindow);
  int64_t confirmed_end = start;
  ScanResult confirmed = *r;
  for (int64_t pos = start; reader.Read(pos, b, 4) == 4;) {
    if (pos - confirmed_end > kSyncSearchLimit) {
      *r = confirmed;
      break;
    }
    const auto header = ParseMpegFrameHeader(b);
    if (!header) {
      ++pos;
      continue;
    }
    if (r->first_frame < 0) r->first_frame = pos;
    r->last = *header;
    ++r->frames;
    r->ticks += uint64_t{header->samples_per_frame} * (kTicksPerSecond / header->sample_rate);
    pos += header->frame_length;
    uint8_t next[4];
    if (pos >= r->audio_end || (reader.Read(pos, next, 4) == 4 && ParseMpegFrameHeader(next))) {
      confirmed_end = pos;
      confirmed = *r;
    }
  }
  return r->frames > 0 && r->frames <= std::numeric_limits<int32_t>::max();
}

void ACMStream::FillTrackText(const uint8_t* tag) {
  track_text_ = Id3TrackText();
  track_text_.Title = TagText(tag + 3, 30);
  track_text_.Performer = TagText(tag + 33, 30);
  track_text_.Message = TagText(tag + 97, 29);
  track_text_.TitleEnabled = !track_text_.Title.isEmpty();
  track_text_.PerformerEnabled = !track_text_.Performer.isEmpty();
  track_text_.MessageEnabled = !track_text_.Message.isEmpty();
  if (!track_text_.IsHalfWidth()) {
    track_text_.Title = ToFullWidth(track_text_.Title);
    track_text_.Performer = ToFullWidth(track_text_.Performer);
    track_text_.Message = ToFullWidth(track_text_.Message);
  }
}

bool ACMStream::OpenFile(const QString& strFileName, int32_t lngSamplingRate, int32_t lngSamplingBit,
                         bool blnStereo) {
  CloseFile();
  if (!file_->OpenFile(strFileName, kGenericRead, kOpenExisting, kFileShareRead, 0)) return false;

  ScanResult scan;
  if (!Scan(&scan) || lngSamplingRate <= 0 || lngSamplingBit <= 0) {
    Release();
    return false;
  }
  FillTrackText(scan.tag);

  // The format of the last header found describes the stream. Blocks are the
  // mean frame length, so that one block is about one frame also in a file
  // of varying bitrate.
  const MpegFrameHeader& h = scan.last;
  const int64_t audio_bytes = scan.audio_end - scan.first_frame;
  const int64_t block = std::clamp<int64_t>((audio_bytes + scan.frames - 1) / scan.frames, 4, 0xFFFF);
  source_format_ = MpegLayer3WaveFormat();
  source_format_.wfx.format_tag = kWaveFormatMpegLayer3;
  source_format_.wfx.channels = static_cast<uint16_t>(h.channels);
  source_format_.wfx.samples_per_sec = h.sample_rate;
  source_format_.wfx.avg_bytes_per_sec = h.bitrate_kbps * 125;
  source_format_.wfx.block_align = 1;
  source_format_.wfx.bits_per_sample = 0;
  source_format_.wfx.extra_size = kMpegLayer3ExtraSize;
  source_format_.id = 1;
  source_format_.flags = h.padding ? 1 : 0;
  source_format_.block_size = static_cast<uint16_t>(block);
  source_format_.frames_per_block = 1;
  source_format_.codec_delay = kCodecDelay;

  destination_format_ = WaveFormatEx();
  destination_format_.format_tag = kWaveFormatPcm;
  destination_format_.channels = blnStereo ? 2 : 1;
  destination_format_.samples_per_sec = static_cast<uint32_t>(lngSamplingRate);
  destination_format_.bits_per_sample = static_cast<uint16_t>(lngSamplingBit);
  destination_format_.block_align = static_cast<uint16_t>(destination_format_.channels * lngSamplingBit / 8);
  // Every counted frame's samples at the destination rate, a started sample counted whole.
  const uint64_t rate = static_cast<uint64_t>(lngSamplingRate);
  const uint64_t whole = scan.ticks / kTicksPerSecond;
  const uint64_t part = scan.ticks % kTicksPerSecond;
  const uint64_t samples = whole * rate + (part * rate + kTicksPerSecond - 1) / kTicksPerSecond;
  decode_size_ = static_cast<int64_t>(samples) * destination_format_.block_align;

  uint32_t destination_length = 0;
  bool ready =
      acmFormatSuggest(nullptr, &source_format_.wfx, &destination_format_, sizeof(WaveFormatEx),
                       kAcmSuggestFormatTag | kAcmSuggestChannels | kAcmSuggestSamplesPerSec |
                           kAcmSuggestBitsPerSample) == kAcmOk &&
      acmStreamOpen(nullptr, nullptr, &source_format_.wfx, &destination_format_, nullptr, 0, 0,
                    kAcmStreamOpenQuery | kAcmStreamOpenNonRealtime) == kAcmOk &&
      acmStreamOpen(&stream_, nullptr, &source_format_.wfx, &destination_format_, nullptr, 0, 0,
                    kAcmStreamOpenNonRealtime) == kAcmOk &&
      acmStreamSize(stream_, source_format_.block_size, &destination_length, kAcmStreamSizeSource) == kAcmOk &&
      destination_length <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
  if (ready) {
    source_.assign(source_format_.block_size + 1, 0);
    destination_.assign(destination_length, 0);
    header_ = AcmStreamHeader();
    header_.size = sizeof(AcmStreamHeader);
    header_.source = source_.data();
    header_.source_length = source_format_.block_size;
    header_.destination = destination_.data();
    header_.destination_length = destination_length;
    ready = acmStreamPrepareHeader(stream_, &header_, 0) == kAcmOk;
  }
  if (!ready) {
    Release();
    return false;
  }
  frame_count_ = static_cast<int32_t>(scan.frames);
  position_ = scan.first_frame;
  audio_end_ = scan.audio_end;
  window_ = std::make_unique<FileWindow>(*file_, audio_end_, kDecodeWindow);
  drained_ = false;
  return true;
}

const Id3TrackText* ACMStream::TrackText() const { return stream_ != nullptr ? &track_text_ : nullptr; }

int32_t ACMStream::FrameSize() const {
  return stream_ != nullptr ? static_cast<int32_t>(destination_.size()) : 0;
}

int32_t ACMStream::FrameCount() const { return stream_ != nullptr ? frame_count_ : 0; }

int64_t ACMStream::DecodeSize() const { return stream_ != nullptr ? decode_size_ : 0; }

int32_t ACMStream::ReadFrame(uint8_t* bytOutBuffer) {
  if (stream_ == nullptr) return 0;
  if (drained_) return -1;
  const int64_t want = std::min<int64_t>(source_format_.block_size, audio_end_ - position_);
  const int64_t got = want > 0 ? window_->Read(position_, source_.data(), want) : 0;
  position_ += got;
  // Only the bytes read are converted; at the end the layer gives out what it still holds.
  header_.source_length = static_cast<uint32_t>(got);
  acmStreamConvert(stream_, &header_, got > 0 ? kAcmConvertBlockAlign : kAcmConvertBlockAlign | kAcmConvertEnd);
  const uint32_t used = header_.destination_length_used;
  if (got == 0 && used == 0) {
    drained_ = true;
    return -1;
  }
  if (used > 0) std::memcpy(bytOutBuffer, destination_.data(), used);
  return static_cast<int32_t>(used);
}

void ACMStream::Release() {
  if (stream_ != nullptr) {
    acmStreamUnprepareHeader(stream_, &header_, 0);
    acmStreamClose(stream_, 0);
    stream_ = nullptr;
  }
  window_.reset();
  file_->CloseFile();
  source_.clear();
  source_.shrink_to_fit();
  destination_.clear();
  destination_.shrink_to_fit();
  frame_count_ = 0;
  decode_size_ = 0;
}

bool ACMStream::CloseFile() {
  if (stream_ == nullptr) return false;
  Release();
  return true;
}

}  // namespace sorvel::jobs
