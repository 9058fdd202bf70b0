// The Qt desktop's progress window for long loads and saves: a QProgressDialog,
// window-modal over its owner, that appears only once the work looks like
// lasting more than about half a second.
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressDialog>

#include "platform/Platform.h"

namespace platform {

namespace {

constexpr int showAfterMilliseconds = 500;
constexpr int steps = 1000; // the bar moves in thousandths of the work

// Work that may not be cancelled keeps its window to the end: without a
// Cancel button, Escape and the window's close button would still hide it.
class ProgressDialog : public QProgressDialog {
  public:
    ProgressDialog(QWidget* owner, bool cancellable)
        : QProgressDialog(owner), cancellable(cancellable) {}

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (!cancellable && event->matches(QKeySequence::Cancel))
            return event->accept();
        QProgressDialog::keyPressEvent(event);
    }

    void closeEvent(QCloseEvent* event) override {
        if (!cancellable)
            return event->ignore();
        QProgressDialog::closeEvent(event);
    }

  private:
    bool cancellable;
};

// While the dialog is shown, each step of the bar lets the event loop run, so
// that the window paints and sees Cancel; being window-modal, it keeps every
// other input away from its owner.
class ProgressWindow : public Progress {
  public:
    ProgressWindow(QWidget* owner, const std::string& text, int64_t total, bool cancellable)
        : dialog(owner, cancellable), total(total) {
        auto* label = new QLabel(BytesToDisplay(text));
        label->setTextFormat(Qt::PlainText);
        dialog.setLabel(label);
        dialog.setWindowTitle("Varne");
        dialog.setWindowModality(Qt::WindowModal);
        if (!cancellable)
            dialog.setCancelButton(nullptr);
        // Stays at the end until the work, a final flush included, is over.
        dialog.setAutoReset(false);
        dialog.setRange(0, steps);
        dialog.setMinimumDuration(showAfterMilliseconds);
        dialog.setValue(0); // starts the clock
    }

    bool Advance(int64_t done) override {
        if (total > 0)
            dialog.setValue(int(std::min(done, total) * steps / total));
        return !dialog.wasCanceled();
    }

  private:
    ProgressDialog dialog;
    int64_t total;
};

} // namespace

std::unique_ptr<Progress> QtDesktop::ShowProgress(QWidget* owner, const std::string& text,
                                                  int64_t total, bool cancellable) {
    return std::make_unique<ProgressWindow>(owner, text, total, cancellable);
}

} // namespace platform
