// The numeric entry box of the dialogs: a one-line text box with a pair of
// up/down buttons at its right edge, holding one 32-bit signed whole number
// within a range. The value, range and step live in the buttons' model, the
// text in the text box; `Change` follows every change of the text.
#pragma once

#include <QFrame>
#include <QLineEdit>
#include <QToolButton>
#include <functional>
#include <optional>

#include "gui/controls/color.h"
#include "gui/controls/property_bag.h"

namespace sorvel {

// The up/down buttons and the number they hold. An assignment outside the
// range fails and leaves the value as it was.
class UpDownButtons : public QWidget {
 public:
  explicit UpDownButtons(QWidget* parent = nullptr);

  qint32 value() const { return value_; }
  // False (value unchanged) when `value` lies outside min..max.
  bool assign(qint32 value);
  qint32 minimum() const { return minimum_; }
  void setMinimum(qint32 minimum) { minimum_ = minimum; }
  qint32 maximum() const { return maximum_; }
  void setMaximum(qint32 maximum) { maximum_ = maximum; }
  qint32 increment() const { return increment_; }
  void setIncrement(qint32 increment) { increment_ = increment; }
  // 0 left, 1 right of the text box (kept; the buttons always sit at the right).
  qint32 alignment() const { return alignment_; }
  void setAlignment(qint32 alignment) { alignment_ = alignment; }

  // One click: the value moves by the increment (down: against it), stopping
  // at the limits.
  void stepBy(int direction);

  QToolButton* upButton() const { return up_; }
  QToolButton* downButton() const { return down_; }

  // Called after a click changed the value.
  std::function<void()> on_stepped;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  qint32 value_ = 0;
  qint32 minimum_ = 0;
  qint32 maximum_ = 100;
  qint32 increment_ = 1;
  qint32 alignment_ = 1;
  QToolButton* up_;
  QToolButton* down_;
};

class NumericUpDown : public QFrame {
  Q_OBJECT

 public:
  explicit NumericUpDown(QWidget* parent = nullptr);
  ~NumericUpDown() override;

  // 0 left, 1 right, 2 centre.
  qint32 TextAlign() const { return text_align_; }
  void setTextAlign(qint32 align);
  qint32 Appearance() const { return appearance_; }
  void setAppearance(qint32 appearance);
  OleColor BackColor() const { return back_color_; }
  void setBackColor(OleColor color);
  qint32 BorderStyle() const { return border_style_; }
  void setBorderStyle(qint32 border_style);
  bool Enabled() const { return isEnabled(); }
  QFont Font() const;
  OleColor ForeColor() const { return fore_color_; }
  void setForeColor(OleColor color);
  // Typing blocked; the buttons still change the value.
  bool Locked() const;
  void setLocked(bool locked);
  qint32 Max() const { return updMain_->maximum(); }
  void setMax(qint32 max);
  qint32 Min() const { return updMain_->minimum(); }
  void setMin(qint32 min);
  qint32 Increment() const { return updMain_->increment(); }
  void setIncrement(qint32 increment) { updMain_->setIncrement(increment); }
  // Reading first brings a text that disagrees with the value into the range.
  qint32 Value();
  // Clamped to Max, then to Min.
  void setValue(qint32 value);
  qint32 UpDownAlign() const { return updMain_->alignment(); }
  void setUpDownAlign(qint32 align) { updMain_->setAlignment(align); }

  QLineEdit* txtMain() const;
  UpDownButtons* updMain() const { return updMain_; }
  // The text box's length limit for typing and pasting.
  int maxTextLength() const;

  void readProperties(const PropertyBag& bag);
  void writeProperties(PropertyBag& bag);

  // The number a text begins with (blanks skipped, optional sign, decimal
  // digits; 0 when there is none), saturated far beyond the 32-bit range.
  static qint64 TextNumber(const QString& text);

 signals:
  void Change();

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Layout();
  void OnTextChanged();
  void Validate();
  void WriteValueText();
  void UpdateMaxLength();
  void ApplyColors();

  qint32 text_align_ = 0;
  qint32 appearance_ = 1;
  qint32 border_style_ = 1;
  OleColor back_color_ = kSysWindow;
  OleColor fore_color_ = kSysWindowText;

  class TextBox;
  TextBox* txtMain_;
  UpDownButtons* updMain_;
};

}  // namespace sorvel
