// Text across the engine boundary: UTF-8 both ways. Copies out of an engine
// may fill the buffer without a terminating zero and may cut the last UTF-8
// character; they are read up to the first zero within the buffer and a cut
// trailing character is dropped.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>

namespace sorvel {

// The zero-terminated UTF-8 bytes of `text` (an embedded U+0000 ends it).
QByteArray EngineText(const QString& text);

// Bytes of `text[0..length)` that end on a whole UTF-8 character: a lead byte
// at the end without all its continuation bytes is left out.
size_t WholeUtf8Length(const char* text, size_t length);

// The text of a string buffer of `size` bytes that an engine filled.
QString TextFromBuffer(const char* buffer, size_t size);

// A fixed-width code field (MCN, ISRC): every byte one character, so that
// what the engine holds goes back byte for byte.
QString CodeFromBytes(const char* bytes, size_t size);
// The first `size` character codes of `code` (zero bytes after its end).
void CodeToBytes(const QString& code, char* bytes, size_t size);

}  // namespace sorvel
