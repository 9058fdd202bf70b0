#include "platform/FileIcons.h"

#include <QFileInfo>

namespace platform {

QIcon NameOnlyIconProvider::icon(const QFileInfo& info) const {
    return icon(info.isDir() ? Folder : File);
}

// Folders, links and the like are named without reading anything already; a
// file's type comes from its name.
QString NameOnlyIconProvider::type(const QFileInfo& info) const {
    if (!info.isFile())
        return QFileIconProvider::type(info);
    const QMimeType mime =
        mimeDatabase.mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
    return mime.comment().isEmpty() ? mime.name() : mime.comment();
}

} // namespace platform
