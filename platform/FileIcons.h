// Icons and type names for the file dialogs, judged by each file's kind and
// name alone. Qt's own provider reads a file's first bytes to guess its type,
// which in /proc waits for ever on a file such as /proc/kmsg and keeps the
// dialog from opening or closing; a file dialog must never read a file.
#pragma once

#include <QFileIconProvider>
#include <QMimeDatabase>

namespace platform {

// Called from the dialog's file-information thread as well as the GUI thread.
class NameOnlyIconProvider : public QFileIconProvider {
  public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override;
    QString type(const QFileInfo& info) const override;

  private:
    QMimeDatabase mimeDatabase;
};

} // namespace platform
