#include "editor/EditorWindow.h"

#include "editor/EditorAccessible.h"
#include "editor/EditorMessages.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>

EditorWindow::EditorWindow(QWidget* parent)
    : QsciScintillaBase(parent), accessibility(std::make_unique<AccessibilityNotifier>(*this)) {
    setAccessibleName(QStringLiteral("Editor"));
    ApplyModificationEventMask();
    accessibility->Start();
}

EditorWindow::~EditorWindow() = default;

int EditorWindow::ModificationEventMask() const {
    int mask = 0;
    // A screen reader hears of every insertion and deletion. It is told from
    // the notifications sent before each change: QScintilla answers those sent
    // after it by counting the characters from the start of the document.
    if (accessibility && accessibility->FollowsChanges())
        mask |= SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE;
    return mask;
}

void EditorWindow::ApplyModificationEventMask() {
    SendScintilla(SCI_SETMODEVENTMASK, static_cast<unsigned long>(ModificationEventMask()));
}

EditorWindow::BulkChange::BulkChange(EditorWindow* editor) : editor(editor) {
    if (editor)
        editor->Accessibility().BeginBulkChange();
}

EditorWindow::BulkChange::~BulkChange() {
    if (editor)
        editor->Accessibility().EndBulkChange();
}

void EditorWindow::SetDocumentName(const std::string& path) {
    setAccessibleDescription(platform::BytesToDisplay(path));
}

bool EditorWindow::CanPaste() const {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    return SendScintilla(SCI_CANPASTE) != 0 && data && canInsertFromMimeData(data);
}
