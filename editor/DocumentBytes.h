// The one way the program reads the document's bytes out of the editing
// component. The component copies a range and writes a NUL after it; these
// functions keep room for that NUL themselves, and clamp the range to the
// document, so that nothing is ever read past its end.
#pragma once

#include <QByteArray>
#include <string>

#include "editor/EditorMessages.h"

class QsciScintillaBase;

// Copies the bytes [start, end), clamped to the document, to buffer and a NUL
// after them: buffer has room for end - start + 1 bytes. Returns how many
// bytes were copied. Nothing is written when end is before start.
Position CopyBytes(const QsciScintillaBase& editor, Position start, Position end, char* buffer);

// The same into bytes, which ends up holding exactly the bytes copied. Its
// room is kept, so a string reused block after block is allocated once.
Position CopyBytes(const QsciScintillaBase& editor, Position start, Position end,
                   std::string& bytes);

// The bytes [start, end), clamped to the document.
QByteArray BytesBetween(const QsciScintillaBase& editor, Position start, Position end);
