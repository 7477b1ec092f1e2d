#include "gui/controls/numeric_up_down.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <limits>

#include "gui/controls/frame_style.h"
#include "gui/foundation/input_check.h"

namespace sorvel {
namespace {

std::optional<qint32> WholeValue(qint64 number) {
  if (number < std::numeric_limits<qint32>::min() || number > std::numeric_limits<qint32>::max()) return std::nullopt;
  return static_cast<qint32>(number);
}

// The typing filter: control characters, "-", digits and double-byte
// characters of the Japanese code page pass; every other character is dropped.
bool KeyCharacterPasses(QChar c) {
  if (c.unicode() < 32 || c == QLatin1Char('-')) return true;
  QString one(c);
  return IsNumericOnly(one) || AnsiByteLength(one) == 2;
}

}  // namespace

// The text box: filters typed characters and keeps user edits (typing,
// pasting, dropping, input-method commits) within the length limit while text
// set by code is never cut. Each user edit reports one text change.
class NumericUpDown::TextBox : public QLineEdit {
 public:
  explicit TextBox(QWidget* parent) : QLineEdit(parent) {}

  int max_length = 0;  // 0: no limit
  std::function<void()> on_user_change;
  std::function<void()> on_focus_out;
  bool in_user_edit() const { return edit_depth_ > 0; }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    // Shortcuts (paste, select all, undo) insert no typed character; some
    // platforms report their letter as the event's text.
    const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
    const QString text = shortcut ? QString() : event->text();
    for (QChar c : text) {
      if (!KeyCharacterPasses(c)) {
        event->accept();
        return;
      }
    }
    Guarded([&] { QLineEdit::keyPressEvent(event); });
  }
  void inputMethodEvent(QInputMethodEvent* event) override {
    Guarded([&] { QLineEdit::inputMethodEvent(event); });
  }
  void dropEvent(QDropEvent* event) override {
    Guarded([&] { QLineEdit::dropEvent(event); });
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    Guarded([&] { QLineEdit::mouseReleaseEvent(event); });
  }
  void contextMenuEvent(QContextMenuEvent* event) override {
    Guarded([&] { QLineEdit::contextMenuEvent(event); });
  }
  void focusInEvent(QFocusEvent* event) override {
    QLineEdit::focusInEvent(event);
    setSelection(0, static_cast<int>(text().size()));
  }
  void focusOutEvent(QFocusEvent* event) override {
    QLineEdit::focusOutEvent(event);
    if (on_focus_out) on_focus_out();
  }

 private:
  template <typename Edit>
  void Guarded(Edit&& edit) {
    const QString before = text();
    ++edit_depth_;
    edit();
    --edit_depth_;
    if (edit_depth_ > 0) return;
    QString after = text();
    if (after == before) return;
    if (max_length > 0 && after.size() > max_length && after.size() > before.size()) {
      // Keep as much of the inserted text as fits, as the limit of a text box does.
      qsizetype prefix = 0;
      while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix]) ++prefix;
      qsizetype suffix = 0;
      while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
             before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
      const qsizetype removed = before.size() - prefix - suffix;
      const qsizetype room = std::max<qsizetype>(0, max_length - (before.size() - removed));
      const QString inserted = after.mid(prefix, after.size() - prefix - suffix).left(room);
      const QString fitted = before.left(prefix) + inserted + before.right(suffix);
      {
        QSignalBlocker block(this);
        setText(fitted);
        setCursorPosition(static_cast<int>(prefix + inserted.size()));
      }
      if (fitted == before) return;
    }
    if (on_user_change) on_user_change();
  }

  int edit_depth_ = 0;
};

UpDownButtons::UpDownButtons(QWidget* parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
  for (QToolButton* button : {up_, down_}) {
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
  }
  up_->setObjectName(QStringLiteral("up"));
  down_->setObjectName(QStringLiteral("down"));
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  connect(up_, &QToolButton::clicked, this, [this] { stepBy(1); });
  connect(down_, &QToolButton::clicked, this, [this] { stepBy(-1); });
}

bool UpDownButtons::assign(qint32 value) {
  if (value < std::min(minimum_, maximum_) || value > std::max(minimum_, maximum_)) return false;
  value_ = value;
  return true;
}

