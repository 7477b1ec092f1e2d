// One MP3 file decoded block by block: the scan counts its frames and finds
// where the audio starts, the ID3v1 tag gives the track's texts, and each
// ReadFrame converts one block of the file to PCM through the audio-compression
// layer.
#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

#include "gui/jobs/audio_compression.h"
#include "gui/jobs/id3_track_text.h"

namespace sorvel {
class FileIO;
}

namespace sorvel::jobs {

class ACMStream {
 public:
  ACMStream();
  ~ACMStream();
  ACMStream(const ACMStream&) = delete;
  ACMStream& operator=(const ACMStream&) = delete;

  // True when the file holds at least one frame and the conversion to the
  // asked PCM format is ready.
  bool OpenFile(const QString& strFileName, int32_t lngSamplingRate, int32_t lngSamplingBit, bool blnStereo);

  // The tag's texts while a file is open, else null.
  const Id3TrackText* TrackText() const;
  // PCM bytes one ReadFrame can produce (the size its buffer needs); 0 when closed.
  int32_t FrameSize() const;
  // Frames counted by the scan; 0 when closed.
  int32_t FrameCount() const;
  // Estimated PCM bytes of the whole file in the asked format; 0 when closed.
  int64_t DecodeSize() const;

  // Converts the next block into `bytOutBuffer` (at least FrameSize bytes).
  // Returns the PCM bytes produced, -1 at the end of the file, 0 when no file is open.
  int32_t ReadFrame(uint8_t* bytOutBuffer);

  bool CloseFile();

 private:
  struct ScanResult;
  class FileWindow;
  bool Scan(ScanResult* result);
  void FillTrackText(const uint8_t* tag);
  void Release();

  std::unique_ptr<FileIO> file_;
  // The blocks are read through a large window of the file.
  std::unique_ptr<FileWindow> window_;
  AcmStreamHandle stream_ = nullptr;
  AcmStreamHeader header_;
  std::vector<uint8_t> source_;
  std::vector<uint8_t> destination_;
  MpegLayer3WaveFormat source_format_;
  WaveFormatEx destination_format_;
  int64_t position_ = 0;   // next byte to read
  int64_t audio_end_ = 0;  // end of the audio (an ID3v1 tag excluded)
  int32_t frame_count_ = 0;
  int64_t decode_size_ = 0;
  bool drained_ = false;
  Id3TrackText track_text_;
};

}  // namespace sorvel::jobs
