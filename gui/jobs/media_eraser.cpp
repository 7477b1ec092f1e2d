#include "gui/jobs/media_eraser.h"

#include "gui/model/trelin.h"

namespace sorvel {

bool MediaEraser::Run(Trelin& drive, const std::function<bool()>& steps) {
  RemoteWaitWatch waits(*this, drive);
  return steps();
}

}  // namespace sorvel
