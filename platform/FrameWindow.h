// The top-level window: a menu bar built from the menu resource, window-wide
// shortcuts from the accelerator table, a caption, and one child that fills the
// client area. What the program does with commands, menu browsing and close
// requests is up to the handlers it installs.
#pragma once

#include <QMainWindow>
#include <functional>
#include <map>
#include <string>

#include "resources/Resources.h"

class QAction;

namespace platform {

struct FrameHandlers {
    std::function<void(unsigned short id)> command;
    std::function<void()> menuSelect;
    // The frame became the active window.
    std::function<void()> activated;
    // Returns true when the window may close.
    std::function<bool()> closeRequest;
};

class FrameWindow : public QMainWindow {
    Q_OBJECT

  public:
    FrameWindow(const MenuResource& menu, const AcceleratorTable& accelerators,
                FrameHandlers handlers);
    ~FrameWindow() override;

    // Delivers a command as the menu or a shortcut would.
    void SendCommand(unsigned short id) { handlers.command(id); }
    void SetClient(QWidget* child);
    void SetCaption(const std::string& bytes);
    void EnableMenuItem(unsigned short id, bool enabled);
    bool IsMenuItemEnabled(unsigned short id) const;
    // The action of a menu item, or nullptr for an id the menu lacks.
    QAction* MenuAction(unsigned short id) const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildMenuBar(const MenuResource& menu);
    void AttachShortcuts(const AcceleratorTable& accelerators);
    bool IsAcceleratorKey(const QKeyEvent& key) const;

    FrameHandlers handlers;
    std::map<unsigned short, QAction*> actions;
    std::vector<QKeySequence> acceleratorKeys;
};

} // namespace platform
