// A small audio-compression layer: the format-suggestion and stream calls the
// MP3 decoder makes, converting MPEG audio (format tag 85) to PCM block by
// block. libmpg123 decodes through its feed interface at the stream's own
// rate (44,100 Hz straight to 16 bits) and libsyn123 resamples the other
// rates; the PCM output is always 44,100 Hz, 16-bit, stereo. No Qt here.
#pragma once

#include <cstdint>

namespace sorvel::jobs {

// Result codes: 0 is success.
enum AcmResult : uint32_t {
  kAcmOk = 0,
  kAcmErrInvalidHandle = 5,
  kAcmErrNoMemory = 7,
  kAcmErrInvalidFlag = 10,
  kAcmErrInvalidParam = 11,
  kAcmErrNotPossible = 512,
  kAcmErrUnprepared = 514,
};

constexpr uint16_t kWaveFormatPcm = 1;
constexpr uint16_t kWaveFormatMpegLayer3 = 85;

// Output format of every stream of this layer.
constexpr uint32_t kAcmOutputRate = 44100;
constexpr uint16_t kAcmOutputChannels = 2;
constexpr uint16_t kAcmOutputBits = 16;

// Flags.
constexpr uint32_t kAcmSuggestFormatTag = 0x10000;
constexpr uint32_t kAcmSuggestChannels = 0x20000;
constexpr uint32_t kAcmSuggestSamplesPerSec = 0x40000;
constexpr uint32_t kAcmSuggestBitsPerSample = 0x80000;
constexpr uint32_t kAcmStreamOpenQuery = 0x1;
constexpr uint32_t kAcmStreamOpenNonRealtime = 0x4;
constexpr uint32_t kAcmStreamSizeSource = 0x0;
constexpr uint32_t kAcmConvertBlockAlign = 0x4;
constexpr uint32_t kAcmConvertStart = 0x10;
constexpr uint32_t kAcmConvertEnd = 0x20;

// Header status bits.
constexpr uint32_t kAcmHeaderDone = 0x10000;
constexpr uint32_t kAcmHeaderPrepared = 0x20000;

struct WaveFormatEx {
  uint16_t format_tag = 0;
  uint16_t channels = 0;
  uint32_t samples_per_sec = 0;
  uint32_t avg_bytes_per_sec = 0;
  uint16_t block_align = 0;
  uint16_t bits_per_sample = 0;
  uint16_t extra_size = 0;
};

// MPEG Layer-3 source format: the common part followed by the codec's extra fields.
struct MpegLayer3WaveFormat {
  WaveFormatEx wfx;
  uint16_t id = 0;  // 1: MPEG
  uint32_t flags = 0;  // 1: padding on, 0: ISO
  uint16_t block_size = 0;
  uint16_t frames_per_block = 0;
  uint16_t codec_delay = 0;
};
constexpr uint16_t kMpegLayer3ExtraSize = 12;

// One conversion request: `size` must be sizeof(AcmStreamHeader).
struct AcmStreamHeader {
  uint32_t size = 0;
  uint32_t status = 0;
  uint8_t* source = nullptr;
  uint32_t source_length = 0;
  uint32_t source_length_used = 0;
  uint8_t* destination = nullptr;
  uint32_t destination_length = 0;
  uint32_t destination_length_used = 0;
  // Lengths recorded when the header was prepared.
  uint32_t prepared_source_length = 0;
  uint32_t prepared_destination_length = 0;
};

struct AcmStream;
using AcmStreamHandle = AcmStream*;

// Completes `destination` for a conversion from `source`. The fields named by
// `flags` (format tag, channels, rate, bits) are fixed by the caller and must
// match this layer's output; the others are filled in.
uint32_t acmFormatSuggest(void* driver, const WaveFormatEx* source, WaveFormatEx* destination,
                          uint32_t destination_size, uint32_t flags);

// Opens a stream from MPEG audio to PCM. With kAcmStreamOpenQuery only checks
// that the conversion is possible (`handle` may be null).
uint32_t acmStreamOpen(AcmStreamHandle* handle, void* driver, const WaveFormatEx* source,
                       const WaveFormatEx* destination, void* filter, uintptr_t callback,
                       uintptr_t instance, uint32_t flags);

// With kAcmStreamSizeSource (the only size query): an upper bound of the PCM
// bytes one conversion of `input` source bytes can produce.
uint32_t acmStreamSize(AcmStreamHandle handle, uint32_t input, uint32_t* output, uint32_t flags);

uint32_t acmStreamPrepareHeader(AcmStreamHandle handle, AcmStreamHeader* header, uint32_t flags);

// Decodes header->source[0, source_length) into header->destination; sets the
// used lengths. PCM that does not fit is kept for the next conversion. With
// kAcmConvertEnd the stream is drained: everything still held comes out, in
// as many calls as the destination length needs.
uint32_t acmStreamConvert(AcmStreamHandle handle, AcmStreamHeader* header, uint32_t flags);

uint32_t acmStreamUnprepareHeader(AcmStreamHandle handle, AcmStreamHeader* header, uint32_t flags);

uint32_t acmStreamClose(AcmStreamHandle handle, uint32_t flags);

}  // namespace sorvel::jobs
