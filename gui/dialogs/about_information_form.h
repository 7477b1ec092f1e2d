// The about box (バージョン情報): the program's version and legal notice and
// the versions of the two engine libraries, over a gradient background.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

class QLabel;
class QPushButton;

namespace sorvel {

class GradientFrame;

// "Version 0.9.12 Beta Release": the three numbers without leading zeros and,
// below version 1, the stage of the minor number (0-4 Alpha, 5-9 Beta, 10 and
// above Preview Release).
QString ProgramVersionText(int major, int minor, int revision);

// An engine version major × 10000 + minor × 100 + revision as "1.4.4".
QString EngineVersionText(int32_t version);

class AboutInformationForm final : public QDialog {
  Q_OBJECT

 public:
  explicit AboutInformationForm(QWidget* parent = nullptr);

  // Centres a new box on `main_window` and shows it modally.
  static void ShowModal(QWidget* main_window);

  // Fills lblEngine from short-lived engine objects.
  void ShowEngineVersions();

  GradientFrame* fraMain = nullptr;
  QLabel* lblTitle = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* lblLegalNotice = nullptr;
  QLabel* lblEngine = nullptr;
  QPushButton* cmdOK = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;
};

}  // namespace sorvel
