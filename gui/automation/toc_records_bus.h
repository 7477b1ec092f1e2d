// The TOC model's three record classes on the bus: TOCTrack ("SORVEL.TOCTrack"),
// TOCRawTrack ("SORVEL.TOCRawTrack") and TOCCDText ("SORVEL.TOCCDText"). A
// client may create one of its own; the ones TOCInformation's TOC, RawTOC
// and CDText hand out are the entries stored in the model, so that setting a
// property changes the model, and one entry asked for twice is one object.
#pragma once

#include <memory>

#include "gui/automation/bus_object.h"
#include "gui/model/toc_records.h"

namespace sorvel {

inline constexpr char kTOCTrackInterface[] = "SORVEL.TOCTrack";
inline constexpr char kTOCRawTrackInterface[] = "SORVEL.TOCRawTrack";
inline constexpr char kTOCCDTextInterface[] = "SORVEL.TOCCDText";

const BusClass& TOCTrackBusClass();
const BusClass& TOCRawTrackBusClass();
const BusClass& TOCCDTextBusClass();

// One record of type R shared with the model that holds it (or a new one).
template <typename R>
class TOCRecordBusObject : public BusObject {
 public:
  TOCRecordBusObject(const BusClass& bus_class, std::shared_ptr<R> record)
      : BusObject(bus_class), record_(record != nullptr ? std::move(record) : std::make_shared<R>()) {}
  R& Record() { return *record_; }

 private:
  std::shared_ptr<R> record_;
};

using TOCTrackBusObject = TOCRecordBusObject<model::TOCTrack>;
using TOCRawTrackBusObject = TOCRecordBusObject<model::TOCRawTrack>;
using TOCCDTextBusObject = TOCRecordBusObject<model::TOCCDText>;

std::shared_ptr<BusObject> MakeTOCTrackObject(std::shared_ptr<model::TOCTrack> record);
std::shared_ptr<BusObject> MakeTOCRawTrackObject(std::shared_ptr<model::TOCRawTrack> record);
std::shared_ptr<BusObject> MakeTOCCDTextObject(std::shared_ptr<model::TOCCDText> record);

}  // namespace sorvel
