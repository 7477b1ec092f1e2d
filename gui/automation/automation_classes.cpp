#include "gui/automation/automation_service.h"
#include "gui/automation/mastering_bus.h"
#include "gui/automation/tln_speeds_bus.h"
#include "gui/automation/toc_information_bus.h"
#include "gui/automation/toc_records_bus.h"
#include "gui/automation/trelin_bus.h"

namespace sorvel {

std::vector<const BusClass*> AutomationClasses() {
  return {&MasteringBusClass(),   &TrelinBusClass(),      &TOCInformationBusClass(), &TOCTrackBusClass(),
          &TOCRawTrackBusClass(), &TOCCDTextBusClass(),   &TLNSpeedsBusClass(),      &TLNSpeedBusClass()};
}

}  // namespace sorvel
