#include "mastering_engine/iso_layout.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace sorvel {

namespace {

constexpr uint32_t kRecordBase = 33;
constexpr uint32_t kFixedRecord = 34;  // "." and ".."
// A record holds at most 255 bytes: 33 + 221 + no pad byte.
constexpr size_t kMaxIdentifier = 221;
constexpr size_t kMaxPathTableDirectories = IsoTree::kMaxDirectories;
constexpr char kPreparer[] = "IMAGE MASTERING ENGINE -TAZOL- VERSION 1.4.4";

uint64_t SectorsOf(uint64_t bytes) { return (bytes + kIsoSectorSize - 1) / kIsoSectorSize; }

void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}
void PutBoth16(uint8_t* p, uint16_t v) {
  PutLe16(p, v);
  PutBe16(p + 2, v);
}
void PutBoth32(uint8_t* p, uint32_t v) {
  PutLe32(p, v);
  PutBe32(p + 4, v);
}

std::tm LocalTime(int64_t time) {
  std::tm tm{};
  time_t t = static_cast<time_t>(time);
  if (localtime_r(&t, &tm) == nullptr) {
    t = 0;
    localtime_r(&t, &tm);
  }
  return tm;
}

int8_t OffsetUnits(const std::tm& tm) { return static_cast<int8_t>(tm.tm_gmtoff / 900); }

// Identifier of an entry in one tree, without the record's pad byte.
std::string RecordIdentifier(const IsoNode& node, bool joliet_variant, bool supplementary) {
  std::string id;
  if (supplementary) {
    id = NameToUcs2Be(node.is_directory ? node.name : node.name + ";1");
    if (id.size() > kMaxIdentifier) id.resize(kMaxIdentifier & ~size_t{1});
  } else {
    id = NameToCp932(joliet_variant ? node.short_name : node.name);
    if (!node.is_directory) id += ";1";
    if (id.size() > kMaxIdentifier) id.resize(Cp932CutLength(id, kMaxIdentifier));
  }
  return id;
}

uint32_t RecordLength(size_t id_length) {
  return kRecordBase + static_cast<uint32_t>(id_length) + (id_length % 2 == 0 ? 1 : 0);
}

// Records never cross a sector: one that does not fit starts the next sector.
uint64_t PlaceRecord(uint64_t pos, uint32_t length) {
  if (pos % kIsoSectorSize + length > kIsoSectorSize) pos = SectorsOf(pos) * kIsoSectorSize;
  return pos;
}

uint32_t PathRecordLength(size_t id_length) {
  return 8 + static_cast<uint32_t>(id_length) + (id_length % 2 == 1 ? 1 : 0);
}

// Identifier length in a path table: the root has one byte 0x00.
size_t PathIdentifierLength(const IsoDirectory& dir, const IsoNode& root, bool joliet_variant, bool supplementary) {
  if (dir.owner == &root) return 1;
  return RecordIdentifier(*dir.owner, joliet_variant, supplementary).size();
}

// Sizes of one directory in both trees, kept until the directory changes.
const IsoDirectorySizes& DirectorySizes(const IsoDirectory& dir, const IsoNode& root, bool joliet) {
  IsoDirectorySizes& s = dir.sizes;
  if (s.valid) return s;
  uint64_t primary = 2 * kFixedRecord;
  uint64_t supplementary = 2 * kFixedRecord;
  uint64_t files = 0;
  for (auto& ids : s.identifiers) {
    ids.clear();
    ids.reserve(dir.entries.size());
  }
  for (const auto& [key, child] : dir.entries) {
    s.identifiers[0].push_back(RecordIdentifier(*child, joliet, false));
    uint32_t plen = RecordLength(s.identifiers[0].back().size());
    primary = PlaceRecord(primary, plen) + plen;
    if (joliet) {
      s.identifiers[1].push_back(RecordIdentifier(*child, joliet, true));
      uint32_t len = RecordLength(s.identifiers[1].back().size());
      supplementary = PlaceRecord(supplementary, len) + len;
    }
    if (!child->is_directory && !child->source.empty()) files += SectorsOf(child->size);
  }
  s.primary_sectors = static_cast<uint32_t>(SectorsOf(primary));
  s.supplementary_sectors = joliet ? static_cast<uint32_t>(SectorsOf(supplementary)) : 0;
  s.file_sectors = files;
  s.primary_path_bytes = PathRecordLength(PathIdentifierLength(dir, root, joliet, false));
  s.supplementary_path_bytes = joliet ? PathRecordLength(PathIdentifierLength(dir, root, joliet, true)) : 0;
  s.valid = true;
  return s;
}

