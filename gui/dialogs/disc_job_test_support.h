// Helpers of the disc dialog tests that run whole jobs: bchunk's tracks of a
// CD image, and a stop question asked in the middle of a job and held open.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "gui/jobs/message_pump.h"
#include "testing/file_bytes.h"
#include "testing/gui/scripted_modal_ui.h"
#include "testing/test_paths.h"

namespace sorvel::testing {

// bchunk's tracks of `bin` with `cue`, written into `out`: file name -> bytes.
inline std::map<std::string, std::string> BchunkTracks(const std::filesystem::path& bin,
                                                       const std::filesystem::path& cue,
                                                       const std::filesystem::path& out) {
  std::filesystem::create_directories(out);
  std::string log;
  EXPECT_EQ(RunCommand("cd '" + out.string() + "' && bchunk '" + bin.string() + "' '" + cue.string() + "' t 2>&1", &log),
            0)
      << log;
  std::map<std::string, std::string> tracks;
  for (const auto& entry : std::filesystem::directory_iterator(out))
    tracks[entry.path().filename().string()] = ReadFileBytes(entry.path());
  return tracks;
}

// For one scope: the job's 5th event pump clicks `stop_button`, and the stop
// question (style 292) stays open for `hold_ms` in a nested event loop, as a
// modal box would, before it answers from the script.
class HeldStopQuestion {
 public:
  HeldStopQuestion(ScriptedModalUi& ui, QPushButton* stop_button, int hold_ms = 5000) : ui_(ui) {
    previous_pump_ = InstallMessagePump([this, stop_button] {
      if (++pumps_ == 5) stop_button->click();
      QCoreApplication::processEvents();
    });
    ui_.on_message = [this, hold_ms](const ShownMessage& message) {
      if (message.style != 292) return;
      QElapsedTimer timer;
      timer.start();
      QEventLoop loop;
      QTimer::singleShot(hold_ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
      loop.exec();
      held_ms_ = timer.elapsed();
    };
  }
  ~HeldStopQuestion() {
    InstallMessagePump(previous_pump_);
    ui_.on_message = nullptr;
  }
  HeldStopQuestion(const HeldStopQuestion&) = delete;
  HeldStopQuestion& operator=(const HeldStopQuestion&) = delete;

  int pumps() const { return pumps_; }
  qint64 held_ms() const { return held_ms_; }

 private:
  ScriptedModalUi& ui_;
  std::function<void()> previous_pump_;
  int pumps_ = 0;
  qint64 held_ms_ = 0;
};

}  // namespace sorvel::testing
