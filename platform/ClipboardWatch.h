// What the clipboard (or the primary selection, which the middle mouse button
// pastes) offers, followed as it changes, without ever waiting for the
// program that owns it.
//
// Asking Qt for the formats of another program's clipboard makes X11 send the
// question to that program and wait up to five seconds for the answer, again
// on every question while it stays silent. The watch asks only when the
// clipboard changes, and on X11 it asks the owner without waiting: the answer
// arrives as an event, whenever the owner gives it. Between a change and the
// answer the watch reports no formats.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

namespace platform {

class ClipboardWatch : public QObject {
    Q_OBJECT

  public:
    // Follows the clipboard, or the primary selection when selection is true
    // (where the platform has one). changed, if given, runs each time
    // Formats() may have changed.
    explicit ClipboardWatch(std::function<void()> changed, bool selection = false);
    ~ClipboardWatch() override;

    // The MIME types the clipboard offered when last heard of; empty while it
    // is empty or its owner has not answered.
    const QStringList& Formats() const { return formats; }

  private:
    class OwnerQuery;

    void Ask(bool clipboardChanged);
    void Offered(const QStringList& offered);

    std::function<void()> changed;
    bool selection;
    QStringList formats;
    std::unique_ptr<OwnerQuery> ownerQuery; // on X11 only
};

} // namespace platform
