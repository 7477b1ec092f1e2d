// The host files a layout reads as it streams, checked before a burn or an
// image file begins: the layout was fixed when the files were added, so a
// source that vanished, became something else than a regular file, or is
// not the file it was (grown, shrunk, rewritten, another file behind its
// path or link) would put a hole or other bytes in the disc.
#pragma once

#include <QString>

namespace sorvel {

class Tazol;

// The error line naming the first source of `image` that is no longer what
// was added (platform/source_identity.h): a data file or a track's WAV file
// that is not a regular file any more, holds fewer bytes than it had, or
// differs otherwise from what the layout recorded when it was added. Empty
// when every source is in place. The layout's current directory is the
// same afterwards, and the walk raises none of the layout's events.
QString ChangedLayoutSource(Tazol& image);

}  // namespace sorvel
