// TrackRippingSubForm: the progress dialog of a rip, on the job dialog's
// frame (title band, bar, log; its start button is the stop button 中止 and
// its end button is hidden). Shown modally by ShowOpen, it rips every ticked
// row of the rip form's track list, one DiscRipper run per track, with the
// medium locked, and reports the outcome. The stop button asks first; the
// close box and Escape stop at once; the window stays until the run ends. The
// run is not kept awake (unlike the jobs that JobDialog::RunJob runs).
#pragma once

#include "gui/dialogs/job_dialog.h"
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class QCloseEvent;
class QPushButton;
class QShowEvent;
class QTreeWidget;

namespace sorvel {

class DiscRipper;
class Trelin;

// The track number that a row of the rip list stands for (item data of its
// "Track" column).
inline constexpr int kTrackNumberRole = Qt::UserRole + 1;

class TrackRippingSubForm final : public JobDialog {
  Q_OBJECT

 public:
  // One track's rip: the ripper's StartRead unless a test replaces it.
  using RipStep = std::function<bool(DiscRipper& ripper, Trelin& device, const QString& path, int track,
                                     bool read_pregap)>;

  // Rips the ticked rows of `list` from `device` into `folder`. False when
  // the user stopped the run, else true (also when a track failed).
  static bool ShowOpen(const std::shared_ptr<Trelin>& device, QTreeWidget* list, bool read_pregap,
                       const QString& folder, QWidget* parent = nullptr);

  // Tests: replaces the rip of one track (an empty function restores it).
  static void SetRipStepForTesting(RipStep step);

  QPushButton* cmdCancel() const { return cmdStartStop(); }
  bool running() const { return running_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  // No start button: the run starts from the first showing.
  void StartJob() override {}

 private:
  TrackRippingSubForm(const std::shared_ptr<Trelin>& device, QTreeWidget* list, bool read_pregap,
                      const QString& folder, QWidget* parent);
  ~TrackRippingSubForm() override;

  void Run();
  void AskToStop();
  void Stop();

  std::shared_ptr<Trelin> device_;
  QTreeWidget* list_;
  bool read_pregap_;
  QString folder_;
  std::unique_ptr<DiscRipper> ripper_;
  bool started_ = false;
  bool running_ = false;
  bool stopped_ = false;
  bool asking_ = false;
};

}  // namespace sorvel
