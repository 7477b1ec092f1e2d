// The small track-type icons of the TOC lists ("Data", "Audio").
#pragma once

#include <QIcon>
#include <QString>

namespace sorvel {

// The icon of key "Audio" or "Data"; a null icon for any other key.
QIcon TrackTypeIcon(const QString& key);

}  // namespace sorvel
