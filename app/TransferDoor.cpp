#include "app/TransferDoor.h"

#include <QCoreApplication>
#include <QTimer>
#include <utility>

#include "editor/EditorWindow.h"

void TransferDoor::Shut(EditorWindow* window, std::function<void()> finisher) {
    shut = true;
    editor = window;
    finish = std::move(finisher);
    if (editor)
        editor->SetTransferring(true);
}

void TransferDoor::Open() {
    if (!shut)
        return;
    shut = false;
    if (editor)
        editor->SetTransferring(false);
    editor = nullptr;
    finish = nullptr;
    if (putOff)
        QTimer::singleShot(0, QCoreApplication::instance(), std::exchange(putOff, nullptr));
}

// The request that is put off is made again in full once the door opens, so
// one is enough: a second close meanwhile would only close a closed window.
bool TransferDoor::Admits(Request request, const std::function<void()>& again) {
    if (!shut)
        return true;
    if (request == Request::Command)
        return false;
    if (finish) {
        // Copied: carrying the transfer to its end opens the door, which
        // forgets finish while it runs.
        const std::function<void()> carry = finish;
        carry();
    }
    if (!shut)
        return true;
    if (request == Request::Close && again && !putOff)
        putOff = again;
    return false;
}
