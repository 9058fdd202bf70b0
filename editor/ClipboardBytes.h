// Byte-exact clipboard data. What Varne copies goes on the clipboard twice: as
// its exact bytes under a type of our own, which Varne prefers when pasting,
// and as plain text for other programs. Text from other programs is taken
// whole, NULs included. Nothing is converted on the way in or out; line ends
// stay as they were.
#pragma once

#include <QByteArray>
#include <QStringList>

class QMimeData;

// Varne's own type: the copied bytes exactly as the document holds them.
constexpr char varneBytesType[] = "application/x-varne-bytes";

// New clipboard data for bytes copied from the document. The rows of a
// rectangular selection each end with a line end and are marked as rows.
QMimeData* MimeDataForBytes(const QByteArray& bytes, bool rectangular);

// Whether a paste of data offered in these formats inserts anything: our
// bytes or text.
bool IsPasteableFormats(const QStringList& formats);
bool IsPasteable(const QMimeData* data);

// The bytes a paste of data inserts: our own exactly, or other programs' text
// in UTF-8, the document's encoding. The format is chosen from offered, what
// data was known to offer, so that no other question goes to its owner.
QByteArray PastedBytes(const QMimeData* data, const QStringList& offered);
QByteArray PastedBytes(const QMimeData* data);

// Whether data offered in these formats holds the rows of a rectangular
// selection.
bool IsRectangularFormats(const QStringList& offered);
bool IsRectangular(const QMimeData* data);
