#include "gui/foundation/window_module.h"

#include <QCoreApplication>
#include <QEvent>
#include <QAbstractButton>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QSet>
#include <QWidget>
#include <optional>

#include "platform/clock.h"

namespace sorvel {

QRect WindowRect(const QWidget* window) {
  if (window == nullptr || !window->isVisible()) return {};
  if (window->isWindow()) return window->frameGeometry();
  return QRect(window->mapToGlobal(QPoint(0, 0)), window->size());
}

int GetWindowRectPart(const QWidget* window, int part) {
  QRect r = WindowRect(window);
  if (!r.isValid()) return 0;
  // Right and bottom are exclusive edges, as the width and height imply.
  int right = r.x() + r.width();
  int bottom = r.y() + r.height();
  switch (part) {
    case 0: return r.y();
    case 1: return bottom;
    case 2: return r.x();
    case 3: return right;
    case 4: return r.width();
    case 5: return r.height();
    default: return 0;
  }
}

bool CenterForm(QWidget* form, const QRect& window_rect) {
  if (form == nullptr) return false;
  QRect area = window_rect;
  bool used_window = area.isValid();
  if (!used_window) {
    QScreen* screen = form->screen() != nullptr ? form->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return false;
    area = screen->geometry();
  }
  // A form that was never shown has no frame yet; its own size stands for it.
  QSize size = form->isWindow() ? form->frameGeometry().size() : form->size();
  QPoint top_left(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2);
  if (!form->isWindow() && form->parentWidget() != nullptr) top_left = form->parentWidget()->mapFromGlobal(top_left);
  form->move(top_left);
  return used_window;
}

bool CenterForm(QWidget* form, const QWidget* window) { return CenterForm(form, WindowRect(window)); }

void SetTopMost(QWidget* window, bool on) {
  if (window == nullptr) return;
  QWidget* top = window->window();
  // Changing a window's flags hides it and may forget where it stood.
  QRect geometry = top->geometry();
  bool placed = top->testAttribute(Qt::WA_Moved) || top->isVisible();
  top->setWindowFlag(Qt::WindowStaysOnTopHint, on);
  if (placed) top->setGeometry(geometry);
  top->show();
}

void PeekPendingMessage() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateLater);
}

bool PacedPeekPendingMessage(const std::function<void()>& before) {
  // Only the GUI thread paints, so one moment serves every loop.
  static std::optional<platform::Clock::TimePoint> last;
  const platform::Clock::TimePoint now = platform::GetClock().Now();
  if (last && now >= *last && now - *last < std::chrono::milliseconds(kPeekIntervalMs)) return false;
  if (before) before();
  PeekPendingMessage();
  // Counted from the end of the pass: a slow repaint cannot take the whole loop.
  last = platform::GetClock().Now();
  return true;
}

namespace {

// A plain-text caption as markup: its access key underlined ("&&" a plain "&").
QString UnderlinedCaption(const QString& text) {
  QString html;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'&' && i + 1 < text.size()) {
      ++i;
      const QString letter = QString(text[i]).toHtmlEscaped();
      html += text[i] == u'&' ? letter : QStringLiteral("<u>") + letter + QStringLiteral("</u>");
    } else {
      html += QString(text[i]).toHtmlEscaped();
    }
  }
  return html;
}

}  // namespace

void GiveAccessKeysToMenus(QMainWindow* window) {
  if (window == nullptr || window->menuWidget() == nullptr) return;
  QSet<QKeySequence> menu_keys;
  if (auto* bar = qobject_cast<QMenuBar*>(window->menuWidget())) {
    for (const QAction* title : bar->actions()) {
      const QKeySequence key = QKeySequence::mnemonic(title->text());
      if (!key.isEmpty()) menu_keys.insert(key);
    }
  }
  if (menu_keys.isEmpty()) return;
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (label->buddy() == nullptr || label->textFormat() == Qt::RichText) continue;
    const QString text = label->text();
    if (!menu_keys.contains(QKeySequence::mnemonic(text))) continue;
    // A label holds its key while it has a buddy; as markup it shows the letter without the key.
    label->setBuddy(nullptr);
    label->setTextFormat(Qt::RichText);
    label->setText(UnderlinedCaption(text));
  }
  for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
    if (menu_keys.contains(button->shortcut())) button->setShortcut(QKeySequence());
}

}  // namespace sorvel
