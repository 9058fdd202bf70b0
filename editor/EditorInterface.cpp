#include "app/EditorApp.h"
#include "editor/EditorWindow.h"

namespace {

unsigned int ScintillaMessage(unsigned int message) {
    switch (message) {
    case WM_CUT:
        return SCI_CUT;
    case WM_COPY:
        return SCI_COPY;
    case WM_PASTE:
        return SCI_PASTE;
    case WM_CLEAR:
        return SCI_CLEAR;
    case WM_UNDO:
        return SCI_UNDO;
    case EM_CANUNDO:
        return SCI_CANUNDO;
    case EM_CANPASTE:
        return SCI_CANPASTE;
    case EM_EMPTYUNDOBUFFER:
        return SCI_EMPTYUNDOBUFFER;
    case EM_GETTEXTRANGE:
        return SCI_GETTEXTRANGE;
    default:
        return message;
    }
}

} // namespace

// The clipboard messages go to the window's byte-exact commands, which also
// look at what the clipboard holds; the component's own would convert.
Position EditorApp::SendEditor(unsigned int message, unsigned long wParam, Position lParam) {
    if (!editorWindow)
        return 0;
    switch (ScintillaMessage(message)) {
    case SCI_CANPASTE:
        return editorWindow->CanPaste();
    case SCI_CUT:
        editorWindow->Cut();
        return 0;
    case SCI_COPY:
        editorWindow->Copy();
        return 0;
    case SCI_PASTE:
        editorWindow->Paste();
        return 0;
    default:
        return editorWindow->SendScintilla(ScintillaMessage(message), wParam, lParam);
    }
}

Position EditorApp::SendEditor(unsigned int message, unsigned long wParam, const void* lParam) {
    return SendEditor(message, wParam, reinterpret_cast<Position>(lParam));
}
