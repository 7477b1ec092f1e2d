#include "gui/foundation/program_icon.h"

#include <QApplication>

namespace sorvel {

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/sorvel/sorvel-%1.png").arg(size), QSize(size, size));
  return icon;
}

void SetProgramIcon() { QApplication::setWindowIcon(ProgramIcon()); }

}  // namespace sorvel
