// Progress bars fed by jobs that report every sector or frame.
#pragma once

class QProgressBar;

namespace sorvel {

// Gives `bar` the value `value` when it moves the bar by a thousandth of its
// range or more, or is one of its ends: a new value costs the bar a style
// pass (a microsecond or two), and a smaller step shows on no bar. A value
// outside the range is ignored. True when the bar took the value.
bool SetProgressValue(QProgressBar& bar, int value);

}  // namespace sorvel
