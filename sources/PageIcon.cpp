#include "PageIcon.h"

#include "images/ImageDecoding.h"

#include <QBuffer>
#include <QImageWriter>

QString PageIconName(const QByteArray &Title)
{
    QString Name = QString::fromUtf8(Title).trimmed();
    for (QChar &Letter : Name) {
        if (Letter == QLatin1Char('/') || Letter.unicode() < 0x20 || Letter.unicode() == 0x7f)
            Letter = QLatin1Char('_');
    }
    // Hidden files are not read from the icon folder.
    while (Name.startsWith(QLatin1Char('.')))
        Name.remove(0, 1);
    // Cut on a whole character: UTF-8 bytes of the file name, not characters, are limited.
    while (Name.toUtf8().size() > MaxPageIconName)
        Name.chop(Name.size() >= 2 && Name.at(Name.size() - 1).isLowSurrogate() ? 2 : 1);
    Name = Name.trimmed();
    return Name.isEmpty() ? QStringLiteral("site") : Name;
}

QByteArray PageIconFileData(const QByteArray &Fetched)
{
    if (!DecodeIconFile(Fetched).isNull())
        return Fetched;
    QImage Picture = DecodePng(Fetched);
    if (Picture.isNull())
        return {};
    if (Picture.width() > MaxPageIconSide || Picture.height() > MaxPageIconSide)
        Picture =
            Picture.scaled(MaxPageIconSide, MaxPageIconSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QByteArray Data;
    QBuffer Buffer(&Data);
    Buffer.open(QIODevice::WriteOnly);
    QImageWriter Writer(&Buffer, "ico");
    if (!Writer.write(Picture.convertToFormat(QImage::Format_ARGB32)))
        return {};
    // What is written must read back as the icon folder reads it.
    return DecodeIconFile(Data).isNull() ? QByteArray() : Data;
}
