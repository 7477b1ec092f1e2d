#include "gui/foundation/message_box.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QLayout>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStringList>
#include <QWidget>
#include <algorithm>

#include "gui/foundation/modal_ui.h"
#include "gui/foundation/window_module.h"

namespace sorvel {
namespace {

QMessageBox::StandardButton StandardButtonOf(int id) {
  switch (id) {
    case kIdOk: return QMessageBox::Ok;
    case kIdCancel: return QMessageBox::Cancel;
    case kIdAbort: return QMessageBox::Abort;
    case kIdRetry: return QMessageBox::Retry;
    case kIdIgnore: return QMessageBox::Ignore;
    case kIdYes: return QMessageBox::Yes;
    case kIdNo: return QMessageBox::No;
    default: return QMessageBox::NoButton;
  }
}

constexpr qsizetype kMaxLineLength = 1024;
constexpr qsizetype kMaxLines = 100;
const QString kEllipsis = QStringLiteral("…");

// The first `count` characters of `text`, a pair of surrogates never split.
QString HeadOf(const QString& text, qsizetype count) {
  if (count > 0 && text.at(count - 1).isHighSurrogate()) --count;
  return text.left(count);
}

// The last `count` characters of `text`, a pair of surrogates never split.
QString TailOf(const QString& text, qsizetype count) {
  if (count > 0 && text.at(text.size() - count).isLowSurrogate()) --count;
  return text.right(count);
}

}  // namespace

QString TextForMessageBox(const QString& text) {
  QStringList lines = text.split(QLatin1Char('\n'));
  if (lines.size() > kMaxLines) {
    const qsizetype head = kMaxLines / 2;
    const qsizetype tail = kMaxLines - head - 1;
    lines = lines.mid(0, head) + QStringList{kEllipsis} + lines.mid(lines.size() - tail);
  }
  for (QString& line : lines) {
    if (line.size() <= kMaxLineLength) continue;
    const qsizetype head = (kMaxLineLength - 1) / 2;
    line = HeadOf(line, head) + kEllipsis + TailOf(line, kMaxLineLength - 1 - head);
  }
  return lines.join(QLatin1Char('\n'));
}

MessageBoxLayout LayoutOfMessageBoxStyle(int style) {
  MessageBoxLayout layout;
  switch (style & 0xF) {
    case kMbOkCancel:
      layout.buttons = {kIdOk, kIdCancel};
      layout.escape_button = kIdCancel;
      break;
    case kMbAbortRetryIgnore:
      layout.buttons = {kIdAbort, kIdRetry, kIdIgnore};
      break;
    case kMbYesNoCancel:
      layout.buttons = {kIdYes, kIdNo, kIdCancel};
      layout.escape_button = kIdCancel;
      break;
    case kMbYesNo:
      // Escape answers the safe choice: No (a running job goes on).
      layout.buttons = {kIdYes, kIdNo};
      layout.escape_button = kIdNo;
      break;
    case kMbRetryCancel:
      layout.buttons = {kIdRetry, kIdCancel};
      layout.escape_button = kIdCancel;
      break;
    default:
      layout.buttons = {kIdOk};
      layout.escape_button = kIdOk;
      break;
  }
  switch (style & 0x70) {
    case kMbIconError: layout.icon = QMessageBox::Critical; break;
    case kMbIconQuestion: layout.icon = QMessageBox::Question; break;
    case kMbIconExclamation: layout.icon = QMessageBox::Warning; break;
    case kMbIconInformation: layout.icon = QMessageBox::Information; break;
    default: layout.icon = QMessageBox::NoIcon; break;
  }
  // A default-button number beyond the buttons falls back to the first.
  int index = (style >> 8) & 0x3;
  layout.default_button = layout.buttons.value(index, layout.buttons.first());
  return layout;
}

CenteredMessageBox::CenteredMessageBox(QWidget* owner, const QString& text, int style, const QString& caption)
    : QMessageBox(owner != nullptr ? owner->window() : nullptr), owner_(owner) {
  MessageBoxLayout layout = LayoutOfMessageBoxStyle(style);
  // An empty title would be replaced by the program's name; one blank keeps the bar empty.
  setWindowTitle(caption.isEmpty() ? QStringLiteral(" ") : caption);
  // Messages hold file names and user input: never read them as markup.
  setTextFormat(Qt::PlainText);
  setText(TextForMessageBox(text));
  setIcon(layout.icon);
  for (int id : layout.buttons) buttons_.append(std::pair<int, QAbstractButton*>(id, addButton(StandardButtonOf(id))));
  setDefaultButton(qobject_cast<QPushButton*>(ButtonOf(layout.default_button)));
  // Without an escape button Qt picks one itself; a box without one ignores
  // Escape and the close button, as the style asks.
  if (layout.escape_button != 0) setEscapeButton(ButtonOf(layout.escape_button));
  else setEscapeButton(static_cast<QAbstractButton*>(nullptr));
}

void CenteredMessageBox::FitScreenWidth() {
  QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  // Qt lets a text that it must wrap anywhere (a long path) make the box as
  // wide as a small screen, frame not counted: narrower, the text wraps again.
  const int room = screen->availableGeometry().width() - (frameGeometry().width() - width());
  if (width() <= room || room <= 0) return;
  QLayout* box_layout = layout();
  const int height_for_room =
      box_layout != nullptr && box_layout->hasHeightForWidth() ? box_layout->totalHeightForWidth(room) : height();
  setFixedSize(room, std::max(height(), height_for_room));
}

int CenteredMessageBox::IdOf(const QAbstractButton* button) const {
  for (const auto& [id, candidate] : buttons_)
    if (candidate == button) return id;
  return 0;
}

QAbstractButton* CenteredMessageBox::ButtonOf(int id) const {
  for (const auto& [candidate_id, button] : buttons_)
    if (candidate_id == id) return button;
  return nullptr;
}

int CenteredMessageBox::Result() const {
  int id = IdOf(clickedButton());
  return id != 0 ? id : kIdCancel;
}

void CenteredMessageBox::showEvent(QShowEvent* event) {
  // The base class settles the box's size when it is shown; only then is its
  // centre known.
  QMessageBox::showEvent(event);
  if (event->spontaneous()) return;
  FitScreenWidth();
  QRect area = WindowRect(owner_);
  if (!area.isValid()) {
    QScreen* screen = QGuiApplication::primaryScreen();
    area = screen != nullptr ? screen->geometry() : QRect();
  }
  QSize size = frameGeometry().size();
  move(area.left() + area.width() / 2 - size.width() / 2, area.top() + area.height() / 2 - size.height() / 2);
}

}  // namespace sorvel
