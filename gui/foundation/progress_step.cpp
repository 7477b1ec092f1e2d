#include "gui/foundation/progress_step.h"

namespace sorvel {

bool ProgressStepDue(int64_t minimum, int64_t maximum, int64_t last, int64_t value) {
  const int64_t range = maximum - minimum;
  if (range <= 0 || value == minimum || value == maximum) return true;
  const auto step = [&](int64_t v) { return (v - minimum) * 1000 / range; };
  return step(value) != step(last);
}

}  // namespace sorvel
