#include "gui/jobs/audio_compression.h"

#include <mpg123.h>
#include <syn123.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <vector>

namespace sorvel::jobs {

struct AcmStream {
  mpg123_handle* decoder = nullptr;
  // Resampler to the output rate, set up for the rate of the frames at hand.
  syn123_handle* resampler = nullptr;
  long decoded_rate = 0;
  // The decoder's output encoding: 16-bit at the output rate, else float.
  int decoded_encoding = 0;
  std::vector<float> resampled;
  std::vector<int16_t> pcm;
  uint32_t source_rate = 0;
  // PCM of a decoded frame that did not fit into the last destination.
  std::vector<uint8_t> carry;
  size_t carry_offset = 0;
};

namespace {

constexpr uint32_t kOutputBlockAlign = kAcmOutputChannels * (kAcmOutputBits / 8);
constexpr uint32_t kSuggestMask =
    kAcmSuggestFormatTag | kAcmSuggestChannels | kAcmSuggestSamplesPerSec | kAcmSuggestBitsPerSample;

bool InitDecoderLibrary() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = mpg123_init() == MPG123_OK; });
  return ready;
}

bool IsMpegRate(uint32_t rate) {
  switch (rate) {
    case 44100: case 48000: case 32000:
    case 22050: case 24000: case 16000:
    case 11025: case 12000: case 8000:
      return true;
    default:
      return false;
  }
}

bool IsValidSource(const WaveFormatEx* source) {
  if (source == nullptr || source->format_tag != kWaveFormatMpegLayer3) return false;
  if (source->channels != 1 && source->channels != 2) return false;
  if (!IsMpegRate(source->samples_per_sec)) return false;
  if (source->extra_size < kMpegLayer3ExtraSize) return false;
  const auto* mp3 = reinterpret_cast<const MpegLayer3WaveFormat*>(source);
  return mp3->block_size > 0;
}

bool IsOurOutput(const WaveFormatEx* destination) {
  return destination != nullptr && destination->format_tag == kWaveFormatPcm &&
         destination->channels == kAcmOutputChannels && destination->samples_per_sec == kAcmOutputRate &&
         destination->bits_per_sample == kAcmOutputBits && destination->block_align == kOutputBlockAlign;
}

// Frame lengths in bytes at `rate` (without padding), over all layers and bitrates.
struct FrameLengthRange {
  uint32_t longest = 0;
  double most_samples_per_byte = 0;
};

FrameLengthRange FrameLengthsAt(uint32_t rate) {
  const bool mpeg1 = rate >= 32000;
  FrameLengthRange r;
  // Layer I: 384 samples, (bitrate x 12,000 / rate + padding) x 4 bytes.
  const uint32_t l1_min = 12000 * 32 / rate * 4;
  const uint32_t l1_max = (12000 * (mpeg1 ? 448 : 256) / rate + 1) * 4;
  // Layers II and III: 1,152 samples (576 for Layer III after MPEG-1), the
  // same bytes per sample.
  const uint32_t min_kbps = mpeg1 ? 32 : 8;
  const uint32_t l23_min = 144000 * min_kbps / rate;
  const uint32_t l23_max = 144000 * (mpeg1 ? 384 : 160) / rate + 1;
  r.longest = std::max(l1_max, l23_max);
  r.most_samples_per_byte = std::max(384.0 / l1_min, 1152.0 / l23_min);
  return r;
}

uint64_t OutputBound(uint32_t source_rate, uint64_t input) {
  const FrameLengthRange lengths = FrameLengthsAt(source_rate);
  // The decoder may still hold the start of a frame and the header of the next
  // one from earlier input; a conversion can complete all of that.
  const double in_flight = static_cast<double>(input) + 2.0 * lengths.longest + 8.0;
  const double native_samples = in_flight * lengths.most_samples_per_byte + 1152.0;
  const double output_samples = native_samples * kAcmOutputRate / source_rate + 64.0;
  return static_cast<uint64_t>(output_samples + 1.0) * kOutputBlockAlign;
}

bool ValidHeader(const AcmStreamHeader* header) {
  return header != nullptr && header->size == sizeof(AcmStreamHeader);
}

