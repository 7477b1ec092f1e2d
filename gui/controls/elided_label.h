// A one-line label for panels whose text may be longer than the room they
// get (a status bar's panel showing a path): the text is cut with "…" where
// the room ends, and the label asks for no width on its account, so that no
// text ever widens its window. text() keeps the whole text.
#pragma once

#include <QLabel>

namespace sorvel {

class ElidedLabel : public QLabel {
 public:
  explicit ElidedLabel(QWidget* parent = nullptr);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  // The text as it is drawn in the label's present width.
  QString ShownText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace sorvel
