// TrackRippingForm: lists the tracks of the disc in a drive with proposed
// file names, lets the user tick tracks, rename their files and choose a
// folder, and rips the ticked ones through TrackRippingSubForm. Rows are
// keyed by track number, so TOCs starting above track 1 or with a gap rip
// the tracks their rows show.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace sorvel {

class DeviceSetting;
class DrivePanel;
class GradientFrame;
class TOCInformation;

// "mm:ss:ff" of a count of frames; minutes take as many digits as they need.
QString FormatMSF(int64_t frames);

// Why `name` cannot be a track's file name (the message to show), or "" when
// it can: a character of "*:/;<>?\|", more than 250 characters, or a name
// another row holds already (`others`).
QString RenameRefusal(const QString& name, const QStringList& others);

// Fills `list` from `toc`: one ticked row per track number, in TOC order,
// with its file name, track number (also as item data), pregap and length.
void FillTrackRows(QTreeWidget* list, const TOCInformation& toc);

class TrackRippingForm final : public QDialog {
  Q_OBJECT

 public:
  // The form's load: drive list, stored drive and folder.
  explicit TrackRippingForm(QWidget* parent = nullptr);
  ~TrackRippingForm() override;

  DrivePanel* panel() const { return panel_; }
  QToolBar* tlbMain() const { return tlbMain_; }
  // "Ripping", "ReLoad", "Exit".
  QAction* Button(const QString& key) const;
  QTreeWidget* lsvTOC() const { return lsvTOC_; }
  QLineEdit* txtSavePath() const { return txtSavePath_; }
  QToolButton* cmdDirectorySetting() const { return cmdDirectorySetting_; }
  QCheckBox* chkReadPregap() const { return chkReadPregap_; }

  void ClearTrackList();
  void ShowTrackList();

  // The toolbar's commands and the folder button.
  void Ripping();
  void ReLoad();
  void Exit();
  void ChooseFolder();

 protected:
  void done(int result) override;

 private:
  void Unload();
  void StatusRefreshed(bool has_device, bool ready);

  DrivePanel* panel_ = nullptr;
  GradientFrame* fraTitle_ = nullptr;
  QLabel* lblTitle_ = nullptr;
  QToolBar* tlbMain_ = nullptr;
  QTreeWidget* lsvTOC_ = nullptr;
  QLineEdit* txtSavePath_ = nullptr;
  QToolButton* cmdDirectorySetting_ = nullptr;
  QCheckBox* chkReadPregap_ = nullptr;
  std::unique_ptr<DeviceSetting> setting_;
  bool reloading_ = false;
  bool unloaded_ = false;
};

}  // namespace sorvel