// Copies what is left of the carried frame into the destination.
void DrainCarry(AcmStream* stream, AcmStreamHeader* header) {
  const size_t left = stream->carry.size() - stream->carry_offset;
  const size_t room = header->destination_length - header->destination_length_used;
  const size_t n = std::min(left, room);
  if (n == 0) return;
  std::memcpy(header->destination + header->destination_length_used, stream->carry.data() + stream->carry_offset, n);
  header->destination_length_used += static_cast<uint32_t>(n);
  stream->carry_offset += n;
  if (stream->carry_offset == stream->carry.size()) {
    stream->carry.clear();
    stream->carry_offset = 0;
  }
}

bool CarryEmpty(const AcmStream* stream) { return stream->carry_offset == stream->carry.size(); }

// The output's own rate needs no resampling: the decoder's 16-bit samples
// are the output as they come. Other rates are decoded as float for the
// resampler.
int DecodedEncoding(long rate) {
  return rate == static_cast<long>(kAcmOutputRate) ? MPG123_ENC_SIGNED_16 : MPG123_ENC_FLOAT_32;
}

// At another rate than the output's the decoder gives float samples at the
// stream's own rate, stereo; they are resampled to the output rate (a
// windowed-sinc resampler, so the decoder itself never has to change rates)
// and rounded to 16 bits, as the decoder rounds its own 16-bit output.
const std::vector<int16_t>& ToOutputPcm(AcmStream* stream, unsigned char* audio, size_t bytes) {
  float* samples = reinterpret_cast<float*>(audio);
  size_t frames = bytes / (2 * sizeof(float));
  if (stream->decoded_rate != static_cast<long>(kAcmOutputRate) && stream->resampler != nullptr) {
    stream->resampled.resize(2 * syn123_resample_count(stream->decoded_rate, kAcmOutputRate, frames) + 2);
    frames = syn123_resample(stream->resampler, stream->resampled.data(), samples, frames);
    samples = stream->resampled.data();
  }
  stream->pcm.resize(2 * frames);
  for (size_t i = 0; i < 2 * frames; ++i) {
    const float v = std::nearbyint(samples[i] * 32768.0f);
    stream->pcm[i] = static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f));
  }
  return stream->pcm;
}

// Follows a change of the decoded format: the resampler is set up for the new rate.
bool TakeNewFormat(AcmStream* stream) {
  long rate = 0;
  int channels = 0;
  int encoding = 0;
  if (mpg123_getformat(stream->decoder, &rate, &channels, &encoding) != MPG123_OK || channels != 2 ||
      encoding != DecodedEncoding(rate)) {
    return false;
  }
  if (rate != static_cast<long>(kAcmOutputRate) &&
      syn123_setup_resample(stream->resampler, rate, kAcmOutputRate, 2, 0, 0) != SYN123_OK) {
    return false;
  }
  stream->decoded_rate = rate;
  stream->decoded_encoding = encoding;
  return true;
}

// Decodes complete frames the decoder holds until the destination is full or
// more input is needed.
void DecodeHeldFrames(AcmStream* stream, AcmStreamHeader* header) {
  while (CarryEmpty(stream) && header->destination_length_used < header->destination_length) {
    off_t frame_number = 0;
    unsigned char* audio = nullptr;
    size_t bytes = 0;
    const int rc = mpg123_decode_frame(stream->decoder, &frame_number, &audio, &bytes);
    if (rc == MPG123_NEW_FORMAT) {
      if (!TakeNewFormat(stream)) return;
      continue;
    }
    if (rc != MPG123_OK) return;  // needs more input, or a frame it could not decode
    if (bytes == 0 || audio == nullptr || stream->decoded_rate == 0) continue;
    const uint8_t* out = audio;
    size_t out_bytes = bytes;
    if (stream->decoded_encoding != MPG123_ENC_SIGNED_16) {
      const std::vector<int16_t>& pcm = ToOutputPcm(stream, audio, bytes);
      out = reinterpret_cast<const uint8_t*>(pcm.data());
      out_bytes = pcm.size() * sizeof(int16_t);
    }
    const size_t room = header->destination_length - header->destination_length_used;
    const size_t n = std::min(out_bytes, room);
    std::memcpy(header->destination + header->destination_length_used, out, n);
    header->destination_length_used += static_cast<uint32_t>(n);
    if (n < out_bytes) {
      stream->carry.assign(out + n, out + out_bytes);
      stream->carry_offset = 0;
    }
  }
}

