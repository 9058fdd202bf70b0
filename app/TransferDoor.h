// One way in while a file moves between disk and the editor.
//
// A load or a save shuts the door from its first byte to its last. While it is
// shut nothing else may change the document or start another transfer,
// whatever asks:
//
// - the editor's text is read-only and the editor window takes no input: keys,
//   input methods, the mouse (a middle-click paste among it), drops and its
//   context menu are swallowed, and a screen reader's edits are refused by
//   the component itself (EditorWindow::SetTransferring);
// - commands are refused, from the menus, their shortcuts, a screen reader's
//   actions on the menu items or anything else that reaches ExecuteCommand;
// - closing the window (Exit among it) and the session's end wait their turn.
//
// A save runs on a thread of its own and can be carried to its end from
// within any event handler, so a close or a logout during a save waits for it
// and is then answered as usual: with the save question, if the text is still
// unsaved. A load, a search and Replace All work on the GUI thread, under the
// event loop that shows their progress, so nothing can wait for them there: a
// close meanwhile is put off until the work is over and then made again, and
// a logout is answered at once, without a question (EditorApp's
// LogoutRequested: a document being loaded holds nothing unsaved).
#pragma once

#include <QPointer>
#include <functional>

class EditorWindow;

class TransferDoor {
  public:
    enum class Request { Command, Close, Logout };

    // Shuts the door for a transfer on editor (which may be null). finish, when
    // given, carries the transfer to its end and opens the door; a transfer
    // without one cannot be waited for.
    void Shut(EditorWindow* editor, std::function<void()> finish = {});
    // Opens the door again, and makes the request put off meanwhile again,
    // once the current event is over.
    void Open();
    bool IsOpen() const { return !shut; }

    // Keeps the door shut for the life of the object, for work on the GUI
    // thread, which cannot be waited for: a load, or a search or Replace All
    // over the whole text.
    // Within work that holds the door already, it leaves it as it is.
    class Hold {
      public:
        Hold(TransferDoor& door, EditorWindow* editor) : door(door), shuts(door.IsOpen()) {
            if (shuts)
                door.Shut(editor);
        }
        ~Hold() {
            if (shuts)
                door.Open();
        }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

      private:
        TransferDoor& door;
        bool shuts;
    };

    // Whether the request may be handled now. While the door is open: yes.
    // While it is shut, a command is refused, and a close or a logout waits
    // for a transfer that can be waited for and then goes ahead. Other work
    // cannot be waited for: a close is put off (again runs once the door
    // opens), and a logout is not admitted, for the caller to answer without
    // asking anything.
    bool Admits(Request request, const std::function<void()>& again = {});

  private:
    bool shut = false;
    QPointer<EditorWindow> editor;
    std::function<void()> finish;
    std::function<void()> putOff; // the close made again once the door opens
};
