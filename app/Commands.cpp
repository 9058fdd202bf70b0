#include "app/EditorApp.h"
#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"

// Every command passes the door first. Exit closes the window, and waits
// for a save or is put off until a load is over, as a close does.
void EditorApp::ExecuteCommand(unsigned short id) {
    const auto request =
        id == IDM_EXIT ? TransferDoor::Request::Close : TransferDoor::Request::Command;
    if (!door.Admits(request, [this, id] {
            ExecuteCommand(id);
            UpdateMenus();
        }))
        return;
    switch (id) {
    case IDM_NEW:
        if (ConfirmDiscard() != platform::IDCANCEL)
            NewDocument();
        break;
    case IDM_OPEN:
        if (ConfirmDiscard() != platform::IDCANCEL)
            ChooseAndOpen();
        break;
    case IDM_SAVE:
        Save();
        break;
    case IDM_SAVEAS:
        SaveAs();
        break;
    case IDM_EXIT:
        if (QuitConfirmed())
            platform::CurrentDesktop().PostQuitMessage(0);
        break;
    case IDM_CUT:
        SendEditor(WM_CUT);
        break;
    case IDM_COPY:
        SendEditor(WM_COPY);
        break;
    case IDM_UNDO:
        SendEditor(WM_UNDO);
        break;
    case IDM_REDO:
        SendEditor(SCI_REDO);
        break;
    case IDM_PASTE:
        SendEditor(WM_PASTE);
        break;
    case IDM_DELETE:
        SendEditor(WM_CLEAR);
        break;
    case IDM_SELECTALL:
        SendEditor(SCI_SELECTALL);
        break;
    case IDM_FIND:
        ShowFindWindow(false);
        break;
    case IDM_FINDNEXT:
        FindAgain(true);
        break;
    case IDM_FINDPREVIOUS:
        FindAgain(false);
        break;
    case IDM_REPLACE:
        ShowFindWindow(true);
        break;
    case IDM_GOTOLINE:
        ShowGoToLine();
        break;
    default:
        break;
    }
}

void EditorApp::UpdateMenus() {
    SetMenuItemEnabled(IDM_SAVE, modified);
    SetMenuItemEnabled(IDM_UNDO, SendEditor(EM_CANUNDO) != 0);
    SetMenuItemEnabled(IDM_REDO, SendEditor(SCI_CANREDO) != 0);
    SetMenuItemEnabled(IDM_PASTE, SendEditor(EM_CANPASTE) != 0);
}

void EditorApp::SetMenuItemEnabled(unsigned short id, bool enabled) {
    if (frameWindow)
        frameWindow->EnableMenuItem(id, enabled);
}

void EditorApp::HandleNotification(const NotificationHeader& header) {
    switch (header.code) {
    case SCN_SAVEPOINTREACHED:
        // Back to the text as read or saved, which a journal no longer needs
        // to rebuild; a recovered text is still unsaved.
        modified = recovered;
        if (!recovered && editorWindow && editorWindow->RecordsChanges())
            StartJournal();
        UpdateMenus();
        break;
    case SCN_SAVEPOINTLEFT:
        modified = true;
        UpdateMenus();
        break;
    default:
        break;
    }
}
