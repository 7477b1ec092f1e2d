// A caption above a list of lines, shown modally with one "OK" button; the
// project loader lists the source files it could not find with it.
#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QListWidget;
class QPushButton;

namespace sorvel {

class ListStatusForm : public QDialog {
  Q_OBJECT

 public:
  explicit ListStatusForm(QWidget* parent = nullptr);

  // Fills the form with `caption` and `lines` (in order) and shows it modally
  // until the user closes it.
  static void ShowOpen(const QString& caption, const QStringList& lines, QWidget* parent = nullptr);
  void Load(const QString& caption, const QStringList& lines);

  // The horizontal scroll extent in pixels: the longest line's width plus 16.
  int HorizontalExtent() const { return extent_; }

  QLabel* lblCaption() const { return lblCaption_; }
  QListWidget* lstStatusList() const { return lstStatusList_; }
  QPushButton* cmdOK() const { return cmdOK_; }

 private:
  int extent_ = 16;
  QLabel* lblCaption_;
  QListWidget* lstStatusList_;
  QPushButton* cmdOK_;
};

}  // namespace sorvel
