// The audio side of a layout and the disc stream: the list of CD-DA tracks with
// their gaps, control flags and texts, the layout TOC with its CD-Text packs, and
// the stream of 2352-byte sectors (data track first, then the audio tracks).
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "mastering_engine/cd_text_builder.h"
#include "mastering_engine/data_track_source.h"
#include "mastering_engine/track_text_block.h"
#include "mastering_engine/wave_reader.h"
#include "native_common/ecc_encoder.h"
#include "native_common/toc_structure.h"
#include "platform/source_identity.h"

namespace sorvel {

struct TrackRecord {
  std::string path;
  int32_t pregap = 0;
  int32_t postgap = 0;
  int32_t control = 0;
  int32_t length = 0;       // sectors
  uint64_t data_bytes = 0;  // PCM bytes when the track was added: the stream never reads more
  platform::SourceIdentity identity;  // the WAV file as the track took it
  TrackTextBlock texts;
};

// What GetTrackInformation reports of one track.
struct TrackInfo {
  std::string path;
  int32_t pregap = 0;
  int32_t postgap = 0;
  int32_t control = 0;
  int32_t length = 0;
};

class TrackLayer {
 public:
  static constexpr int kMaxTracks = 99;
  static constexpr int32_t kSectorSize = 2352;
  static constexpr int32_t kMinTrackLength = 300;
  // Gaps longer than the whole CD address range cannot be laid out.
  static constexpr int32_t kMaxGap = 404850;
  // Control bits of a track: 1 pre-emphasis, 2 copy permitted, 4 data track.
  static constexpr int32_t kDataTrackFlag = 4;

  explicit TrackLayer(DataTrackSource& data);
  ~TrackLayer();
  TrackLayer(const TrackLayer&) = delete;
  TrackLayer& operator=(const TrackLayer&) = delete;

  // Track operations. Indices count over all tracks: with a data area, index 0 is
  // the data track and audio track k has index k + 1.
  bool AddTrack(const std::string& wav_path, int32_t pregap, int32_t postgap, int32_t control);
  bool ResetTrack(int32_t index, const std::string& wav_path, int32_t pregap, int32_t postgap, int32_t control);
  bool RemoveTrack(int32_t index);
  void ClearTrack();
  int32_t GetTrackCount() const;
  int AudioTrackCount() const { return static_cast<int>(tracks_.size()); }
  bool GetTrackInformation(int32_t index, TrackInfo* info) const;

  // Texts by TOC track number: 0 or less the disc; with a data area 1 is the data
  // track and n >= 2 audio track n - 2; without one n >= 1 is audio track n - 1.
  bool SetTrackText(int32_t track, int32_t block, int32_t kind, const std::string& text);
  // Empty for a track, block or kind outside the layout.
  std::string GetTrackText(int32_t track, int32_t block, int32_t kind) const;
  bool EnableTrackText(bool on);
  bool TrackTextEnabled() const { return cd_text_on_; }

  // Lays the disc out, builds the TOC (and CD-Text when on) and starts the stream.
  // Returns the total number of sectors, 0 for an empty layout.
  int32_t ReadStart(const std::string& volume_label);
  // The sector at the running LBA: 2352 bytes; a data sector is a Mode 1 sector
  // when raw, else 2048 user bytes followed by zeros. False past the end, or when
  // a source could not be opened or read, is not the file it was when it was
  // added, or holds fewer bytes than it had then (the sector then counts all
  // the same).
  bool Read(uint8_t* sector, bool raw);
  void ReadEnd();

  const TocStructure& Toc() const { return toc_; }
  int32_t RunningLba() const { return lba_; }

 private:
  struct PlayEntry {
    std::string path;
    bool data = false;
    int32_t pregap = 0;
    int32_t postgap = 0;
    int32_t length = 0;
    uint64_t bytes_left = 0;
    platform::SourceIdentity identity;
  };

  // Opens and checks a WAV file; fills the data bytes, the track length and
  // the file's identity of `record`.
  static bool CheckWave(const std::string& path, TrackRecord* record);
  static bool ValidGaps(int32_t pregap, int32_t postgap);
  // The audio track of a track index; -1 outside the list or for the data track.
  int AudioIndexOf(int32_t index) const;
  TrackTextBlock* TextBlockOf(int32_t track);
  const TrackTextBlock* TextBlockOf(int32_t track) const;
  bool ReadAudio(PlayEntry& entry, uint8_t* sector);
  void EndEntry(PlayEntry& entry);
  void PrintToc() const;

  DataTrackSource& data_;
  std::vector<TrackRecord> tracks_;
  TrackTextBlock disc_texts_;
  TrackTextBlock data_texts_;
  bool cd_text_on_ = false;

  TocStructure toc_;
  std::deque<PlayEntry> play_list_;
  int32_t lba_ = 0;
  WaveReader wave_;
  EccEncoder ecc_;
};

}  // namespace sorvel
