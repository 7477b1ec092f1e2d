// Helpers of the disc dialog tests that run whole jobs: the CD in an emulated
// drive exported, bchunk's tracks of a CD image, an action in the middle of a
// job, and a stop question asked inside a remote wait and held open.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

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

// For one scope: at the job's `at`-th event pump the daemon is stopped, and
// `ms` later (the window running meanwhile) it goes on.
class PauseDaemon {
 public:
  PauseDaemon(KestrowStandalone& daemon, int at, int ms, QObject* context)
      : pump_(at, [this, &daemon, ms, context] {
          stopped_ = daemon.Suspend();
          if (!stopped_) return;
          QTimer::singleShot(ms, Qt::PreciseTimer, context, [this, &daemon] {
            daemon.Resume();
            resumed_ = true;
          });
        }) {}
  PauseDaemon(const PauseDaemon&) = delete;
  PauseDaemon& operator=(const PauseDaemon&) = delete;

  bool stopped() const { return stopped_; }
  bool resumed() const { return resumed_; }

 private:
  bool stopped_ = false;
  bool resumed_ = false;
  PumpAction pump_;
};

// For one scope: a timer due every 50 ms, whose ticks show that the window
// answers; the longest time between two ticks (or since the last one) tells
// how long it did not.
class WindowAnswers {
 public:
  WindowAnswers() {
    clock_.start();
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.elapsed();
      longest_ = std::max(longest_, now - last_);
      last_ = now;
      ++ticks_;
    });
    timer_.start(50);
  }
  WindowAnswers(const WindowAnswers&) = delete;
  WindowAnswers& operator=(const WindowAnswers&) = delete;

  qint64 longest_gap_ms() const { return std::max(longest_, clock_.elapsed() - last_); }
  int ticks() const { return ticks_; }

 private:
  QElapsedTimer clock_;
  QTimer timer_;
  qint64 last_ = 0;
  qint64 longest_ = 0;
  int ticks_ = 0;
};

// Lets a stopped daemon go on after `ms` at the latest (or when the object
// goes), so that a window that does not run cannot hold a test for a
// command's whole time-out.
class ResumeAfter {
 public:
  ResumeAfter(KestrowStandalone& daemon, int ms)
      : thread_([this, &daemon, ms] {
          std::unique_lock<std::mutex> lock(mutex_);
          wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done_; });
          daemon.Resume();
        }) {}
  ~ResumeAfter() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  ResumeAfter(const ResumeAfter&) = delete;
  ResumeAfter& operator=(const ResumeAfter&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace sorvel::testing
