// The host files a layout reads as it streams, checked before a burn or an
// image file begins: the layout was fixed when the files were added, so a
// source that vanished, became something else than a regular file or shrank
// since would leave a hole in the disc halfway through.
#pragma once

#include <QString>

namespace sorvel {

class Tazol;

// The error line naming the first source of `image` that is no longer what
// was added: a data file that is not a regular file any more or holds fewer
// bytes than it had (one that grew is written at its recorded size), or a
// track's WAV file that is not a regular file or is smaller than when its
// track was added. Empty when every source is in
// place. The layout's current directory is the same afterwards, and the
// walk raises none of the layout's events.
QString ChangedLayoutSource(Tazol& image);

}  // namespace sorvel
