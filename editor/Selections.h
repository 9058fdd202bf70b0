// The one way the program lists the component's selections: every range, in
// the component's own order, each with its number there, so that a caller
// can act on one of them by that number.
#pragma once

#include <vector>

#include "editor/EditorMessages.h"

class QsciScintillaBase;

struct Selection {
    int index; // its number among the component's selections
    Position start;
    Position end;
};

// Every selection, empty ones (bare carets) included.
std::vector<Selection> Selections(const QsciScintillaBase& editor);

// Only those that hold text.
std::vector<Selection> SelectionsWithText(const QsciScintillaBase& editor);
