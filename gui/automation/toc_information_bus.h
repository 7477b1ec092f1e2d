// TOCInformation on the bus ("SORVEL.TOCInformation"): a creatable class, also
// handed out by Trelin's GetTOCStructure. Its descriptor readers report through
// the signals StatusChangeEx and then StatusChange, sent to the object's owner
// before the reader's call answers.
#pragma once

#include <memory>

#include "gui/automation/bus_object.h"
#include "gui/model/toc_information.h"

namespace sorvel {

inline constexpr char kTOCInformationInterface[] = "SORVEL.TOCInformation";

const BusClass& TOCInformationBusClass();

class TOCInformationBusObject : public BusObject {
 public:
  explicit TOCInformationBusObject(std::unique_ptr<TOCInformation> toc = nullptr);
  TOCInformation& Toc() { return *toc_; }

 private:
  std::unique_ptr<TOCInformation> toc_;
};

}  // namespace sorvel
