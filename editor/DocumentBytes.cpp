#include "editor/DocumentBytes.h"

#include <Qsci/qsciscintillabase.h>
#include <algorithm>

Position CopyBytes(const QsciScintillaBase& editor, Position start, Position end, char* buffer) {
    if (end < start)
        return 0;
    const Position length = editor.SendScintilla(SCI_GETLENGTH);
    start = std::clamp(start, Position(0), length);
    end = std::clamp(end, start, length);
    return editor.SendScintilla(SCI_GETTEXTRANGE, start, end, buffer);
}

Position CopyBytes(const QsciScintillaBase& editor, Position start, Position end,
                   std::string& bytes) {
    bytes.resize(size_t(std::max(end - start, Position(0))) + 1);
    bytes.resize(size_t(CopyBytes(editor, start, end, bytes.data())));
    return Position(bytes.size());
}

QByteArray BytesBetween(const QsciScintillaBase& editor, Position start, Position end) {
    if (end <= start)
        return QByteArray();
    QByteArray bytes(end - start + 1, Qt::Uninitialized);
    bytes.truncate(CopyBytes(editor, start, end, bytes.data()));
    return bytes;
}
