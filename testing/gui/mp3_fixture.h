// MP3 fixtures for the decoder tests: files encoded by lame from a signal made
// by sox, ID3 tags put together byte by byte, an independent frame count, and
// WAV samples for comparing decoders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "testing/file_bytes.h"

namespace sorvel::testing {

// Encodes `seconds` of a two-sweep signal at `rate` Hz with `channels` channels
// into dir/name.mp3 with `lame_args`. Fails the test and returns false when
// sox or lame is missing or fails.
bool EncodeMp3(const std::filesystem::path& dir, const std::string& name, int rate, int channels, double seconds,
               const std::string& lame_args, std::filesystem::path* mp3);

// An ID3v1 tag (128 bytes) with the given raw field bytes (cut to their sizes).
std::string Id3v1Tag(const std::string& title, const std::string& performer, const std::string& comment);

// An ID3v2.4 tag holding one title frame and some padding; with `footer` the
// footer flag is set and the 10-byte footer follows.
std::string Id3v2Tag(const std::string& title, bool footer);

// Frames of an MPEG audio file, counted by walking from the first frame after
// an ID3v2 tag from frame to frame up to the end or an ID3v1 tag.
int CountMpegFrames(const std::string& file);

// The frame count lame records in its Xing/Info frame (which it does not
// count), or -1 when the file has none.
int XingFrameCount(const std::string& file);

struct WavData {
  int rate = 0;
  int channels = 0;
  int bits = 0;
  uint32_t declared_data_size = 0;
  std::vector<int16_t> samples;  // interleaved
};

// Reads a PCM WAV file by its chunks. False when it is not one.
bool ReadWav(const std::filesystem::path& path, WavData* wav);

// Normalised correlation of two sample sequences over their common length.
double Correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b);

}  // namespace sorvel::testing
