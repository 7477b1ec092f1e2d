#include "mastering_engine/track_layer.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace sorvel {

namespace {

void AddEntry(TocStructure& toc, int track, int index, int32_t control, uint8_t mode, int32_t start,
              int32_t end) {
  TOCTrack entry;
  entry.SessionNo = 1;
  entry.TrackNo = static_cast<uint8_t>(track);
  entry.IndexNo = static_cast<uint8_t>(index);
  entry.Flags = static_cast<uint8_t>(control);
  entry.SectorMode = mode;
  entry.StartLBA = start;
  entry.EndLBA = end;
  toc.AddTrack(entry);
}

}  // namespace

TrackLayer::TrackLayer(DataTrackSource& data) : data_(data) {}

TrackLayer::~TrackLayer() = default;

bool TrackLayer::ValidGaps(int32_t pregap, int32_t postgap) {
  return pregap >= 0 && postgap >= 0 && pregap <= kMaxGap && postgap <= kMaxGap;
}

bool TrackLayer::CheckWave(const std::string& path, TrackRecord* record) {
  WaveReader reader;
  if (!reader.Open(path) || !reader.Format().IsCdAudio()) return false;
  uint64_t bytes = reader.DataBytes();
  uint64_t sectors = (bytes + kSectorSize - 1) / kSectorSize;
  if (sectors < kMinTrackLength) sectors = kMinTrackLength;
  record->path = path;
  record->data_bytes = bytes;
  record->length = static_cast<int32_t>(sectors);  // at most 4 GiB / 2352, well inside int32
  record->identity = reader.Identity();
  return true;
}

bool TrackLayer::AddTrack(const std::string& wav_path, int32_t pregap, int32_t postgap, int32_t control) {
  int limit = data_.HasDataArea() ? kMaxTracks - 1 : kMaxTracks;
  if (AudioTrackCount() >= limit || !ValidGaps(pregap, postgap)) return false;
  TrackRecord record;
  if (!CheckWave(wav_path, &record)) return false;
  record.pregap = pregap;
  record.postgap = postgap;
  // An audio track never claims to be data: the data bit of its control is dropped.
  record.control = control & ~kDataTrackFlag;
  tracks_.push_back(std::move(record));
  return true;
}

int TrackLayer::AudioIndexOf(int32_t index) const {
  int64_t audio = data_.HasDataArea() ? int64_t{index} - 1 : index;  // 64-bit: index may be INT32_MIN
  if (audio < 0 || audio >= AudioTrackCount()) return -1;
  return static_cast<int>(audio);
}

bool TrackLayer::ResetTrack(int32_t index, const std::string& wav_path, int32_t pregap, int32_t postgap,
                            int32_t control) {
  int audio = AudioIndexOf(index);
  if (audio < 0 || !ValidGaps(pregap, postgap)) return false;
  TrackRecord& record = tracks_[static_cast<size_t>(audio)];
  if (wav_path != record.path) {
    TrackRecord checked;
    if (!CheckWave(wav_path, &checked)) return false;
    record.path = checked.path;
    record.data_bytes = checked.data_bytes;
    record.length = checked.length;
    record.identity = checked.identity;
  }
  record.pregap = pregap;
  record.postgap = postgap;
  record.control = control & ~kDataTrackFlag;
  return true;
}

bool TrackLayer::RemoveTrack(int32_t index) {
  if (data_.HasDataArea() && index == 0) {
    data_.ClearDataArea();
    return true;
  }
  int audio = AudioIndexOf(index);
  if (audio < 0) return false;
  tracks_.erase(tracks_.begin() + audio);
  return true;
}

void TrackLayer::ClearTrack() {
  tracks_.clear();
  disc_texts_.Clear();
  data_texts_.Clear();
}

int32_t TrackLayer::GetTrackCount() const { return AudioTrackCount() + (data_.HasDataArea() ? 1 : 0); }

