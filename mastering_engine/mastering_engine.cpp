#include "mastering_engine/mastering_engine.h"

namespace sorvel {

namespace {

void Fill(const IsoNode& node, IsoFindEntry* entry) {
  entry->name = node.name;
  entry->source = node.source;
  entry->attributes = node.attributes;
  entry->size = node.is_directory ? 0 : static_cast<uint32_t>(node.size);
  entry->time = node.time;
  entry->is_directory = node.is_directory;
}

}  // namespace

bool MasteringEngine::FindISOFirstFile(IsoFindEntry* entry) {
  find_dir_ = &Current();
  find_fixed_ = 0;
  find_generation_ = Generation();
  return FillFromCursor(entry);
}

bool MasteringEngine::FindISONextFile(IsoFindEntry* entry) { return FillFromCursor(entry); }

bool MasteringEngine::FillFromCursor(IsoFindEntry* entry) {
  // A changed tree may have freed the directory or the entry under the cursor.
  if (find_dir_ == nullptr || find_generation_ != Generation() || entry == nullptr) {
    find_dir_ = nullptr;
    return false;
  }
  if (find_fixed_ == 0) {
    Fill(find_dir_->dot, entry);
    find_fixed_ = 1;
    return true;
  }
  if (find_fixed_ == 1) {
    Fill(find_dir_->dotdot, entry);
    find_fixed_ = 2;
    find_it_ = find_dir_->entries.begin();
    return true;
  }
  if (find_it_ == find_dir_->entries.end()) return false;
  Fill(*find_it_->second, entry);
  ++find_it_;
  return true;
}

int32_t MasteringEngine::GetTOCStructure(int32_t part, void* buffer, int32_t size) const {
  if (buffer == nullptr) return 0;
  if (part == TST_CDTEXT) {
    // A CD-Text part is only handed out with at least its count and two bytes.
    int64_t full = 2 + static_cast<int64_t>(tracks_.Toc().Count(TST_CDTEXT)) * TOCCDText::kSize;
    if ((size < full ? size : full) < 4) return 0;
  }
  return tracks_.Toc().GetPart(part, buffer, size);
}

}  // namespace sorvel