struct DirInfo {
  const IsoDirectory* dir = nullptr;
  size_t parent = 0;  // index in pre-order
  int level = 0;
  uint32_t lba[2] = {0, 0};    // primary, supplementary
  uint32_t bytes[2] = {0, 0};  // extent sizes
  uint32_t path_number = 0;
  std::vector<size_t> children;        // indices of its subdirectories, in entry order
  std::vector<uint64_t> file_offsets;  // per file entry, relative to the data start
};

struct Tables {
  uint32_t path_size = 0;
  uint32_t l_path = 0;
  uint32_t m_path = 0;
  uint32_t dir_start = 0;
};

void WriteRecord(uint8_t* p, std::string_view id, uint32_t lba, uint32_t data_length, int64_t time,
                 uint8_t flags) {
  uint32_t length = RecordLength(id.size());
  p[0] = static_cast<uint8_t>(length);
  p[1] = 0;
  PutBoth32(p + 2, lba);
  PutBoth32(p + 10, data_length);
  PutIsoRecordDate(p + 18, time);
  p[25] = flags;
  p[26] = 0;
  p[27] = 0;
  PutBoth16(p + 28, 1);
  p[32] = static_cast<uint8_t>(id.size());
  std::memcpy(p + 33, id.data(), id.size());
}

uint8_t Flags(const IsoNode& node) {
  return static_cast<uint8_t>((node.is_directory ? 2 : 0) | (node.IsHidden() ? 1 : 0));
}

void FillSpaces(uint8_t* p, size_t n, bool ucs2) {
  for (size_t i = 0; i < n; ++i) p[i] = (ucs2 && i % 2 == 0) ? 0x00 : 0x20;
}

void WriteDescriptor(uint8_t* p, bool supplementary, const std::string& label, uint32_t volume_size,
                     const Tables& t, const DirInfo& root, int64_t now) {
  int tree = supplementary ? 1 : 0;
  p[0] = supplementary ? 2 : 1;
  std::memcpy(p + 1, "CD001", 5);
  p[6] = 1;
  p[7] = 0;
  FillSpaces(p + 8, 32, supplementary);
  FillSpaces(p + 40, 32, supplementary);
  if (supplementary) {
    std::string id = NameToUcs2Be(label);
    std::memcpy(p + 40, id.data(), std::min<size_t>(id.size(), 32));
  } else {
    std::string id = NameToCp932(label);
    std::memcpy(p + 40, id.data(), Cp932CutLength(id, 32));
  }
  PutBoth32(p + 80, volume_size);
  if (supplementary) std::memcpy(p + 88, "%/E", 3);
  PutBoth16(p + 120, 1);
  PutBoth16(p + 124, 1);
  PutBoth16(p + 128, static_cast<uint16_t>(kIsoSectorSize));
  PutBoth32(p + 132, t.path_size);
  PutLe32(p + 140, t.l_path);
  PutBe32(p + 148, t.m_path);
  WriteRecord(p + 156, std::string_view("\0", 1), root.lba[tree], root.bytes[tree], now, 2);
  for (size_t off : {190u, 318u, 446u, 574u}) FillSpaces(p + off, 128, supplementary);
  if (!supplementary) std::memcpy(p + 446, kPreparer, sizeof kPreparer - 1);
  for (size_t off : {702u, 739u, 776u}) {
    FillSpaces(p + off, supplementary ? 36 : 37, supplementary);
    if (supplementary) p[off + 36] = 0;
  }
  PutIsoDescriptorDate(p + 813, now);
  PutIsoDescriptorDate(p + 830, now);
  std::memset(p + 847, '0', 16);
  p[863] = 0;
  std::memset(p + 864, '0', 16);
  p[880] = 0;
  p[881] = 1;
}

}  // namespace

