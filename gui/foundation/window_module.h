// Window routines shared by the forms: centring, rectangles, the topmost band
// and letting the display catch up inside long loops.
#pragma once

#include <QRect>
#include <functional>

class QMainWindow;
class QWidget;

namespace sorvel {

// The rectangle a window covers on the screen in pixels (a window's frame
// included; a control's own rectangle for a child widget). Invalid when there
// is no widget or it is not shown, so that callers fall back to the screen.
QRect WindowRect(const QWidget* window);

// Parts of WindowRect: 0 top, 1 bottom, 2 left, 3 right, 4 width, 5 height.
// 0 when the rectangle cannot be read or the part is another number.
int GetWindowRectPart(const QWidget* window, int part);

// Moves `form` (keeping its size) so that it is centred on `window`, or on the
// screen when the window's rectangle cannot be read. True when the window's
// rectangle was used.
bool CenterForm(QWidget* form, const QWidget* window);
// The same on a rectangle in screen pixels (an invalid one means the screen).
bool CenterForm(QWidget* form, const QRect& window_rect);

// Puts a top-level window into the topmost band or takes it out, keeping its
// rectangle, and shows it.
void SetTopMost(QWidget* window, bool on);

// Where a title of the window's menu bar and a control of the window share an
// access key, the menu keeps it: a label's key (which would put the focus on
// its buddy) and a button's key are taken off, their underlined letter still
// shown. Called once the window's menus and controls are built.
void GiveAccessKeysToMenus(QMainWindow* window);

// Lets the display catch up during a long synchronous loop: pending repaints
// and layouts run; timers, input and other posted events stay queued. Each
// call walks the whole queue of posted events, so loops that would call it per
// item call PacedPeekPendingMessage instead.
void PeekPendingMessage();

// The least time between two passes of PacedPeekPendingMessage.
inline constexpr int kPeekIntervalMs = 10;

// PeekPendingMessage for long loops that ask once per item: the pass runs only
// when kPeekIntervalMs have passed on the platform clock since the end of the
// last pass of any loop (or the clock went back), so that a loop's cost does
// not depend on how often it asks. `before`, when given, runs right before a
// pass (to bring deferred view work up to date for it). True when a pass ran.
// GUI thread only.
bool PacedPeekPendingMessage(const std::function<void()>& before = {});

}  // namespace sorvel
