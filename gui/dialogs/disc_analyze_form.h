// DiscAnalyzeForm: looks into the disc of a drive. The read side of a drive
// panel above three report views on tabs (TOC, MainChannel, SubChannel), an
// LBA box with a slider, a status bar and 開始 / TOC保存 / 終了. Every engine
// call runs synchronously on the GUI thread; nothing is a job.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>

class QLabel;
class QPushButton;
class QSlider;
class QStatusBar;
class QTabBar;
class QTimer;
class QTreeWidget;

namespace sorvel {

class DeviceSetting;
class DrivePanel;
class GradientFrame;
class NumericUpDown;

class DiscAnalyzeForm final : public QDialog {
  Q_OBJECT

 public:
  // The form's load: the panel lists the drives and opens the stored one.
  explicit DiscAnalyzeForm(QWidget* parent = nullptr);
  ~DiscAnalyzeForm() override;

  DrivePanel* panel() const { return panel_; }
  QTabBar* tabMain() const { return tabMain_; }
  QTreeWidget* lsvTOC() const { return lsvTOC_; }
  QTreeWidget* lsvMainChannel() const { return lsvMainChannel_; }
  QTreeWidget* lsvSubChannel() const { return lsvSubChannel_; }
  NumericUpDown* nudLBA() const { return nudLBA_; }
  QSlider* sldLBA() const { return sldLBA_; }
  QStatusBar* stbMain() const { return stbMain_; }
  QPushButton* cmdStartStop() const { return cmdStartStop_; }
  QPushButton* cmdSaveTOC() const { return cmdSaveTOC_; }
  QPushButton* cmdEnd() const { return cmdEnd_; }
  QString StatusText() const;

  // Empties the three views, disables the LBA controls and the status text.
  void ClearAnalyzeViews();
  // Fills the TOC view from the drive's TOC.
  void ShowTOCList();
  // Reads sector `lba` and shows it in both dump views and the status text.
  void DumpSector(int32_t lba);

  // The buttons' handlers.
  void StartAnalysis();
  void SaveTOC();

 protected:
  void done(int result) override;
  // Activation gives sldLBA the focus.
  void changeEvent(QEvent* event) override;

 private:
  void ShowTab(int index);
  void LBAChanged();
  void SliderMoved(int value);
  void ApplySliderMove();
  void Unload();

  DrivePanel* panel_ = nullptr;
  GradientFrame* fraTitle_ = nullptr;
  QLabel* lblTitle_ = nullptr;
  QTabBar* tabMain_ = nullptr;
  QTreeWidget* lsvTOC_ = nullptr;
  QTreeWidget* lsvMainChannel_ = nullptr;
  QTreeWidget* lsvSubChannel_ = nullptr;
  NumericUpDown* nudLBA_ = nullptr;
  QSlider* sldLBA_ = nullptr;
  QTimer* slider_timer_ = nullptr;
  int pending_slider_value_ = 0;
  QStatusBar* stbMain_ = nullptr;
  QPushButton* cmdStartStop_ = nullptr;
  QPushButton* cmdSaveTOC_ = nullptr;
  QPushButton* cmdEnd_ = nullptr;
  std::unique_ptr<DeviceSetting> setting_;
  bool unloaded_ = false;
  bool activated_once_ = false;
  bool deactivated_within_program_ = false;
};

// One dump row of `count` bytes: two upper-case hexadecimal digits and a
// blank per byte, and the bytes from 0x20 to 0x7F as characters, others ".".
QString HexDumpData(const unsigned char* bytes, int count);
QString HexDumpAscii(const unsigned char* bytes, int count);

}  // namespace sorvel
