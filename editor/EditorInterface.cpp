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
    case EM_EMPTYUNDOBUFFER:
        return SCI_EMPTYUNDOBUFFER;
    case EM_GETTEXTRANGE:
        return SCI_GETTEXTRANGE;
    default:
        return message;
    }
}

} // namespace

Position EditorApp::SendEditor(unsigned int message, unsigned long wParam, Position lParam) {
    if (!editorWindow)
        return 0;
    if (message == EM_CANPASTE)
        return editorWindow->CanPaste();
    return editorWindow->SendScintilla(ScintillaMessage(message), wParam, lParam);
}

Position EditorApp::SendEditor(unsigned int message, unsigned long wParam, const void* lParam) {
    return SendEditor(message, wParam, reinterpret_cast<Position>(lParam));
}
