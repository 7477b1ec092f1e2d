// The title band of the disc dialogs: a GradientFrame named fraTitle from
// white to deep blue, carrying the label lblTitle in large white bold text.
#pragma once

#include <QString>

class QLabel;
class QWidget;

namespace sorvel {

class GradientFrame;

GradientFrame* MakeTitleBand(QWidget* parent, const QString& title, QLabel** label);

}  // namespace sorvel