bool TrackLayer::GetTrackInformation(int32_t index, TrackInfo* info) const {
  bool has_data = data_.HasDataArea();
  if (has_data && index == 0) {
    *info = TrackInfo{};
    info->pregap = 150;
    info->control = kDataTrackFlag;
    info->length = data_.DataTrackLengthEstimate();
    return true;
  }
  int audio = AudioIndexOf(index);
  if (audio < 0) return false;
  const TrackRecord& record = tracks_[static_cast<size_t>(audio)];
  info->path = record.path;
  // The first track of the disc always reports the standard 2-second pregap,
  // which is never streamed.
  info->pregap = (!has_data && audio == 0) ? 150 : record.pregap;
  info->postgap = record.postgap;
  info->control = record.control;
  info->length = record.length;
  return true;
}

TrackTextBlock* TrackLayer::TextBlockOf(int32_t track) {
  return const_cast<TrackTextBlock*>(static_cast<const TrackLayer*>(this)->TextBlockOf(track));
}

const TrackTextBlock* TrackLayer::TextBlockOf(int32_t track) const {
  if (track <= 0) return &disc_texts_;
  int32_t audio = track - 1;
  if (data_.HasDataArea()) {
    if (track == 1) return &data_texts_;
    audio = track - 2;
  }
  if (audio >= AudioTrackCount()) return nullptr;
  return &tracks_[static_cast<size_t>(audio)].texts;
}

bool TrackLayer::SetTrackText(int32_t track, int32_t block, int32_t kind, const std::string& text) {
  TrackTextBlock* texts = TextBlockOf(track);
  if (texts == nullptr || !TrackTextBlock::IsValid(block, kind)) return false;
  texts->Set(block, kind, text);
  return true;
}

std::string TrackLayer::GetTrackText(int32_t track, int32_t block, int32_t kind) const {
  const TrackTextBlock* texts = TextBlockOf(track);
  return texts == nullptr ? std::string() : texts->Get(block, kind);
}

bool TrackLayer::EnableTrackText(bool on) {
  cd_text_on_ = on;
  return cd_text_on_;
}

int32_t TrackLayer::ReadStart(const std::string& volume_label) {
  ReadEnd();
  toc_.Clear();
  int32_t total = 0;
  int track = 1;
  bool has_data = data_.HasDataArea();
  if (has_data) {
    int32_t length = data_.StartDataTrack(volume_label);
    if (length <= 0) {
      std::printf("The data area could not be laid out.\n");
      return 0;
    }
    PlayEntry entry;
    entry.data = true;
    entry.length = length;
    play_list_.push_back(entry);
    AddEntry(toc_, track, 1, kDataTrackFlag, 1, 0, length - 1);
    total = length;
    ++track;
  }
  for (const TrackRecord& record : tracks_) {
    PlayEntry entry;
    entry.path = record.path;
    // The first track of the disc starts at LBA 0: its pregap is not produced.
    entry.pregap = track > 1 ? record.pregap : 0;
    if (int64_t{total} + entry.pregap + record.length + record.postgap > std::numeric_limits<int32_t>::max()) {
      std::printf("The layout needs more sectors than a disc can address.\n");
      ReadEnd();
      toc_.Clear();
      return 0;
    }
    entry.postgap = record.postgap;
    entry.length = record.length;
    entry.bytes_left = record.data_bytes;
    entry.identity = record.identity;
    play_list_.push_back(entry);
    if (entry.pregap > 0) {
      AddEntry(toc_, track, 0, record.control, 0, total, total + entry.pregap - 1);
      total += entry.pregap;
    }
    AddEntry(toc_, track, 1, record.control, 0, total, total + record.length + record.postgap - 1);
    total += record.length + record.postgap;
    ++track;
  }

  if (cd_text_on_ && total > 0) {
    CdTextBuilder builder;
    builder.SetEntry(0, disc_texts_);
    int entry = 1;
    if (has_data) builder.SetEntry(entry++, data_texts_);
    for (const TrackRecord& record : tracks_) builder.SetEntry(entry++, record.texts);
    if (builder.Build(track - 1)) {
      std::vector<uint8_t> part(2 + builder.Packs().size());
      auto count = static_cast<uint16_t>(builder.PackCount());
      part[0] = static_cast<uint8_t>(count);
      part[1] = static_cast<uint8_t>(count >> 8);
      std::memcpy(part.data() + 2, builder.Packs().data(), builder.Packs().size());
      toc_.SetPart(TST_CDTEXT, part.data(), static_cast<int32_t>(part.size()));
    }
  }
  lba_ = 0;
  PrintToc();
  return total;
}

