#include "gui/dialogs/track_icons.h"

#include <QApplication>
#include <QStyle>

namespace sorvel {

QIcon TrackTypeIcon(const QString& key) {
  if (key == QLatin1String("Audio")) return QApplication::style()->standardIcon(QStyle::SP_MediaVolume);
  if (key == QLatin1String("Data")) return QApplication::style()->standardIcon(QStyle::SP_FileIcon);
  return {};
}

}  // namespace sorvel
