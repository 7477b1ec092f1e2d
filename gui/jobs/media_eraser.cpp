#include "gui/jobs/media_eraser.h"

#include "gui/model/trelin.h"

namespace sorvel {

bool MediaEraser::Erase(Trelin& drive, bool quickly) {
  RemoteWaitWatch waits(*this, drive);
  return drive.EraseMedia(quickly);
}

}  // namespace sorvel
