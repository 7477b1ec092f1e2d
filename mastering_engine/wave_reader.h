// Reader of the PCM data of a RIFF/WAVE file: checks the "RIFF"/"WAVE" marks,
// walks the chunks for "fmt " and "data", and hands out the data bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "mastering_engine/host_file.h"
#include "platform/source_identity.h"

namespace sorvel {

struct WaveFormat {
  uint16_t format_tag = 0;
  uint16_t channels = 0;
  uint32_t sample_rate = 0;
  uint16_t bits_per_sample = 0;

  // 44,100 Hz 16-bit stereo PCM: the only format a CD-DA track takes.
  bool IsCdAudio() const {
    return format_tag == 1 && channels == 2 && sample_rate == 44100 && bits_per_sample == 16;
  }
};

class WaveReader {
 public:
  WaveReader() = default;
  ~WaveReader();
  WaveReader(const WaveReader&) = delete;
  WaveReader& operator=(const WaveReader&) = delete;

  // Opens a WAV file and positions it at its first PCM byte. False (and closed)
  // when the file cannot be read, is not a regular file, lacks the marks, has no
  // "fmt " chunk of at least 16 bytes before its "data" chunk, or has no "data" chunk.
  // A "data" size beyond the end of the file is cut to the bytes that are there.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }
  const std::string& Path() const { return file_.Path(); }

  const WaveFormat& Format() const { return format_; }
  // The opened file as it was when it was opened, its layout included.
  const platform::SourceIdentity& Identity() const { return identity_; }
  // The PCM bytes of the "data" chunk (after the cut to the file size).
  uint64_t DataBytes() const { return data_bytes_; }
  uint64_t BytesLeft() const { return bytes_left_; }

  // Reads up to `size` PCM bytes. Returns the bytes read (0 at the end of the
  // data), or -1 on a read error of the file, and at the last PCM byte when
  // the file was written since it was opened (its bytes would be part old,
  // part new).
  int64_t Read(uint8_t* buffer, size_t size);

 private:
  HostFile file_;
  WaveFormat format_;
  platform::SourceIdentity identity_;
  platform::ContentStamp opened_;  // the file's contents when it was opened
  uint64_t data_bytes_ = 0;
  uint64_t bytes_left_ = 0;
};

}  // namespace sorvel
