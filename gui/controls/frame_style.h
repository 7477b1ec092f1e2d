// Border of a control's surface: BorderStyle 0 none, 1 fixed single;
// Appearance 0 flat (a one-pixel line), 1 three-dimensional (sunken).
#pragma once

#include <QFrame>

namespace sorvel {

inline void ApplyFrameStyle(QFrame* frame, int border_style, int appearance) {
  if (border_style != 1) {
    frame->setFrameStyle(QFrame::NoFrame);
    return;
  }
  if (appearance == 1) {
    frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    frame->setLineWidth(2);
  } else {
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setLineWidth(1);
  }
}

}  // namespace sorvel
