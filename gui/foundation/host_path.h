// The host's bytes of paths that reach the program as text. Linux keeps
// names as bytes that need not be UTF-8; Qt hands file dialogs' answers and
// dropped files' addresses as text, decoding each byte that is not UTF-8 to
// U+FFFD, which no longer opens the file. These functions find the bytes
// back, so that such files can be added and read like any other.
#pragma once

#include <QByteArray>
#include <QString>

class QUrl;

namespace sorvel {

// The host path that `path` (absolute, as Qt decodes host names) stands for.
// A path whose own UTF-8 bytes name an entry is that entry; otherwise each
// level is looked up in its folder among the names that Qt decodes to the
// same text (the first in byte order where several do). Where no entry
// matches, the path's UTF-8 bytes (which then name nothing).
QByteArray HostPathOf(const QString& path);

// The host bytes of a path the program holds as text: its own bytes, or,
// when Qt's decoding replaced bytes of it (U+FFFD), the entry HostPathOf
// finds for it. What every open and stat of such a path goes through.
QByteArray HostBytesOf(const QString& path);

// The host path of a local file's address as it was sent ("file:///a/%FF"):
// its percent-encoded bytes decoded as they are. Empty for other addresses.
QByteArray HostPathOfUrl(const QUrl& url);

}  // namespace sorvel
