#include "editor/ClipboardBytes.h"

#include <QMimeData>

namespace {

const QString bytesType = QLatin1String(varneBytesType);
const QString plainText = QStringLiteral("text/plain");
// Other programs' text as they gave it, before Qt decodes it.
const QString utf8Text = QStringLiteral("text/plain;charset=utf-8");
// QScintilla's marks for rows, so that its other users see them as rows too.
const QString rectangularMark = QStringLiteral("text/x-qscintilla-rectangular");
const QString windowsRectangularMark = QStringLiteral("MSDEVColumnSelect");

} // namespace

QMimeData* MimeDataForBytes(const QByteArray& bytes, bool rectangular) {
    auto* data = new QMimeData;
    data->setData(bytesType, bytes);
    data->setText(QString::fromUtf8(bytes));
    if (rectangular)
        data->setData(rectangularMark, QByteArray());
    return data;
}

bool IsPasteable(const QMimeData* data) {
    return data &&
           (data->hasFormat(bytesType) || data->hasFormat(plainText) || data->hasFormat(utf8Text));
}

QByteArray PastedBytes(const QMimeData* data) {
    if (data->hasFormat(bytesType))
        return data->data(bytesType);
    if (data->hasFormat(utf8Text))
        return data->data(utf8Text);
    return data->text().toUtf8();
}

bool IsRectangular(const QMimeData* data) {
    return data->hasFormat(rectangularMark) || data->hasFormat(windowsRectangularMark);
}