void PutIsoRecordDate(uint8_t* p, int64_t time) {
  std::tm tm = LocalTime(time);
  int year = std::clamp(tm.tm_year, 0, 255);
  p[0] = static_cast<uint8_t>(year);
  p[1] = static_cast<uint8_t>(tm.tm_mon + 1);
  p[2] = static_cast<uint8_t>(tm.tm_mday);
  p[3] = static_cast<uint8_t>(tm.tm_hour);
  p[4] = static_cast<uint8_t>(tm.tm_min);
  p[5] = static_cast<uint8_t>(tm.tm_sec);
  p[6] = static_cast<uint8_t>(OffsetUnits(tm));
}

void PutIsoDescriptorDate(uint8_t* p, int64_t time) {
  std::tm tm = LocalTime(time);
  char digits[32];
  std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d00", std::clamp(tm.tm_year + 1900, 0, 9999),
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::memcpy(p, digits, 16);
  p[16] = static_cast<uint8_t>(OffsetUnits(tm));
}

uint32_t EstimateDataTrackSectors(const IsoTree& tree) {
  bool joliet = IsJolietVariant(tree.Variant());
  const auto& all = tree.Directories();
  if (all.size() > kMaxPathTableDirectories) return 0;
  uint64_t path[2] = {0, 0}, dir_sectors = 0, files = 0;
  for (const IsoDirectory* dir : all) {
    const IsoDirectorySizes& s = DirectorySizes(*dir, tree.Root(), joliet);
    path[0] += s.primary_path_bytes;
    path[1] += s.supplementary_path_bytes;
    dir_sectors += s.primary_sectors + s.supplementary_sectors;
    files += s.file_sectors;
  }
  uint64_t total = 16 + (joliet ? 3 : 2) + 2 * SectorsOf(path[0]) + (joliet ? 2 * SectorsOf(path[1]) : 0) +
                   dir_sectors + files;
  if (total + kIsoRunOutSectors > 0xFFFFFFFFull) return 0;
  return static_cast<uint32_t>(total);
}

namespace {

// Records of directory `index` in tree `tree` (0 primary, 1 supplementary) at its extent.
void WriteDirectoryRecords(uint8_t* head, const std::vector<DirInfo>& dirs, size_t index, int tree,
                           const IsoNode& root, bool joliet, uint32_t data_start) {
  const DirInfo& info = dirs[index];
  const DirInfo& parent = dirs[info.parent];
  uint8_t* base = head + static_cast<size_t>(info.lba[tree]) * kIsoSectorSize;
  uint64_t pos = 0;
  auto put = [&](std::string_view id, uint32_t lba, uint32_t length, int64_t time, uint8_t flags) {
    uint32_t record = RecordLength(id.size());
    pos = PlaceRecord(pos, record);
    WriteRecord(base + pos, id, lba, length, time, flags);
    pos += record;
  };
  put(std::string_view("\0", 1), info.lba[tree], info.bytes[tree], info.dir->dot.time, Flags(info.dir->dot));
  put(std::string_view("\1", 1), parent.lba[tree], parent.bytes[tree], info.dir->dotdot.time,
      Flags(info.dir->dotdot));
  size_t next_child = 0;
  size_t next_file = 0;
  const std::vector<std::string>& ids = DirectorySizes(*info.dir, root, joliet).identifiers[tree];
  size_t next_id = 0;
  for (const auto& [key, child] : info.dir->entries) {
    const std::string& id = ids[next_id++];
    if (child->is_directory) {
      const DirInfo& sub = dirs[info.children[next_child++]];
      put(id, sub.lba[tree], sub.bytes[tree], child->time, Flags(*child));
    } else {
      uint64_t offset = info.file_offsets[next_file++];
      uint32_t lba = child->IsDummy() ? kIsoDummyExtent
                     : child->size > 0 ? data_start + static_cast<uint32_t>(offset)
                                       : 0;
      put(id, lba, static_cast<uint32_t>(child->size), child->time, Flags(*child));
    }
  }
}

void WritePathTable(uint8_t* p, const std::vector<DirInfo>& dirs, const std::vector<size_t>& order,
                    const IsoNode& root, int tree, bool joliet, bool big_endian) {
  for (size_t index : order) {
    const DirInfo& info = dirs[index];
    std::string id = info.dir->owner == &root ? std::string(1, '\0')
                                              : RecordIdentifier(*info.dir->owner, joliet, tree == 1);
    p[0] = static_cast<uint8_t>(id.size());
    p[1] = 0;
    uint16_t parent = static_cast<uint16_t>(dirs[info.parent].path_number);
    if (big_endian) {
      PutBe32(p + 2, info.lba[tree]);
      PutBe16(p + 6, parent);
    } else {
      PutLe32(p + 2, info.lba[tree]);
      PutLe16(p + 6, parent);
    }
    std::memcpy(p + 8, id.data(), id.size());
    p += PathRecordLength(id.size());
  }
}

}  // namespace

