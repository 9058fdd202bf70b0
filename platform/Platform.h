// What the program asks of the desktop beyond its own windows: message boxes,
// the open and save dialogs, progress of long work, and ending the event loop.
// Everything goes through one replaceable Desktop, so that tests can answer in
// place of a person.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QString;
class QWidget;

namespace platform {

enum DialogAnswer { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };
enum MessageBoxType { MB_OK = 0, MB_YESNOCANCEL = 3, MB_YESNO = 4 };

struct FileFilter {
    std::string displayText; // as the user reads it
    std::string pattern;     // patterns separated by ';', such as "*.html;*.htm"
};

struct FileDialogRequest {
    std::string title;
    std::vector<FileFilter> filters; // the first one starts selected
    std::string initialPath;         // path bytes; empty for none
};

// Long work as the person at the desk follows it.
class Progress {
  public:
    virtual ~Progress() = default;
    // Reports that done of the total units are finished, and says whether to
    // go on: false once the person has cancelled the work.
    virtual bool Advance(int64_t done) = 0;
    // Called while a step takes long (a slow disk's flush, say), so that a
    // window already shown keeps painting and the event loop keeps running.
    virtual void StillWorking() {}
};

class Desktop {
  public:
    virtual ~Desktop() = default;
    // Returns the button chosen: IDOK, or IDYES, IDNO or IDCANCEL. A Yes/No
    // question starts on No and Escape answers No.
    virtual int MessageBox(QWidget* owner, const std::string& text, const std::string& caption,
                           MessageBoxType type) = 0;
    // A question whose answers Yes and No would not name clearly: the buttons
    // carry their own labels ('&' marks a mnemonic). Returns the index of the
    // button chosen; Return chooses defaultButton, and Escape or closing the
    // box chooses escapeButton. The text is plain, as given.
    virtual int Ask(QWidget* owner, const std::string& text, const std::string& caption,
                    const std::vector<std::string>& buttons, int defaultButton,
                    int escapeButton) = 0;
    // Each returns true and sets path (bytes) when the user confirms a name.
    virtual bool GetOpenFileName(QWidget* owner, const FileDialogRequest& request,
                                 std::string& path) = 0;
    virtual bool GetSaveFileName(QWidget* owner, const FileDialogRequest& request,
                                 std::string& path) = 0;
    // Ends the event loop with this status once the current handler returns.
    virtual void PostQuitMessage(int status) = 0;
    // Follows work on total units. Once the work has lasted half a second, a
    // small window-modal window over owner shows the text (plain, as given)
    // and a bar; shorter work shows nothing. Cancellable
    // work can be cancelled there (Cancel or Escape); other work runs to its
    // end. The window goes with the returned object.
    virtual std::unique_ptr<Progress> ShowProgress(QWidget* owner, const std::string& text,
                                                   int64_t total, bool cancellable) = 0;
};

// The Qt dialogs, QProgressDialog and QCoreApplication::exit.
class QtDesktop : public Desktop {
  public:
    int MessageBox(QWidget* owner, const std::string& text, const std::string& caption,
                   MessageBoxType type) override;
    int Ask(QWidget* owner, const std::string& text, const std::string& caption,
            const std::vector<std::string>& buttons, int defaultButton, int escapeButton) override;
    bool GetOpenFileName(QWidget* owner, const FileDialogRequest& request,
                         std::string& path) override;
    bool GetSaveFileName(QWidget* owner, const FileDialogRequest& request,
                         std::string& path) override;
    void PostQuitMessage(int status) override;
    std::unique_ptr<Progress> ShowProgress(QWidget* owner, const std::string& text, int64_t total,
                                           bool cancellable) override;
};

// Lets the event loop handle what has arrived other than input, so that the
// windows repaint and the desktop sees the program answer while long work
// goes on; keys and clicks wait for the work's end (or its progress window).
void AnswerWaitingEvents();

// The desktop in use; QtDesktop unless another was installed.
Desktop& CurrentDesktop();
// Installs desktop (not owned), or the Qt one again when given nullptr.
void SetDesktop(Desktop* desktop);

// Path bytes shown to a person, and a chosen name turned back into bytes.
std::string DisplayToBytes(const QString& name);
QString BytesToDisplay(const std::string& bytes);

} // namespace platform
