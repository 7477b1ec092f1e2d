// The program's message box: a numeric style (buttons, icon, default button)
// turned into a Qt message box that is centred on its owner.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>
#include <memory>

class QWidget;

namespace sorvel {

// Style bits of a message box.
enum MessageBoxStyle : int {
  kMbOk = 0x0,
  kMbOkCancel = 0x1,
  kMbAbortRetryIgnore = 0x2,
  kMbYesNoCancel = 0x3,
  kMbYesNo = 0x4,
  kMbRetryCancel = 0x5,
  kMbIconError = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconExclamation = 0x30,
  kMbIconInformation = 0x40,
  kMbDefaultButton2 = 0x100,
  kMbDefaultButton3 = 0x200,
};

// What a style asks for: the buttons (result identifiers in the order shown),
// the icon, the default button and the button that Escape and closing the
// window answer (0: neither closes the box).
struct MessageBoxLayout {
  QList<int> buttons;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int default_button = 0;
  int escape_button = 0;
};

MessageBoxLayout LayoutOfMessageBoxStyle(int style);

// The text as a box shows it. A line longer than 1,024 characters keeps its
// start and its end with "…" between, 1,024 characters in all; a text of more
// than 100 lines keeps its first 50 and last 49 with a line "…" between.
// Laying out a path of megabytes would stall the window system for a minute.
QString TextForMessageBox(const QString& text);

// A message box that, when shown, puts its centre on the centre of its
// owner's rectangle (the screen's when it has no visible owner), even when
// part of the box then lies off the screen. Its text is cut as
// TextForMessageBox says, and the box is never wider than the screen: a long
// path wraps inside it.
class CenteredMessageBox final : public QMessageBox {
  Q_OBJECT
 public:
  CenteredMessageBox(QWidget* owner, const QString& text, int style, const QString& caption);

  // The identifier of the button that closed the box; kIdCancel when it was
  // closed without one.
  int Result() const;
  // The identifier of a button of the box, 0 for another widget.
  int IdOf(const QAbstractButton* button) const;
  QAbstractButton* ButtonOf(int id) const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FitScreenWidth();

  QWidget* owner_;
  QList<std::pair<int, QAbstractButton*>> buttons_;
};

}  // namespace sorvel
