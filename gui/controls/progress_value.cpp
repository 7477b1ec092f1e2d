#include "gui/controls/progress_value.h"

#include <QProgressBar>
#include <cstdint>

#include "gui/foundation/progress_step.h"

namespace sorvel {

bool SetProgressValue(QProgressBar& bar, int value) {
  const int minimum = bar.minimum();
  const int maximum = bar.maximum();
  if (value < minimum || value > maximum) return false;
  if (!ProgressStepDue(minimum, maximum, bar.value(), value)) return false;
  bar.setValue(value);
  return true;
}

}  // namespace sorvel
