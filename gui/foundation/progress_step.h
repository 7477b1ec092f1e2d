// Progress reported per sector or frame, passed on in visible steps.
#pragma once

#include <cstdint>

namespace sorvel {

// Whether `value`, after `last` was passed on, is worth passing on for a
// range from `minimum` to `maximum`: it lies in another thousandth of the
// range than `last`, or is one of its ends. A finer step shows on no bar,
// and each value passed on costs something of its own (a bar's style pass,
// a bus message). An empty or reversed range passes every value.
bool ProgressStepDue(int64_t minimum, int64_t maximum, int64_t last, int64_t value);

}  // namespace sorvel
