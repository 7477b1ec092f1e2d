// The erase of a rewritable disc as a job: while a command of a remote drive
// waits (a full format may take an hour), the window system runs.
#pragma once

#include <functional>

#include "gui/jobs/disc_job.h"

namespace sorvel {

class MediaEraser : public DiscJob {
  Q_OBJECT

 public:
  explicit MediaEraser(QObject* parent = nullptr) : DiscJob(parent) {}

  // Runs `steps` (the checks and the erase of the form) with the waits of
  // `drive` watched; their answer.
  bool Run(Trelin& drive, const std::function<bool()>& steps);
};

}  // namespace sorvel
