// Shared pieces of the test suite: a desktop that answers dialogs from a script,
// a temporary folder, byte-exact file helpers, and a fixture that starts the
// real program objects with the real editor widget.
#pragma once

#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "app/EditorApp.h"
#include "platform/Platform.h"

struct MessageRecord {
    std::string text;
    std::string caption;
    platform::MessageBoxType type;
};

struct QuestionRecord {
    std::string text;
    std::string caption;
    std::vector<std::string> buttons;
    int defaultButton;
    int escapeButton;
};

struct FileDialogRecord {
    bool save;
    platform::FileDialogRequest request;
};

struct ProgressRecord {
    std::string text;
    int64_t total;
    bool cancellable;
    std::vector<int64_t> steps; // each Advance, in order
    bool closed = false;
};

// Answers message boxes and file dialogs from queues filled by the test and
// records what was asked. An unexpected question fails the test. Progress is
// recorded, and cancellable work is cancelled at a step the test chooses.
class ScriptedDesktop : public platform::Desktop {
  public:
    std::deque<int> answers;           // for Yes/No/Cancel questions
    std::deque<std::string> fileNames; // an empty name cancels the dialog
    std::vector<MessageRecord> messages;
    std::deque<int> choices; // button indexes, for questions with buttons of their own
    std::vector<QuestionRecord> questions;
    std::vector<FileDialogRecord> dialogs;
    std::vector<int> quits;
    std::deque<ProgressRecord> progress;
    int cancelAtStep = 0; // counted from 1 in each cancellable work; 0 never
    // Runs at each step, as the event loop does while a real progress window
    // is up.
    std::function<void()> duringProgress;

    int MessageBox(QWidget* owner, const std::string& text, const std::string& caption,
                   platform::MessageBoxType type) override;
    int Ask(QWidget* owner, const std::string& text, const std::string& caption,
            const std::vector<std::string>& buttons, int defaultButton, int escapeButton) override;
    bool GetOpenFileName(QWidget* owner, const platform::FileDialogRequest& request,
                         std::string& path) override;
    bool GetSaveFileName(QWidget* owner, const platform::FileDialogRequest& request,
                         std::string& path) override;
    void PostQuitMessage(int status) override { quits.push_back(status); }
    std::unique_ptr<platform::Progress> ShowProgress(QWidget* owner, const std::string& text,
                                                     int64_t total, bool cancellable) override;

  private:
    bool Choose(bool save, const platform::FileDialogRequest& request, std::string& path);
};

// A folder under /tmp removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    std::string Path(const std::string& name) const { return path + "/" + name; }
    const std::string& Root() const { return path; }

  private:
    std::string path;
};

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);

// Starts the program as main() does, with a scripted desktop.
class EditorTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string EditorText();
    void TypeText(const std::string& text); // real key presses into the editor
    void Command(unsigned short id);        // what the frame does with a command
    std::string Caption();
    std::string LastMessage();              // the text of the last message box
    void AddText(const std::string& bytes); // inserted at the caret, as an edit
    bool MenuEnabled(unsigned short id);

    ScriptedDesktop desktop;
    TempDir dir;
    // XDG_STATE_HOME for the test, so that recovery journals of one test
    // never meet another's (or the user's).
    TempDir stateDir;
};

// A small tmpfs mounted on a fresh folder for the life of the object, to make
// a full or read-only disk real. Needs root; Mounted() says whether it worked.
class ScopedTmpfs {
  public:
    explicit ScopedTmpfs(const std::string& size);
    ~ScopedTmpfs();
    bool Mounted() const { return mounted; }
    bool RemountReadOnly();
    std::string Path(const std::string& name) const { return dir.Path(name); }

  private:
    TempDir dir;
    bool mounted = false;
};

// Bytes the editor has read out of the component for screen readers since
// it started: what their queries and the index of offsets cost.
long long ScreenReaderBytesRead();

// Drags text from another program, which offers to move it, into the editor
// and drops it at point of the editor's viewport. Returns whether the drop
// was taken, after which that program would delete its text.
bool DropFromElsewhere(const QString& text, const QPoint& point);

// The accessible interface of a menu item, as a screen reader finds it in its
// menu; nullptr for an id the menus lack.
class QAccessibleInterface;
QAccessibleInterface* AccessibleMenuItem(unsigned short id);

// The names in a folder, without "." and "..", sorted.
std::vector<std::string> ListFolder(const std::string& path);

// What assistive technology was told: one accessibility event.
struct AccessibilityRecord {
    int type = 0; // a QAccessible::Event
    QObject* object = nullptr;
    int position = -1; // change position, or caret offset for caret moves
    QString removed;
    QString inserted;
    int selectionStart = -1;
    int selectionEnd = -1;
};

// Turns Qt's accessibility on for the life of the object, through the
// platform as the desktop's AT-SPI bridge does (so that every activation
// observer hears of it), and records the events Qt would pass to the bridge.
class ActiveAccessibility {
  public:
    ActiveAccessibility();
    ~ActiveAccessibility();
    ActiveAccessibility(const ActiveAccessibility&) = delete;
    ActiveAccessibility& operator=(const ActiveAccessibility&) = delete;

    // The recorded events of the given types, oldest first; all when empty.
    std::vector<AccessibilityRecord> Events(std::vector<int> types = {}) const;
    void Clear();
};
