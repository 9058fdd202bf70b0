#include <QApplication>

#include "app/EditorApp.h"
#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"

EditorApp theApp;

namespace {

// Who the program is to the desktop. Wayland compositors find varne.desktop,
// and with it the icon, by the desktop file name; X11 window managers match
// the window to it by its class, which Qt takes from the application name.
void DeclareIdentity() {
    QApplication::setApplicationName("varne");
    QApplication::setApplicationVersion(VARNE_VERSION);
    QApplication::setDesktopFileName("varne");
}

} // namespace

void EditorApp::StartUp(QApplication& application) {
    instance = &application;
    DeclareIdentity();

    platform::FrameHandlers handlers;
    handlers.command = [this](unsigned short id) {
        ExecuteCommand(id);
        UpdateMenus();
    };
    handlers.menuSelect = [this] { UpdateMenus(); };
    // Whatever changed while another window was in front shows when the frame
    // comes back, before a shortcut can act on a stale state.
    handlers.activated = [this] { UpdateMenus(); };
    handlers.closeRequest = [this] { return CloseRequested(); };
    frameWindow = new platform::FrameWindow(varneMenu, varneAccelerators, std::move(handlers));

    CreateEditorWindow();
    if (journalWanted)
        CreateJournal();
    UpdateTitle();
    frameWindow->showMaximized();
}

// The editor child is styled before it is first shown, so that the first paint
// already uses the program's colours and fonts.
void EditorApp::CreateEditorWindow() {
    editorWindow = new EditorWindow(frameWindow);
    editorWindow->hide();
    QObject::connect(editorWindow, &QsciScintillaBase::SCN_SAVEPOINTREACHED,
                     [this] { HandleNotification({SCN_SAVEPOINTREACHED}); });
    QObject::connect(editorWindow, &QsciScintillaBase::SCN_SAVEPOINTLEFT,
                     [this] { HandleNotification({SCN_SAVEPOINTLEFT}); });
    QObject::connect(editorWindow, &QsciScintillaBase::SCN_MODIFIED,
                     [this](int position, int type, const char*, int length) {
                         RecordChange(type, position, length);
                     });
    // Paste follows the clipboard at once, so that Ctrl+V works the moment
    // something is copied anywhere, with no menu opened first.
    QObject::connect(editorWindow, &EditorWindow::PasteChanged, [this] { UpdateMenus(); });
    // Reported once the component's call that refused the text has returned.
    QObject::connect(
        editorWindow, &EditorWindow::InsertionRefused, editorWindow,
        [this] { ReportRefusedInsertion(); }, Qt::QueuedConnection);
    // Opened once the drop is over, so that the file manager is not kept
    // waiting through the save question.
    QObject::connect(
        editorWindow, &EditorWindow::FilesDropped, editorWindow,
        [this](const QList<QByteArray>& paths) {
            std::vector<std::string> files;
            for (const QByteArray& path : paths)
                files.push_back(path.toStdString());
            OpenDroppedFiles(files);
        },
        Qt::QueuedConnection);
    ConfigureEditor();
    frameWindow->SetClient(editorWindow);
    editorWindow->show();
    editorWindow->setFocus();
}

// The frame's answer to a close request: ask about unsaved changes, then let
// the editor go and end the event loop; on Cancel nothing happens at all. A
// close during a load or a save passes the door first.
bool EditorApp::CloseRequested() {
    const auto closeAgain = [this] {
        if (frameWindow)
            frameWindow->close();
    };
    if (!door.Admits(TransferDoor::Request::Close, closeAgain))
        return false;
    if (!QuitConfirmed())
        return false;
    EditorWindow* editor = editorWindow;
    editorWindow = nullptr;
    if (editor)
        editor->deleteLater();
    platform::CurrentDesktop().PostQuitMessage(0);
    return true;
}

platform::EndingHandlers EditorApp::EndingHandlers() {
    platform::EndingHandlers handlers;
    handlers.preserve = [this] { PreserveUnsavedText(); };
    handlers.logout = [this] { return LogoutRequested(); };
    return handlers;
}

void EditorApp::ShutDown() {
    // Whatever is unsaved stays in the journal, as after any other ending.
    FlushJournal();
    journal.reset();
    journalTimer = nullptr;
    platform::FrameWindow* frame = frameWindow;
    editorWindow = nullptr;
    findWindow = nullptr; // the frame's children
    goToLineWindow = nullptr;
    frameWindow = nullptr;
    delete frame;
    instance = nullptr;
    modified = false;
    recovered = false;
    filePath.clear();
    diskIdentity.reset();
    diskTarget.clear();
    onSaveChecked = nullptr;
}