bool LayOutDataTrack(const IsoTree& tree, std::string_view label, int64_t now, DataTrackLayout* out) {
  *out = DataTrackLayout();
  const bool joliet = IsJolietVariant(tree.Variant());
  const IsoNode& root = tree.Root();
  const int trees = joliet ? 2 : 1;

  // Pre-order walk: directories in extent order, files in placement order.
  std::vector<DirInfo> dirs;
  dirs.reserve(tree.Directories().size());
  dirs.emplace_back();
  dirs[0].dir = root.directory.get();
  struct Frame {
    size_t index;
    std::map<std::string, std::unique_ptr<IsoNode>, std::less<>>::const_iterator it;
  };
  std::vector<Frame> stack{{0, root.directory->entries.begin()}};
  uint64_t file_offset = 0;
  while (!stack.empty()) {
    size_t index = stack.back().index;
    auto& it = stack.back().it;
    if (it == dirs[index].dir->entries.end()) {
      stack.pop_back();
      continue;
    }
    const IsoNode& node = *it->second;
    ++it;
    if (node.is_directory) {
      if (dirs.size() >= kMaxPathTableDirectories) return false;
      DirInfo info;
      info.dir = node.directory.get();
      info.parent = index;
      info.level = dirs[index].level + 1;
      dirs[index].children.push_back(dirs.size());
      dirs.push_back(std::move(info));
      stack.push_back({dirs.size() - 1, node.directory->entries.begin()});
    } else {
      dirs[index].file_offsets.push_back(file_offset);
      if (!node.source.empty() && node.size > 0) {
        uint64_t sectors = SectorsOf(node.size);
        out->files.push_back({node.source, static_cast<uint32_t>(file_offset), static_cast<uint32_t>(sectors),
                              node.size, node.identity});
        file_offset += sectors;
        if (file_offset > 0xFFFFFFFFull) return false;
      }
    }
  }

  // Extent sizes and path-table sizes.
  uint64_t path_bytes[2] = {0, 0};
  for (DirInfo& info : dirs) {
    const IsoDirectorySizes& s = DirectorySizes(*info.dir, root, joliet);
    info.bytes[0] = s.primary_sectors * kIsoSectorSize;
    info.bytes[1] = s.supplementary_sectors * kIsoSectorSize;
    path_bytes[0] += s.primary_path_bytes;
    path_bytes[1] += s.supplementary_path_bytes;
  }

  // Path-table order: by level, and within a level in pre-order; numbered from 1.
  std::vector<size_t> order(dirs.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&dirs](size_t a, size_t b) { return dirs[a].level < dirs[b].level; });
  for (size_t i = 0; i < order.size(); ++i) dirs[order[i]].path_number = static_cast<uint32_t>(i + 1);

  // Positions.
  Tables tables[2];
  uint64_t lba = joliet ? 19 : 18;
  for (int t = 0; t < trees; ++t) {
    tables[t].path_size = static_cast<uint32_t>(path_bytes[t]);
    tables[t].l_path = static_cast<uint32_t>(lba);
    tables[t].m_path = static_cast<uint32_t>(lba + SectorsOf(path_bytes[t]));
    lba += 2 * SectorsOf(path_bytes[t]);
  }
  for (int t = 0; t < trees; ++t) {
    tables[t].dir_start = static_cast<uint32_t>(lba);
    for (DirInfo& info : dirs) {
      info.lba[t] = static_cast<uint32_t>(lba);
      lba += info.bytes[t] / kIsoSectorSize;
    }
  }
  uint64_t data_start = lba;
  uint64_t volume = std::max<uint64_t>(data_start + file_offset + kIsoRunOutSectors, kIsoMinimumVolume);
  if (volume > 0xFFFFFFFFull) return false;

  out->data_start = static_cast<uint32_t>(data_start);
  out->file_sectors = static_cast<uint32_t>(file_offset);
  out->volume_size = static_cast<uint32_t>(volume);
  out->primary_l_path = tables[0].l_path;
  out->primary_m_path = tables[0].m_path;
  out->primary_path_size = tables[0].path_size;
  out->primary_dir_start = tables[0].dir_start;
  if (joliet) {
    out->joliet_l_path = tables[1].l_path;
    out->joliet_m_path = tables[1].m_path;
    out->joliet_path_size = tables[1].path_size;
    out->joliet_dir_start = tables[1].dir_start;
  }
  for (IsoFileExtent& file : out->files) file.lba += out->data_start;

  // The head: system area, descriptors, path tables, directory records.
  out->head.assign(static_cast<size_t>(data_start) * kIsoSectorSize, 0);
  uint8_t* head = out->head.data();
  std::string label_text(label);
  WriteDescriptor(head + 16 * kIsoSectorSize, false, label_text, out->volume_size, tables[0], dirs[0], now);
  if (joliet) WriteDescriptor(head + 17 * kIsoSectorSize, true, label_text, out->volume_size, tables[1], dirs[0], now);
  uint8_t* terminator = head + (joliet ? 18 : 17) * kIsoSectorSize;
  terminator[0] = 255;
  std::memcpy(terminator + 1, "CD001", 5);
  terminator[6] = 1;
  for (int t = 0; t < trees; ++t) {
    WritePathTable(head + static_cast<size_t>(tables[t].l_path) * kIsoSectorSize, dirs, order, root, t, joliet, false);
    WritePathTable(head + static_cast<size_t>(tables[t].m_path) * kIsoSectorSize, dirs, order, root, t, joliet, true);
    for (size_t i = 0; i < dirs.size(); ++i) WriteDirectoryRecords(head, dirs, i, t, root, joliet, out->data_start);
  }

  std::printf("PVD LPathStart=%ld\nPVD MPathStart=%ld\nPVD PathSize=%ld\nPVD DirRecordStart=%ld\n",
              static_cast<long>(out->primary_l_path), static_cast<long>(out->primary_m_path),
              static_cast<long>(out->primary_path_size), static_cast<long>(out->primary_dir_start));
  if (joliet) {
    std::printf("SVD LPathStart=%ld\nSVD MPathStart=%ld\nSVD PathSize=%ld\nSVD DirRecordStart=%ld\n",
                static_cast<long>(out->joliet_l_path), static_cast<long>(out->joliet_m_path),
                static_cast<long>(out->joliet_path_size), static_cast<long>(out->joliet_dir_start));
  }
  std::printf("DataStart=%ld\nTotalLBA=%ld\n", static_cast<long>(out->data_start),
              static_cast<long>(out->volume_size));
  return true;
}

}  // namespace sorvel
