// The erase of a rewritable disc as a job: while a command of a remote drive
// waits (a full format may take an hour), the window system runs.
#pragma once

#include "gui/jobs/disc_job.h"

namespace sorvel {

class MediaEraser : public DiscJob {
  Q_OBJECT

 public:
  explicit MediaEraser(QObject* parent = nullptr) : DiscJob(parent) {}

  // EraseMedia on `drive` with its waits watched; the drive's answer.
  bool Erase(Trelin& drive, bool quickly);
};

}  // namespace sorvel
