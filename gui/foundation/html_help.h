// The program's help: the help file opened with the desktop's handler for it.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

namespace sorvel {

class HTMLHelp {
 public:
  HTMLHelp() = default;
  ~HTMLHelp() { CloseHelp(); }
  HTMLHelp(const HTMLHelp&) = delete;
  HTMLHelp& operator=(const HTMLHelp&) = delete;

  // Opens `file_name` for `owner`; a missing file or handler shows nothing
  // and reports nothing.
  void OpenHelp(QWidget* owner, const QString& file_name);
  // Forgets the help opened through this object. The desktop's viewer is
  // another program and stays open.
  void CloseHelp();
  // The window the help was opened for, null when none is open.
  QWidget* Owner() const { return owner_; }

 private:
  QPointer<QWidget> owner_;
};

}  // namespace sorvel
