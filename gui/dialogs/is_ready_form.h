// IsReadyForm: the insert-disc prompt. Asks for a disc in one drive and polls
// the drive every 100 ms until it is ready (with a writable medium when asked
// for one); the user can only give up. A disc that cannot be written, in the
// writable mode, is ejected and the prompt keeps waiting. The tray is never
// closed by the prompt.
#pragma once

#include <QDialog>

#include "gui/foundation/form_services.h"

class QLabel;
class QPushButton;
class QShowEvent;
class QTimer;

namespace sorvel {

class Trelin;

class IsReadyForm : public QDialog {
  Q_OBJECT

 public:
  IsReadyForm(Trelin& device, bool writable, QWidget* parent = nullptr);

  // Shows the prompt modally for `device`; true when a suitable disc was
  // found, false when the user cancelled or closed the prompt.
  static bool ShowOpen(Trelin& device, bool writable);

  QLabel* lblMessage() const { return lblMessage_; }
  QLabel* lblDriveName() const { return lblDriveName_; }
  QPushButton* cmdCancel() const { return cmdCancel_; }
  QTimer* tmrMessage() const { return tmrMessage_; }
  // Polls made so far.
  int polls() const { return polls_; }

 protected:
  // The timer starts once the prompt is on screen, so that a drive that is
  // ready at once still ends a running modal loop.
  void showEvent(QShowEvent* event) override;

 private:
  void Poll();

  Trelin& device_;
  bool writable_;
  bool polling_ = false;
  int polls_ = 0;
  QLabel* lblMessage_ = nullptr;
  QLabel* lblDriveName_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
  QTimer* tmrMessage_ = nullptr;
};

// The prompt behind the InsertDiscPrompt interface of the lower layers.
class IsReadyPrompt final : public InsertDiscPrompt {
 public:
  bool ShowOpen(Trelin& drive, bool writable) override { return IsReadyForm::ShowOpen(drive, writable); }
};

}  // namespace sorvel
