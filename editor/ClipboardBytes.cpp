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

// Our bytes, which also read as text: the text is made only when asked for,
// by another program, since most copies are only ever pasted in Varne and the
// text takes twice the room of the bytes.
class BytesMimeData : public QMimeData {
  public:
    QStringList formats() const override {
        QStringList list = QMimeData::formats();
        list.insert(1, plainText);
        return list;
    }

  protected:
    QVariant retrieveData(const QString& type, QMetaType preferred) const override {
        if (type == plainText)
            return QString::fromUtf8(data(bytesType));
        return QMimeData::retrieveData(type, preferred);
    }
};

} // namespace

QMimeData* MimeDataForBytes(const QByteArray& bytes, bool rectangular) {
    auto* data = new BytesMimeData;
    data->setData(bytesType, bytes);
    if (rectangular)
        data->setData(rectangularMark, QByteArray());
    return data;
}

bool IsPasteableFormats(const QStringList& formats) {
    return formats.contains(bytesType) || formats.contains(plainText) || formats.contains(utf8Text);
}

bool IsPasteable(const QMimeData* data) {
    return data && IsPasteableFormats(data->formats());
}

QByteArray PastedBytes(const QMimeData* data, const QStringList& offered) {
    if (offered.contains(bytesType))
        return data->data(bytesType);
    if (offered.contains(utf8Text))
        return data->data(utf8Text);
    return data->text().toUtf8();
}

QByteArray PastedBytes(const QMimeData* data) {
    return PastedBytes(data, data->formats());
}

bool IsRectangularFormats(const QStringList& offered) {
    return offered.contains(rectangularMark) || offered.contains(windowsRectangularMark);
}

bool IsRectangular(const QMimeData* data) {
    return IsRectangularFormats(data->formats());
}
