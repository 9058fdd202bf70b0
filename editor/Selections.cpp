#include "editor/Selections.h"

#include <Qsci/qsciscintillabase.h>

namespace {

std::vector<Selection> List(const QsciScintillaBase& editor, bool withTextOnly) {
    std::vector<Selection> selections;
    const int count = int(editor.SendScintilla(SCI_GETSELECTIONS));
    for (int i = 0; i < count; ++i) {
        const auto n = static_cast<unsigned long>(i);
        const Position start = editor.SendScintilla(SCI_GETSELECTIONNSTART, n);
        const Position end = editor.SendScintilla(SCI_GETSELECTIONNEND, n);
        if (start < end || !withTextOnly)
            selections.push_back({i, start, end});
    }
    return selections;
}

} // namespace

std::vector<Selection> Selections(const QsciScintillaBase& editor) {
    return List(editor, false);
}

std::vector<Selection> SelectionsWithText(const QsciScintillaBase& editor) {
    return List(editor, true);
}
