// The data track as a stream of 2048-byte blocks: the laid-out head from
// memory, then every source file in placement order, then zeros to the end of
// the volume space.
#pragma once

#include <cstdint>
#include <string_view>

#include "mastering_engine/block_file_reader.h"
#include "mastering_engine/iso_layout.h"
#include "mastering_engine/iso_tree.h"

namespace sorvel {

class IsoImageStream : public IsoTree {
 public:
  IsoImageStream() = default;
  ~IsoImageStream() override;

  // Lays the data track out from LBA 0 with the volume label and makes the
  // stream ready. Returns the volume space size in sectors (at least 300), or 0
  // when the tree cannot be laid out; the stream is then not ready.
  uint32_t BuildDataTrack(std::string_view label);
  bool DataTrackReady() const { return ready_; }
  // Fills `block` (2048 bytes) with the next block of the track. False when the
  // stream is not ready or a source file could not be opened or read, is not
  // the file that was added, was written while it was read (at its last
  // block), or gave fewer bytes than its recorded size puts in the block (the
  // rest of the block is then zero, and the stream has still moved on by one
  // block).
  bool ReadDataBlock(uint8_t* block);
  // Closes the open source and drops the head and the queue.
  void EndDataTrack();
  // Sectors up to the end of the last file (the data start plus the file
  // sectors) of the current tree, without the run-out; 0 when it cannot be laid out.
  uint32_t DataTrackLength() const;
  // The layout of the last BuildDataTrack.
  const DataTrackLayout& Layout() const { return layout_; }

 private:
  DataTrackLayout layout_;
  bool ready_ = false;
  size_t head_pos_ = 0;
  size_t next_file_ = 0;
  uint32_t file_sectors_left_ = 0;
  uint64_t file_bytes_left_ = 0;
  bool file_failed_ = false;
  BlockFileReader file_;
  mutable uint64_t length_generation_ = ~uint64_t{0};
  mutable uint32_t length_ = 0;
};

}  // namespace sorvel
