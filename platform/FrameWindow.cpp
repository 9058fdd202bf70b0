#include "platform/FrameWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>

#include "platform/Platform.h"

namespace platform {

FrameWindow::FrameWindow(const MenuResource& menu, const AcceleratorTable& accelerators,
                         FrameHandlers handlers)
    : handlers(std::move(handlers)) {
    BuildMenuBar(menu);
    AttachShortcuts(accelerators);
    // Sees key presses on their way to any widget, so that a shortcut whose
    // item is greyed is swallowed instead of reaching the editor.
    qApp->installEventFilter(this);
}

FrameWindow::~FrameWindow() {
    qApp->removeEventFilter(this);
}

void FrameWindow::BuildMenuBar(const MenuResource& menu) {
    for (int p = 0; p < menu.count; ++p) {
        const PopupResource& popup = menu.popups[p];
        QMenu* qmenu = menuBar()->addMenu(QString::fromUtf8(popup.title));
        connect(qmenu, &QMenu::aboutToShow, this, [this] { handlers.menuSelect(); });
        connect(qmenu, &QMenu::hovered, this, [this] { handlers.menuSelect(); });
        for (int i = 0; i < popup.count; ++i) {
            const MenuItemResource& item = popup.items[i];
            if (item.id == 0) {
                qmenu->addSeparator();
                continue;
            }
            // The label's text before its tab is the item's name. The shortcut
            // shown after the tab is the action's own (AttachShortcuts), which
            // the menu draws in the same column, so that a screen reader gets
            // the name alone and the shortcut as the item's key binding.
            const QString label = QString::fromUtf8(item.label);
            QAction* action = qmenu->addAction(label.section(u'\t', 0, 0));
            const unsigned short id = item.id;
            connect(action, &QAction::triggered, this, [this, id] { handlers.command(id); });
            actions[id] = action;
        }
    }
}

void FrameWindow::AttachShortcuts(const AcceleratorTable& accelerators) {
    for (int i = 0; i < accelerators.count; ++i) {
        const AcceleratorResource& entry = accelerators.entries[i];
        QKeySequence key = QKeySequence::fromString(QString::fromUtf8(entry.key));
        acceleratorKeys.push_back(key);
        if (QAction* action = MenuAction(entry.id)) {
            action->setShortcut(key);
            action->setShortcutContext(Qt::WindowShortcut);
        }
    }
}

bool FrameWindow::IsAcceleratorKey(const QKeyEvent& key) const {
    const QKeySequence pressed(key.keyCombination());
    for (const QKeySequence& accelerator : acceleratorKeys) {
        if (accelerator == pressed)
            return true;
    }
    return false;
}

bool FrameWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this &&
        IsAcceleratorKey(*static_cast<QKeyEvent*>(event)))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void FrameWindow::SetClient(QWidget* child) {
    setCentralWidget(child);
}

// Qt reads "[*]" in a title as the place of the modified mark and drops it;
// doubled, it is shown as written, so a path keeps every character.
void FrameWindow::SetCaption(const std::string& bytes) {
    setWindowTitle(BytesToDisplay(bytes).replace("[*]", "[*][*]"));
}

QAction* FrameWindow::MenuAction(unsigned short id) const {
    auto found = actions.find(id);
    return found == actions.end() ? nullptr : found->second;
}

void FrameWindow::EnableMenuItem(unsigned short id, bool enabled) {
    if (QAction* action = MenuAction(id))
        action->setEnabled(enabled);
}

bool FrameWindow::IsMenuItemEnabled(unsigned short id) const {
    QAction* action = MenuAction(id);
    return action && action->isEnabled();
}

void FrameWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && handlers.activated)
        handlers.activated();
}

void FrameWindow::closeEvent(QCloseEvent* event) {
    if (handlers.closeRequest())
        event->accept();
    else
        event->ignore();
}

} // namespace platform
