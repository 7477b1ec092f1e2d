// What the audio track layer needs of the data area: whether it holds anything,
// the data track's layout and its stream of 2048-byte blocks.
#pragma once

#include <cstdint>
#include <string>

namespace sorvel {

class DataTrackSource {
 public:
  virtual ~DataTrackSource() = default;

  // True when the data area holds anything, so the disc starts with a data track.
  virtual bool HasDataArea() const = 0;
  // Lays the data track out from LBA 0 and prepares its block stream; returns its
  // length in sectors (the volume space size), 0 when nothing could be laid out.
  virtual int32_t StartDataTrack(const std::string& volume_label) = 0;
  // The next 2048-byte block of the data track; false on a read error of a source file.
  virtual bool ReadDataBlock(uint8_t* block) = 0;
  // Ends the block stream: closes the open source file and drops the prepared data.
  virtual void EndDataTrack() = 0;
  // The sectors up to the end of the last file, from the current tree.
  virtual int32_t DataTrackLengthEstimate() = 0;
  // Empties the data area.
  virtual void ClearDataArea() = 0;
};

}  // namespace sorvel
