// The engine object behind the library's exports: the data-area tree, its
// layout and stream, the audio tracks with the disc stream and its TOC, and the
// cursor of the find operations.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "mastering_engine/iso_data_track.h"
#include "mastering_engine/iso_image_stream.h"
#include "mastering_engine/track_layer.h"

namespace sorvel {

// One entry as the find operations report it.
struct IsoFindEntry {
  std::string name;    // first name; "." and ".." for the fixed entries
  std::string source;  // host file; for "." the directory's own name; empty for directories and dummies
  uint32_t attributes = 0;
  uint32_t size = 0;
  int64_t time = 0;
  bool is_directory = false;
};

class MasteringEngine : public IsoImageStream {
 public:
  // major × 10000 + minor × 100 + build (1.4.4).
  static constexpr int32_t kVersion = 10404;

  MasteringEngine() = default;
  ~MasteringEngine() override = default;

  // Starts an enumeration of the current directory: ".", "..", then the entries in order.
  bool FindISOFirstFile(IsoFindEntry* entry);
  // The next entry; false (entry untouched) past the end, or once the tree changed.
  bool FindISONextFile(IsoFindEntry* entry);

  // Audio tracks, texts and the disc stream.
  TrackLayer& Tracks() { return tracks_; }
  const TrackLayer& Tracks() const { return tracks_; }

  // Copies one part of the layout TOC that the last ReadStart built. Returns the
  // bytes copied; 0 when fewer than 3 (4 for the CD-Text part) would be copied.
  int32_t GetTOCStructure(int32_t part, void* buffer, int32_t size) const;

 protected:
  size_t AudioTrackCount() const override { return static_cast<size_t>(tracks_.AudioTrackCount()); }

 private:
  using EntryMap = std::map<std::string, std::unique_ptr<IsoNode>, std::less<>>;
  bool FillFromCursor(IsoFindEntry* entry);

  const IsoDirectory* find_dir_ = nullptr;
  int find_fixed_ = 0;  // 0 ".", 1 "..", 2 the entries
  EntryMap::const_iterator find_it_;
  uint64_t find_generation_ = 0;

  IsoDataTrack data_track_{*this};
  TrackLayer tracks_{data_track_};
};

}  // namespace sorvel