void UpDownButtons::stepBy(int direction) {
  qint64 next = static_cast<qint64>(value_) + static_cast<qint64>(direction) * increment_;
  const qint64 low = std::min(minimum_, maximum_);
  const qint64 high = std::max(minimum_, maximum_);
  if (next > high) next = high;
  if (next < low) next = low;
  if (next == value_) return;
  value_ = static_cast<qint32>(next);
  if (on_stepped) on_stepped();
}

void UpDownButtons::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int half = height() / 2;
  up_->setGeometry(0, 0, width(), half);
  down_->setGeometry(0, half, width(), height() - half);
}

// The text box loses its focus while it is deleted, after this object's own
// part is gone: its callbacks must not reach it then.
NumericUpDown::~NumericUpDown() {
  txtMain_->on_focus_out = nullptr;
  txtMain_->on_user_change = nullptr;
  updMain_->on_stepped = nullptr;
  txtMain_->disconnect(this);
}

NumericUpDown::NumericUpDown(QWidget* parent)
    : QFrame(parent), txtMain_(new TextBox(this)), updMain_(new UpDownButtons(this)) {
  txtMain_->setObjectName(QStringLiteral("txtMain"));
  updMain_->setObjectName(QStringLiteral("updMain"));
  txtMain_->setFrame(false);
  txtMain_->setText(QStringLiteral("0"));
  txtMain_->on_user_change = [this] { OnTextChanged(); };
  txtMain_->on_focus_out = [this] { Validate(); };
  connect(txtMain_, &QLineEdit::textChanged, this, [this] {
    if (!txtMain_->in_user_edit()) OnTextChanged();
  });
  updMain_->on_stepped = [this] { WriteValueText(); };
  updMain_->resize(style()->pixelMetric(QStyle::PM_ScrollBarExtent), 20);
  setFocusProxy(txtMain_);
  ApplyFrameStyle(this, border_style_, appearance_);
  UpdateMaxLength();
  ApplyColors();
}

QLineEdit* NumericUpDown::txtMain() const { return txtMain_; }

int NumericUpDown::maxTextLength() const { return txtMain_->max_length; }

qint64 NumericUpDown::TextNumber(const QString& text) {
  constexpr qint64 kSaturation = qint64{1} << 40;
  qsizetype i = 0;
  while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t') ||
                             text[i] == QLatin1Char('\n') || text[i] == QLatin1Char('\r')))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  qint64 number = 0;
  for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i)
    number = std::min(number * 10 + (text[i].unicode() - '0'), kSaturation);
  return negative ? -number : number;
}

void NumericUpDown::OnTextChanged() {
  if (std::optional<qint32> whole = WholeValue(TextNumber(txtMain_->text()))) updMain_->assign(*whole);
  emit Change();
}

void NumericUpDown::Validate() {
  const qint64 number = TextNumber(txtMain_->text());
  if (Max() < number)
    txtMain_->setText(QString::number(Max()));
  else if (Min() > number)
    txtMain_->setText(QString::number(Min()));
  if (std::optional<qint32> whole = WholeValue(TextNumber(txtMain_->text()))) updMain_->assign(*whole);
}

void NumericUpDown::WriteValueText() { txtMain_->setText(QString::number(updMain_->value())); }

qint32 NumericUpDown::Value() {
  std::optional<qint32> whole = WholeValue(TextNumber(txtMain_->text()));
  if (!whole || *whole != updMain_->value()) Validate();
  return updMain_->value();
}

void NumericUpDown::setValue(qint32 value) {
  if (Max() < value) value = Max();
  if (value < Min()) value = Min();
  updMain_->assign(value);
  WriteValueText();
}

void NumericUpDown::setMax(qint32 max) {
  updMain_->setMaximum(max);
  UpdateMaxLength();
}

void NumericUpDown::setMin(qint32 min) {
  updMain_->setMinimum(min);
  UpdateMaxLength();
}

void NumericUpDown::UpdateMaxLength() {
  const auto max_text = QString::number(Max()).size();
  const auto min_text = QString::number(Min()).size();
  txtMain_->max_length = static_cast<int>(max_text > min_text ? max_text : min_text);
}

void NumericUpDown::setTextAlign(qint32 align) {
  text_align_ = align;
  Qt::Alignment horizontal = align == 1 ? Qt::AlignRight : align == 2 ? Qt::AlignHCenter : Qt::AlignLeft;
  txtMain_->setAlignment(horizontal | Qt::AlignVCenter);
}

void NumericUpDown::setAppearance(qint32 appearance) {
  appearance_ = appearance;
  ApplyFrameStyle(this, border_style_, appearance_);
  Layout();  // a new border changes the inner area as a resize does
}

