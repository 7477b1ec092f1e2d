// The data area's ISO 9660 layout and block stream as the data track of the disc.
#pragma once

#include "mastering_engine/data_track_source.h"
#include "mastering_engine/iso_image_stream.h"

namespace sorvel {

class IsoDataTrack : public DataTrackSource {
 public:
  explicit IsoDataTrack(IsoImageStream& stream) : stream_(stream) {}

  bool HasDataArea() const override { return !stream_.IsISOEmpty(); }
  int32_t StartDataTrack(const std::string& volume_label) override {
    return static_cast<int32_t>(stream_.BuildDataTrack(volume_label));
  }
  bool ReadDataBlock(uint8_t* block) override { return stream_.ReadDataBlock(block); }
  void EndDataTrack() override { stream_.EndDataTrack(); }
  int32_t DataTrackLengthEstimate() override { return static_cast<int32_t>(stream_.DataTrackLength()); }
  void ClearDataArea() override { stream_.ClearISO(); }

 private:
  IsoImageStream& stream_;
};

}  // namespace sorvel
