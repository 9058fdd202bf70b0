#include <QApplication>

#include "app/EditorApp.h"
#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"

EditorApp theApp;

void EditorApp::StartUp(QApplication& application) {
    instance = &application;

    platform::FrameHandlers handlers;
    handlers.command = [this](unsigned short id) {
        ExecuteCommand(id);
        UpdateMenus();
    };
    handlers.menuSelect = [this] { UpdateMenus(); };
    handlers.closeRequest = [this] { return CloseRequested(); };
    frameWindow = new platform::FrameWindow(varneMenu, varneAccelerators, std::move(handlers));

    CreateEditorWindow();
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
    ConfigureEditor();
    frameWindow->SetClient(editorWindow);
    editorWindow->show();
    editorWindow->setFocus();
}

// The frame's answer to a close request: ask about unsaved changes, then let
// the editor go and end the event loop; on Cancel nothing happens at all.
bool EditorApp::CloseRequested() {
    if (ConfirmDiscard() == platform::IDCANCEL)
        return false;
    EditorWindow* editor = editorWindow;
    editorWindow = nullptr;
    if (editor)
        editor->deleteLater();
    platform::CurrentDesktop().PostQuitMessage(0);
    return true;
}

void EditorApp::ShutDown() {
    platform::FrameWindow* frame = frameWindow;
    editorWindow = nullptr;
    frameWindow = nullptr;
    delete frame;
    instance = nullptr;
    modified = false;
    filePath.clear();
}
