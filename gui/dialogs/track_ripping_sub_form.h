// TrackRippingSubForm: the progress dialog of a rip. Shown modally by
// ShowOpen, it rips every ticked row of the rip form's track list, one
// DiscRipper run per track, with the medium locked, logs the job's lines,
// and reports the outcome. The stop button asks first; the close box and
// Escape stop at once; the window stays until the run has ended.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class QCloseEvent;
class QLabel;
class QProgressBar;
class QPushButton;
class QShowEvent;
class QTreeWidget;

namespace sorvel {

class DiscRipper;
class GradientFrame;
class Trelin;
class ViewBox;

// The track number that a row of the rip list stands for (item data of its
// "Track" column).
inline constexpr int kTrackNumberRole = Qt::UserRole + 1;

class TrackRippingSubForm final : public QDialog {
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

  QProgressBar* prgMain() const { return prgMain_; }
  ViewBox* vbxMain() const { return vbxMain_; }
  QPushButton* cmdCancel() const { return cmdCancel_; }
  bool running() const { return running_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  TrackRippingSubForm(const std::shared_ptr<Trelin>& device, QTreeWidget* list, bool read_pregap,
                      const QString& folder, QWidget* parent);
  ~TrackRippingSubForm() override;

  void Run();
  void AskToStop();
  void Stop();
  void OnStatus(int32_t type, const QString& text);
  void OnProgress(int32_t value, int32_t total);

  std::shared_ptr<Trelin> device_;
  QTreeWidget* list_;
  bool read_pregap_;
  QString folder_;
  std::unique_ptr<DiscRipper> ripper_;
  bool started_ = false;
  bool running_ = false;
  bool cancelled_ = false;
  QString last_error_;

  GradientFrame* fraTitle_ = nullptr;
  QLabel* lblTitle_ = nullptr;
  QProgressBar* prgMain_ = nullptr;
  ViewBox* vbxMain_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
};

}  // namespace sorvel