mpg123_handle* NewDecoder() {
  int error = MPG123_OK;
  mpg123_handle* decoder = mpg123_new(nullptr, &error);
  if (decoder == nullptr) return nullptr;
  bool ok =
      mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_FORCE_STEREO | MPG123_QUIET, 0) == MPG123_OK &&
      mpg123_format_none(decoder) == MPG123_OK;
  // Every MPEG rate decodes at itself: the decoder's own rate conversion is
  // not used (its gapless bookkeeping walks every frame of the length a
  // damaged stream header may claim).
  static constexpr long kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
  for (long rate : kRates) {
    ok = ok && mpg123_format(decoder, rate, MPG123_STEREO, DecodedEncoding(rate)) == MPG123_OK;
  }
  ok = ok && mpg123_open_feed(decoder) == MPG123_OK;
  if (!ok) {
    mpg123_delete(decoder);
    return nullptr;
  }
  return decoder;
}

}  // namespace

uint32_t acmFormatSuggest(void* /*driver*/, const WaveFormatEx* source, WaveFormatEx* destination,
                          uint32_t destination_size, uint32_t flags) {
  if ((flags & ~kSuggestMask) != 0) return kAcmErrInvalidFlag;
  if (destination == nullptr || destination_size < sizeof(WaveFormatEx)) return kAcmErrInvalidParam;
  if (!IsValidSource(source)) return kAcmErrNotPossible;
  // Fields the caller did not fix take this layer's output values; fixed ones must match it.
  if ((flags & kAcmSuggestFormatTag) == 0) destination->format_tag = kWaveFormatPcm;
  if ((flags & kAcmSuggestChannels) == 0) destination->channels = kAcmOutputChannels;
  if ((flags & kAcmSuggestSamplesPerSec) == 0) destination->samples_per_sec = kAcmOutputRate;
  if ((flags & kAcmSuggestBitsPerSample) == 0) destination->bits_per_sample = kAcmOutputBits;
  if (destination->format_tag != kWaveFormatPcm || destination->channels != kAcmOutputChannels ||
      destination->samples_per_sec != kAcmOutputRate || destination->bits_per_sample != kAcmOutputBits) {
    return kAcmErrNotPossible;
  }
  destination->block_align = kOutputBlockAlign;
  destination->avg_bytes_per_sec = kAcmOutputRate * kOutputBlockAlign;
  destination->extra_size = 0;
  return kAcmOk;
}

uint32_t acmStreamOpen(AcmStreamHandle* handle, void* /*driver*/, const WaveFormatEx* source,
                       const WaveFormatEx* destination, void* filter, uintptr_t callback,
                       uintptr_t /*instance*/, uint32_t flags) {
  if ((flags & ~(kAcmStreamOpenQuery | kAcmStreamOpenNonRealtime)) != 0) return kAcmErrInvalidFlag;
  if (filter != nullptr || callback != 0) return kAcmErrInvalidParam;
  if (!IsValidSource(source) || !IsOurOutput(destination)) return kAcmErrNotPossible;
  if ((flags & kAcmStreamOpenQuery) != 0) {
    if (handle != nullptr) *handle = nullptr;
    return InitDecoderLibrary() ? kAcmOk : kAcmErrNotPossible;
  }
  if (handle == nullptr) return kAcmErrInvalidParam;
  *handle = nullptr;
  if (!InitDecoderLibrary()) return kAcmErrNotPossible;
  auto* stream = new (std::nothrow) AcmStream;
  if (stream == nullptr) return kAcmErrNoMemory;
  stream->decoder = NewDecoder();
  int error = SYN123_OK;
  stream->resampler = syn123_new(kAcmOutputRate, 2, MPG123_ENC_FLOAT_32, 0, &error);
  if (stream->decoder == nullptr || stream->resampler == nullptr) {
    mpg123_delete(stream->decoder);
    syn123_del(stream->resampler);
    delete stream;
    return kAcmErrNoMemory;
  }
  stream->source_rate = source->samples_per_sec;
  *handle = stream;
  return kAcmOk;
}