void NumericUpDown::setBorderStyle(qint32 border_style) {
  border_style_ = border_style;
  ApplyFrameStyle(this, border_style_, appearance_);
  Layout();
}

void NumericUpDown::setBackColor(OleColor color) {
  back_color_ = color;
  ApplyColors();
}

void NumericUpDown::setForeColor(OleColor color) {
  fore_color_ = color;
  ApplyColors();
}

void NumericUpDown::ApplyColors() {
  QPalette colors = txtMain_->palette();
  colors.setColor(QPalette::Base, ResolveColor(back_color_, palette()));
  colors.setColor(QPalette::Text, ResolveColor(fore_color_, palette()));
  txtMain_->setPalette(colors);
}

QFont NumericUpDown::Font() const { return txtMain_->font(); }

bool NumericUpDown::Locked() const { return txtMain_->isReadOnly(); }

void NumericUpDown::setLocked(bool locked) { txtMain_->setReadOnly(locked); }

void NumericUpDown::showEvent(QShowEvent* event) {
  QFrame::showEvent(event);
  if (!event->spontaneous()) WriteValueText();
}

void NumericUpDown::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  Layout();
}

void NumericUpDown::Layout() {
  const QRect inner = contentsRect();
  const int buttons = updMain_->width();
  txtMain_->setGeometry(inner.left(), inner.top(), std::max(inner.width() - buttons, 0), inner.height());
  updMain_->setGeometry(inner.left() + inner.width() - buttons, inner.top(), buttons, inner.height());
}

void NumericUpDown::changeEvent(QEvent* event) {
  QFrame::changeEvent(event);
  // System colours follow the palette when it changes.
  if (event->type() == QEvent::PaletteChange) ApplyColors();
}

void NumericUpDown::readProperties(const PropertyBag& bag) {
  if (auto v = bag.readInt32(QStringLiteral("TextAlign"), text_align_)) setTextAlign(*v);
  if (auto v = bag.readInt32(QStringLiteral("Appearance"), appearance_)) setAppearance(*v);
  if (auto v = bag.readColor(QStringLiteral("BackColor"), back_color_)) setBackColor(*v);
  if (auto v = bag.readInt32(QStringLiteral("BorderStyle"), border_style_)) setBorderStyle(*v);
  if (auto v = bag.readBool(QStringLiteral("Enabled"), isEnabled())) setEnabled(*v);
  if (auto v = bag.readFont(QStringLiteral("Font"), Font())) setFont(*v);
  if (auto v = bag.readColor(QStringLiteral("ForeColor"), fore_color_)) setForeColor(*v);
  if (auto v = bag.readBool(QStringLiteral("Locked"), Locked())) setLocked(*v);
  if (auto v = bag.readInt32(QStringLiteral("Max"), Max())) setMax(*v);
  if (auto v = bag.readInt32(QStringLiteral("Min"), Min())) setMin(*v);
  if (auto v = bag.readInt32(QStringLiteral("Increment"), Increment())) setIncrement(*v);
  if (auto v = bag.readInt32(QStringLiteral("Value"), updMain_->value())) setValue(*v);
  if (auto v = bag.readInt32(QStringLiteral("UpDownAlign"), UpDownAlign())) setUpDownAlign(*v);
}

void NumericUpDown::writeProperties(PropertyBag& bag) {
  bag.writeProperty(QStringLiteral("TextAlign"), text_align_);
  bag.writeProperty(QStringLiteral("Appearance"), appearance_);
  bag.writeProperty(QStringLiteral("BackColor"), static_cast<qint32>(back_color_));
  bag.writeProperty(QStringLiteral("BorderStyle"), border_style_);
  bag.writeProperty(QStringLiteral("Enabled"), isEnabled());
  bag.writeProperty(QStringLiteral("Font"), Font());
  bag.writeProperty(QStringLiteral("ForeColor"), static_cast<qint32>(fore_color_));
  bag.writeProperty(QStringLiteral("Locked"), Locked());
  bag.writeProperty(QStringLiteral("Max"), Max());
  bag.writeProperty(QStringLiteral("Min"), Min());
  bag.writeProperty(QStringLiteral("Increment"), Increment());
  bag.writeProperty(QStringLiteral("Value"), Value());
  bag.writeProperty(QStringLiteral("UpDownAlign"), UpDownAlign());
}

}  // namespace sorvel
