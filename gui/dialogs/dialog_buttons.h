// The "OK" and "キャンセル" row of the small modal dialogs: OK is the default
// button (Enter), Cancel rejects (as Escape and the close box do).
#pragma once

class QDialog;
class QHBoxLayout;
class QPushButton;

namespace sorvel {

// Makes both buttons on `dialog`, right-aligned in the returned row; the
// caller connects OK to its own confirming step.
QHBoxLayout* OkCancelRow(QDialog* dialog, QPushButton** ok, QPushButton** cancel);

}  // namespace sorvel
