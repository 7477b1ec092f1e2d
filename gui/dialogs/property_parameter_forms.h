// The read and write parameter dialogs of a drive: modal forms over the
// drive's DeviceSetting, three tabs (共通, CD系媒体, DVD系媒体), OK and キャンセル.
// They load the drive's settings, and store them only when the user confirms;
// Escape and the close box cancel.
#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;

namespace sorvel {

class DeviceSetting;
class NumericUpDown;
class Trelin;

// The position (from 0) of the first entry of `list` whose item data is
// `code`, -1 when none is.
int FindItemDataIndex(const QComboBox* list, int32_t code);

// Common frame of both dialogs: tabs, buttons, the confirmed flag.
class PropertyParameterForm : public QDialog {
  Q_OBJECT

 public:
  QTabWidget* tabMain() const { return tab_; }
  QWidget* fraCommon() const { return frames_[0]; }
  QWidget* fraCD() const { return frames_[1]; }
  QWidget* fraDVD() const { return frames_[2]; }
  QPushButton* cmdOK() const { return ok_; }
  QPushButton* cmdCancel() const { return cancel_; }

 protected:
  PropertyParameterForm(const QString& object_name, QWidget* parent);
  // Runs the dialog; true when the user pressed OK.
  bool RunModal();

  QTabWidget* tab_ = nullptr;
  QWidget* frames_[3] = {nullptr, nullptr, nullptr};
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  bool confirmed_ = false;
};

class PropertyReadParameterForm final : public PropertyParameterForm {
  Q_OBJECT

 public:
  explicit PropertyReadParameterForm(QWidget* parent = nullptr);
  ~PropertyReadParameterForm() override;

  // Shows the read settings of the opened `device` modally; true when the
  // user confirmed and the settings were stored.
  bool ShowOpen(Trelin& device);

  NumericUpDown* nudReadBlockLength = nullptr;
  QComboBox* cboReadCommandCD = nullptr;
  QCheckBox* chkIgnoreError = nullptr;
  NumericUpDown* nudRetryCount = nullptr;
  QCheckBox* chkSkipError = nullptr;
  NumericUpDown* nudSkipUnit = nullptr;
  QCheckBox* chkReadFirstPregap = nullptr;
  QCheckBox* chkOnlyFirstSession = nullptr;
  QCheckBox* chkUnableToAnalizePregap = nullptr;
  QCheckBox* chkCollectSubPQ = nullptr;
  QComboBox* cboReadCommandDVD = nullptr;

 private:
  void ApplyEnableRules();
};

class PropertyWriteParameterForm final : public PropertyParameterForm {
  Q_OBJECT

 public:
  explicit PropertyWriteParameterForm(QWidget* parent = nullptr);
  ~PropertyWriteParameterForm() override;

  // Shows the write settings of the opened `device` modally; true when the
  // user confirmed and the settings were stored.
  bool ShowOpen(Trelin& device);

  NumericUpDown* nudWriteBlockLength = nullptr;
  NumericUpDown* nudWriteCacheBufferRate = nullptr;
  QLabel* lblWriteCacheBufferSize = nullptr;
  QCheckBox* chkOptimumPowerControl = nullptr;
  QCheckBox* chkForceEject = nullptr;
  NumericUpDown* nudVerifyPassFrom = nullptr;
  NumericUpDown* nudVerifyPassTo = nullptr;
  QComboBox* cboWriteCommandCD = nullptr;
  QCheckBox* chkErrorFirstPregap = nullptr;
  QCheckBox* chkOverBurn = nullptr;
  QCheckBox* chkCollectSubPQ = nullptr;
  QComboBox* cboWriteCommandDVD = nullptr;

 private:
  void PreviewCacheSize();

  std::unique_ptr<DeviceSetting> setting_;
};

}  // namespace sorvel
