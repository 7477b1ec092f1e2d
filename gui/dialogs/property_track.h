// The track property dialog: pregap, postgap and the pre-emphasis and copy
// bits of a track, and the CD-Text of the track (or, without a track, of the
// album) in English (page 0) and Japanese (page 1). It edits the records it
// is handed; the caller stores them in the layout.
#pragma once

#include <QDialog>
#include <array>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTabBar;
class QWidget;

namespace sorvel {

struct ISOTrackData;
struct ISOTrackText;
class NumericUpDown;

class PropertyTrack : public QDialog {
  Q_OBJECT

 public:
  explicit PropertyTrack(QWidget* parent = nullptr);

  // Shows the dialog modally; `track` null means the album. On OK the gaps and
  // flag bits 1 and 2 go to `track`, the CD-Text switch to `enabled_track_text`
  // and, when that is on, the texts and flags to the two records. Cancel and
  // the close box change nothing.
  static bool ShowOpen(ISOTrackData* track, bool& enabled_track_text, ISOTrackText& english, ISOTrackText& japanese,
                       QWidget* parent = nullptr);

  // ShowOpen is Load, exec and Store.
  void Load(const ISOTrackData* track, bool enabled_track_text, const ISOTrackText& english,
            const ISOTrackText& japanese);
  void Store(ISOTrackData* track, bool& enabled_track_text, ISOTrackText& english, ISOTrackText& japanese);
  bool Confirmed() const { return confirmed_; }

  QGroupBox* fraAttribute() const { return fraAttribute_; }
  NumericUpDown* nudPregapSecond() const { return nudPregapSecond_; }
  NumericUpDown* nudPregapFrame() const { return nudPregapFrame_; }
  NumericUpDown* nudPostgapSecond() const { return nudPostgapSecond_; }
  NumericUpDown* nudPostgapFrame() const { return nudPostgapFrame_; }
  QCheckBox* chkPreemphasis() const { return chkPreemphasis_; }
  QCheckBox* chkCopypemitterd() const { return chkCopypemitterd_; }
  QGroupBox* fraCDText() const { return fraCDText_; }
  QCheckBox* chkCDText() const { return chkCDText_; }
  QTabBar* tabLanguage() const { return tabLanguage_; }
  QWidget* fraLanguage(int i) const { return fraLanguage_[Page(i)]; }
  QCheckBox* chkLanguage(int i) const { return chkLanguage_[Page(i)]; }
  // Field box and text box of page i by information number (0 Title .. 5 Message).
  QCheckBox* chkField(int i, int information) const { return chkField_[Page(i)][Field(information)]; }
  QLineEdit* txtField(int i, int information) const { return txtField_[Page(i)][Field(information)]; }
  QCheckBox* chkTitle(int i) const { return chkField(i, 0); }
  QCheckBox* chkPerformer(int i) const { return chkField(i, 1); }
  QCheckBox* chkSongwriter(int i) const { return chkField(i, 2); }
  QCheckBox* chkComposer(int i) const { return chkField(i, 3); }
  QCheckBox* chkArranger(int i) const { return chkField(i, 4); }
  QCheckBox* chkMessage(int i) const { return chkField(i, 5); }
  QLineEdit* txtTitle(int i) const { return txtField(i, 0); }
  QLineEdit* txtPerformer(int i) const { return txtField(i, 1); }
  QLineEdit* txtSongwriter(int i) const { return txtField(i, 2); }
  QLineEdit* txtComposer(int i) const { return txtField(i, 3); }
  QLineEdit* txtArranger(int i) const { return txtField(i, 4); }
  QLineEdit* txtMessage(int i) const { return txtField(i, 5); }
  QPushButton* cmdOK() const { return cmdOK_; }
  QPushButton* cmdCancel() const { return cmdCancel_; }

 private:
  static int Page(int i) { return i == 1 ? 1 : 0; }
  static int Field(int information) { return information < 0 ? 0 : (information > 5 ? 5 : information); }
  void chkCDText_Click();
  void chkLanguage_Click(int index);
  void tabLanguage_Click();
  void cmdOK_Click();

  bool confirmed_ = false;
  int32_t pregap_minutes_ = 0;
  int32_t postgap_minutes_ = 0;
  QGroupBox* fraAttribute_;
  NumericUpDown* nudPregapSecond_;
  NumericUpDown* nudPregapFrame_;
  NumericUpDown* nudPostgapSecond_;
  NumericUpDown* nudPostgapFrame_;
  QCheckBox* chkPreemphasis_;
  QCheckBox* chkCopypemitterd_;
  QGroupBox* fraCDText_;
  QCheckBox* chkCDText_;
  QTabBar* tabLanguage_;
  std::array<QWidget*, 2> fraLanguage_{};
  std::array<QCheckBox*, 2> chkLanguage_{};
  std::array<std::array<QCheckBox*, 6>, 2> chkField_{};
  std::array<std::array<QLineEdit*, 6>, 2> txtField_{};
  QPushButton* cmdOK_;
  QPushButton* cmdCancel_;
};

// CD-Text width checks in CP932: the joined text is not blank and every
// character is one byte (half) or two bytes (full) there. A character CP932
// cannot hold fails both, as it would reach the disc as "?".
bool IsCdTextHalfWidth(const QString& text);
bool IsCdTextFullWidth(const QString& text);

}  // namespace sorvel
