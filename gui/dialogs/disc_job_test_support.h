// Helpers of the disc dialog tests that run whole jobs: the CD in an emulated
// drive exported, bchunk's tracks of a CD image, an action in the middle of a
// job, and a stop question asked inside a remote wait and held open.
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
#include "gui/model/trelin.h"
#include "platform/emulated_drive/emulated_drive_registry.h"
#include "platform/emulated_drive/soft_mmc_drive.h"
#include "testing/file_bytes.h"
#include "testing/gui/scripted_modal_ui.h"
#include "testing/kestrow_standalone.h"
#include "testing/test_paths.h"

namespace sorvel::testing {

// Exports the CD in the open emulated drive `state` as "disc.cue" and
// "disc.bin" into `dir`; false (with a test failure) when it cannot.
inline bool ExportDisc(const std::string& state, const std::filesystem::path& dir) {
  platform::emu::SoftMmcDrive* drive = platform::emu::FindOpenDrive(state);
  EXPECT_NE(drive, nullptr) << state;
  if (drive == nullptr) return false;
  std::filesystem::create_directories(dir);
  std::string error;
  const bool exported = drive->ExportCd((dir / "disc.cue").string(), &error);
  EXPECT_TRUE(exported) << error;
  return exported;
}

// For one scope: runs `action` in the job's `at`-th event pump, once.
class PumpAction {
 public:
  PumpAction(int at, std::function<void()> action) {
    previous_ = InstallMessagePump([this, at, action = std::move(action)] {
      if (++pumps_ == at) action();
      QCoreApplication::processEvents();
    });
  }
  ~PumpAction() { InstallMessagePump(previous_); }
  PumpAction(const PumpAction&) = delete;
  PumpAction& operator=(const PumpAction&) = delete;

  int pumps() const { return pumps_; }

 private:
  std::function<void()> previous_;
  int pumps_ = 0;
};

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

// For one scope: the stop question opens inside the wait of a command of a
// remote drive and stays open for `hold_ms` in a nested event loop before it
// answers from the script. The job's `at`-th event pump stops the daemon's
// process, so that a command waits; the first pump that comes from inside
// that wait (the engine then refuses its exports on this thread: the error
// status reads as a lost drive) lets the daemon go on and clicks `stop_button`.
class StopQuestionInRemoteWait {
 public:
  StopQuestionInRemoteWait(ScriptedModalUi& ui, QPushButton* stop_button, Trelin& device, KestrowStandalone& daemon,
                           int hold_ms, int at = 5)
      : ui_(ui), daemon_(daemon) {
    previous_pump_ = InstallMessagePump([this, stop_button, &device, at] {
      ++pumps_;
      if (pumps_ == at) {
        suspended_ = daemon_.Suspend();
      } else if (suspended_ && !clicked_ && device.GetSCSIErrorStatus() == 0xFFFFFF) {
        daemon_.Resume();
        clicked_ = true;
        stop_button->click();
      }
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
  ~StopQuestionInRemoteWait() {
    if (suspended_) daemon_.Resume();
    InstallMessagePump(previous_pump_);
    ui_.on_message = nullptr;
  }
  StopQuestionInRemoteWait(const StopQuestionInRemoteWait&) = delete;
  StopQuestionInRemoteWait& operator=(const StopQuestionInRemoteWait&) = delete;

  // Whether the question was asked from inside a remote wait.
  bool asked_in_wait() const { return clicked_; }
  qint64 held_ms() const { return held_ms_; }

 private:
  ScriptedModalUi& ui_;
  KestrowStandalone& daemon_;
  std::function<void()> previous_pump_;
  int pumps_ = 0;
  bool suspended_ = false;
  bool clicked_ = false;
  qint64 held_ms_ = 0;
};

}  // namespace sorvel::testing
