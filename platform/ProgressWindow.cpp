// The Qt desktop's progress window for long loads and saves: a QProgressDialog,
// window-modal over its owner, that appears once the work has lasted half a
// second.
#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressDialog>
#include <algorithm>

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

// The dialog is made only once the work has lasted half a second, so short
// work costs nothing and shows nothing. While it is shown, each step of the
// bar lets the event loop run, so that the window paints and sees Cancel;
// being window-modal, it keeps every other input away from its owner.
class ProgressWindow : public Progress {
  public:
    ProgressWindow(QWidget* owner, const std::string& text, int64_t total, bool cancellable)
        : owner(owner), text(text), total(total), cancellable(cancellable) {
        clock.start();
    }

    bool Advance(int64_t done) override {
        reached = done;
        if (!dialog) {
            if (clock.elapsed() < showAfterMilliseconds)
                return true;
            Open();
        }
        if (total > 0)
            dialog->setValue(int(std::min(done, total) * steps / total));
        return !dialog->wasCanceled();
    }

    // The dialog runs the event loop only when its bar moves.
    void StillWorking() override {
        if (!dialog) {
            if (clock.elapsed() < showAfterMilliseconds)
                return;
            Advance(reached);
        }
        QCoreApplication::processEvents();
    }

  private:
    void Open() {
        dialog = std::make_unique<ProgressDialog>(owner, cancellable);
        auto* label = new QLabel(BytesToDisplay(text));
        label->setTextFormat(Qt::PlainText);
        dialog->setLabel(label);
        dialog->setWindowTitle("Varne");
        dialog->setWindowModality(Qt::WindowModal);
        if (!cancellable)
            dialog->setCancelButton(nullptr);
        // Stays at the end until the work, a final flush included, is over.
        dialog->setAutoReset(false);
        dialog->setRange(0, steps);
        dialog->setMinimumDuration(0); // shows at the next step
    }

    QWidget* owner;
    std::string text;
    int64_t total;
    bool cancellable;
    int64_t reached = 0;
    QElapsedTimer clock;
    std::unique_ptr<ProgressDialog> dialog;
};

} // namespace

std::unique_ptr<Progress> QtDesktop::ShowProgress(QWidget* owner, const std::string& text,
                                                  int64_t total, bool cancellable) {
    return std::make_unique<ProgressWindow>(owner, text, total, cancellable);
}

} // namespace platform
