// ISO 9660 / Joliet layout of the data track: where every descriptor, path
// table, directory and file lies, and the bytes of the track's head (system
// area, volume descriptors, path tables, directory records).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mastering_engine/iso_tree.h"

namespace sorvel {

constexpr uint32_t kIsoSectorSize = 2048;
// Sectors after the last file, and the least volume size.
constexpr uint32_t kIsoRunOutSectors = 150;
constexpr uint32_t kIsoMinimumVolume = 300;
// Extent of a dummy file: it has no data.
constexpr uint32_t kIsoDummyExtent = 0xFFFFFFFFu;

// One source file's data in the track.
struct IsoFileExtent {
  std::string source;
  uint32_t lba = 0;
  uint32_t sectors = 0;
  uint64_t size = 0;
  platform::SourceIdentity identity;  // the file as it was added
};

struct DataTrackLayout {
  std::vector<uint8_t> head;          // sectors 0 .. data_start - 1
  std::vector<IsoFileExtent> files;   // placement order; only files with data sectors
  uint32_t primary_l_path = 0;
  uint32_t primary_m_path = 0;
  uint32_t primary_path_size = 0;     // bytes before padding
  uint32_t primary_dir_start = 0;
  uint32_t joliet_l_path = 0;         // Joliet fields stay 0 without the supplementary descriptor
  uint32_t joliet_m_path = 0;
  uint32_t joliet_path_size = 0;
  uint32_t joliet_dir_start = 0;
  uint32_t data_start = 0;            // first sector after the directory records
  uint32_t file_sectors = 0;          // sum of the files' sectors
  uint32_t volume_size = 0;           // file_sectors + data_start + 150, at least 300
};

// Lays the tree out from LBA 0 with the volume label (UTF-8) and the creation
// time `now`. False when the tree cannot be laid out: more than 65,535
// directories (path-table parent numbers are 16-bit) or more sectors than 32 bits count.
bool LayOutDataTrack(const IsoTree& tree, std::string_view label, int64_t now, DataTrackLayout* out);

// file_sectors + data_start of the current tree, from per-directory sizes kept
// until a directory changes; 0 when the tree cannot be laid out.
uint32_t EstimateDataTrackSectors(const IsoTree& tree);

// The 7-byte recording date of a directory record: local time with the real
// offset from UTC of that moment, in 15-minute units.
void PutIsoRecordDate(uint8_t* p, int64_t time);
// The 17-byte volume descriptor date: 16 digits and the offset.
void PutIsoDescriptorDate(uint8_t* p, int64_t time);

}  // namespace sorvel
