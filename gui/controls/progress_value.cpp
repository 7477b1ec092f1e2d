#include "gui/controls/progress_value.h"

#include <QProgressBar>
#include <cstdint>

namespace sorvel {

bool SetProgressValue(QProgressBar& bar, int value) {
  const int minimum = bar.minimum();
  const int maximum = bar.maximum();
  if (value < minimum || value > maximum) return false;
  const int64_t range = int64_t{maximum} - minimum;
  const auto step = [&](int v) { return range > 0 ? (int64_t{v} - minimum) * 1000 / range : 0; };
  if (value != minimum && value != maximum && step(value) == step(bar.value())) return false;
  bar.setValue(value);
  return true;
}

}  // namespace sorvel