void TrackLayer::PrintToc() const {
  std::printf("==== TOC Information ====\n");
  for (int i = 0; i < toc_.Count(TST_TOC); ++i) {
    TOCTrack e = toc_.Track(i);
    std::printf("%02X %02X %02X %02X %02X %6ld %6ld\n", e.SessionNo, e.TrackNo, e.IndexNo, e.Flags, e.SectorMode,
                static_cast<long>(e.StartLBA), static_cast<long>(e.EndLBA));
  }
  std::printf("==== TOC Information ====\n");
}

bool TrackLayer::ReadAudio(PlayEntry& entry, uint8_t* sector) {
  if (!wave_.IsOpen()) {
    std::printf("Open AUDIO TRACK '%s'\n", entry.path.c_str());
    // Another file at the path since the track was added (or the same file
    // rewritten) would be burned as this track: refused.
    if (!wave_.Open(entry.path) ||
        platform::CompareSource(entry.identity, wave_.Identity()) != platform::SourceChange::kNone) {
      std::printf("'%s' cannot be opened or is not the file that was added.\n", entry.path.c_str());
      wave_.Close();
      return false;  // retried on the next sector of the track
    }
  }
  // Never more than the track had when it was added: a file that grew is cut there.
  size_t want = entry.bytes_left < static_cast<uint64_t>(kSectorSize) ? static_cast<size_t>(entry.bytes_left)
                                                                       : static_cast<size_t>(kSectorSize);
  if (want == 0) return true;
  int64_t got = wave_.Read(sector, want);
  if (got < 0) {
    std::printf("Read error on '%s'.\n", entry.path.c_str());
    std::memset(sector, 0, kSectorSize);
    entry.bytes_left -= want;  // the sector is spent; the next one reads on
    return false;
  }
  // A file that shrank ends early: the sector fails rather than reach the
  // disc with a silent tail, and so does every later sector of its data.
  entry.bytes_left -= want;
  if (got < static_cast<int64_t>(want)) {
    std::printf("Read error on '%s'.\n", entry.path.c_str());
    return false;
  }
  return true;
}

void TrackLayer::EndEntry(PlayEntry& entry) {
  if (entry.data) {
    data_.EndDataTrack();
  } else {
    wave_.Close();
  }
}

bool TrackLayer::Read(uint8_t* sector, bool raw) {
  std::memset(sector, 0, kSectorSize);
  if (play_list_.empty()) {
    ++lba_;
    return false;
  }
  PlayEntry& entry = play_list_.front();
  bool result = true;
  if (entry.data) {
    if (entry.length > 0) {
      result = data_.ReadDataBlock(raw ? sector + 16 : sector);
      if (raw) ecc_.EncodeMode1(sector, lba_);
      --entry.length;
    }
  } else if (entry.pregap > 0) {
    --entry.pregap;
  } else if (entry.length > 0) {
    result = ReadAudio(entry, sector);
    --entry.length;
  } else if (entry.postgap > 0) {
    --entry.postgap;
  }
  if (entry.pregap <= 0 && entry.length <= 0 && entry.postgap <= 0) {
    EndEntry(entry);
    play_list_.pop_front();
  }
  ++lba_;
  return result;
}

void TrackLayer::ReadEnd() {
  data_.EndDataTrack();
  wave_.Close();
  play_list_.clear();
}

}  // namespace sorvel