uint32_t acmStreamSize(AcmStreamHandle handle, uint32_t input, uint32_t* output, uint32_t flags) {
  if (handle == nullptr) return kAcmErrInvalidHandle;
  if (output == nullptr) return kAcmErrInvalidParam;
  if (flags == kAcmStreamSizeSource) {
    if (input == 0) return kAcmErrInvalidParam;
    const uint64_t bound = OutputBound(handle->source_rate, input);
    if (bound > std::numeric_limits<uint32_t>::max()) return kAcmErrNotPossible;
    *output = static_cast<uint32_t>(bound);
    return kAcmOk;
  }
  return kAcmErrInvalidFlag;
}

uint32_t acmStreamPrepareHeader(AcmStreamHandle handle, AcmStreamHeader* header, uint32_t flags) {
  if (handle == nullptr) return kAcmErrInvalidHandle;
  if (flags != 0) return kAcmErrInvalidFlag;
  if (!ValidHeader(header) || header->source == nullptr || header->destination == nullptr ||
      header->destination_length < kOutputBlockAlign) {
    return kAcmErrInvalidParam;
  }
  header->prepared_source_length = header->source_length;
  header->prepared_destination_length = header->destination_length;
  header->status = kAcmHeaderPrepared | kAcmHeaderDone;
  return kAcmOk;
}

uint32_t acmStreamConvert(AcmStreamHandle handle, AcmStreamHeader* header, uint32_t flags) {
  if (handle == nullptr) return kAcmErrInvalidHandle;
  if ((flags & ~(kAcmConvertBlockAlign | kAcmConvertStart | kAcmConvertEnd)) != 0) return kAcmErrInvalidFlag;
  if (!ValidHeader(header)) return kAcmErrInvalidParam;
  if ((header->status & kAcmHeaderPrepared) == 0) return kAcmErrUnprepared;
  if (header->source_length > header->prepared_source_length ||
      header->destination_length != header->prepared_destination_length) {
    return kAcmErrInvalidParam;
  }
  header->status &= ~kAcmHeaderDone;
  header->source_length_used = 0;
  header->destination_length_used = 0;
  // The destination is filled in whole sample frames of the output format.
  const uint32_t full_length = header->destination_length;
  header->destination_length -= header->destination_length % kOutputBlockAlign;

  uint32_t result = kAcmOk;
  DrainCarry(handle, header);
  if (header->source_length > 0) {
    if (mpg123_feed(handle->decoder, header->source, header->source_length) == MPG123_OK) {
      header->source_length_used = header->source_length;
    } else {
      result = kAcmErrNotPossible;
    }
  }
  DecodeHeldFrames(handle, header);
  (void)flags;  // the feed decoder completes every frame it has whole input for: nothing to flush
  header->destination_length = full_length;
  header->status |= kAcmHeaderDone;
  return result;
}

uint32_t acmStreamUnprepareHeader(AcmStreamHandle handle, AcmStreamHeader* header, uint32_t flags) {
  if (handle == nullptr) return kAcmErrInvalidHandle;
  if (flags != 0) return kAcmErrInvalidFlag;
  if (!ValidHeader(header)) return kAcmErrInvalidParam;
  if ((header->status & kAcmHeaderPrepared) == 0) return kAcmErrUnprepared;
  header->status &= ~kAcmHeaderPrepared;
  return kAcmOk;
}

uint32_t acmStreamClose(AcmStreamHandle handle, uint32_t flags) {
  if (handle == nullptr) return kAcmErrInvalidHandle;
  if (flags != 0) return kAcmErrInvalidFlag;
  mpg123_delete(handle->decoder);
  syn123_del(handle->resampler);
  delete handle;
  return kAcmOk;
}

}  // namespace sorvel::jobs
