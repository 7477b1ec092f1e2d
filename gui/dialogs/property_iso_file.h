// The file property dialog: the time stamp and hidden flag of one data-area
// entry, and in dummy mode the name and size of an entry without a source.
// It works on the record it is given and never calls the engine.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QString>

class QCheckBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace sorvel {

struct ISOFindFile;
class NumericUpDown;

class PropertyISOFile : public QDialog {
  Q_OBJECT

 public:
  explicit PropertyISOFile(QWidget* parent = nullptr);

  // Shows the dialog for `record` (located in `path`, engine form) modally.
  // True when the user confirmed with "OK"; the record then holds the picked
  // time stamp, an attribute of 0 or 2 and, in dummy mode, the entered name
  // and size. Cancel or closing the window leaves the record untouched.
  static bool ShowOpen(bool dummy_file, ISOFindFile& record, const QString& path, QWidget* parent = nullptr);

  // Fills the controls from `record`; Confirmed() reports whether "OK" was
  // accepted. ShowOpen is Load, exec and Store.
  void Load(bool dummy_file, const ISOFindFile& record, const QString& path);
  void Store(ISOFindFile& record) const;
  bool Confirmed() const { return confirmed_; }

  // The dates the picker takes: 1601-01-01 to 9999-12-31 (the engine keeps
  // what its 32-bit time carries; a stamp beyond it reaches its nearest end).
  static QDateTime EarliestTimeStamp();
  static QDateTime LatestTimeStamp();

  QLineEdit* txtFileName() const { return txtFileName_; }
  QLabel* lblFileType() const { return lblFileType_; }
  QLabel* lblPath() const { return lblPath_; }
  QLineEdit* txtOriginalFileName() const { return txtOriginalFileName_; }
  QLabel* lblFileSize() const { return lblFileSize_; }
  NumericUpDown* nudFileSize() const { return nudFileSize_; }
  QDateTimeEdit* dtpFileTimestamp() const { return dtpFileTimestamp_; }
  QCheckBox* chkHidden() const { return chkHidden_; }
  QPushButton* cmdOK() const { return cmdOK_; }
  QPushButton* cmdCancel() const { return cmdCancel_; }

 private:
  void cmdOK_Click();

  bool dummy_ = false;
  bool confirmed_ = false;
  QDateTime loaded_stamp_;
  QDateTime shown_stamp_;
  QTabWidget* tabMain_;
  QLineEdit* txtFileName_;
  QLabel* lblFileType_;
  QLabel* lblPath_;
  QLineEdit* txtOriginalFileName_;
  QLabel* lblFileSize_;
  NumericUpDown* nudFileSize_;
  QDateTimeEdit* dtpFileTimestamp_;
  QCheckBox* chkHidden_;
  QPushButton* cmdOK_;
  QPushButton* cmdCancel_;
};

// "###,##0": the digits of `value` grouped by three with "," whatever the locale.
QString FormatGrouped(qint64 value);

}  // namespace sorvel
