// The configuration dialog (設定): the temporary folder, the history database
// and its viewer, the behaviour after writing, the power actions after long
// jobs and the network settings of the remote drive discovery. It loads the
// process-wide settings into its controls and writes them back, saving the
// settings file, only on OK; キャンセル, Escape and the close box discard.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <optional>

class QCheckBox;
class QComboBox;
class QFrame;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabBar;

namespace sorvel {

class NumericUpDown;

// The value of an address typed into the address box, or nothing when the
// text is not four "."-separated whole numbers: fewer or more parts, an empty
// first part, a part with other characters or one beyond the 32-bit range.
// An empty second to fourth part counts as 0; each part is taken modulo 256
// (300.1.1.1 is 44.1.1.1).
std::optional<int32_t> ParseRemoteAddress(const QString& text);

// The font of the address box and list: a fixed-pitch font with Japanese glyphs.
QFont FixedPitchJapaneseFont();

class PropertyConfigurationForm final : public QDialog {
  Q_OBJECT

 public:
  // Builds the dialog and loads it from the settings.
  explicit PropertyConfigurationForm(QWidget* parent = nullptr);
  ~PropertyConfigurationForm() override;

  // Centres a new dialog on `main_window` and shows it modally; true when the
  // settings were saved.
  static bool ShowModal(QWidget* main_window);

  // Whether OK saved the settings.
  bool saved() const { return saved_; }

  // The handlers, as the buttons and the tab strip run them.
  void SelectTab(int index);
  void BrowseTempPath();
  void BrowseLogPath();
  void BrowseLogViewerPath();
  void AddAddress();
  void DeleteAddress();
  void Confirm();

  QTabBar* tabMain = nullptr;
  QFrame* fraPath = nullptr;
  QFrame* fraShutdown = nullptr;
  QFrame* fraNetwork = nullptr;
  QLineEdit* txtTempPath = nullptr;
  QPushButton* cmdTempPath = nullptr;
  QCheckBox* chkTempPath = nullptr;
  QLineEdit* txtLogPath = nullptr;
  QPushButton* cmdLogPath = nullptr;
  QCheckBox* chkLogPath = nullptr;
  QLineEdit* txtLogViewerPath = nullptr;
  QPushButton* cmdLogViewerPath = nullptr;
  QCheckBox* chkVerifyCompare = nullptr;
  QCheckBox* chkEjectAfterMessage = nullptr;
  QComboBox* cboShutdownSuccess = nullptr;
  QComboBox* cboShutdownFailed = nullptr;
  NumericUpDown* nudRemotePort = nullptr;
  QListWidget* lstRemoteIP = nullptr;
  QLineEdit* txtRemoteIP = nullptr;
  QPushButton* cmdIPAdd = nullptr;
  QPushButton* cmdIPDelete = nullptr;
  NumericUpDown* nudScanTimeout = nullptr;
  QPushButton* cmdOK = nullptr;
  QPushButton* cmdCancel = nullptr;

 private:
  void BuildPathFrame();
  void BuildShutdownFrame();
  void BuildNetworkFrame();
  void LoadSettings();
  int Message(const QString& text, int style);

  bool saved_ = false;
};

}  // namespace sorvel
