#include "IconFile.h"

#include <QtEndian>

namespace {

quint16 Word(const QByteArray &Data, qsizetype At)
{
    return qFromLittleEndian<quint16>(Data.constData() + At);
}

quint32 DWord(const QByteArray &Data, qsizetype At)
{
    return qFromLittleEndian<quint32>(Data.constData() + At);
}

} // namespace

bool HasIconHeader(const QByteArray &Data)
{
    if (Data.size() < 6)
        return false;
    const quint16 Type = Word(Data, 2);
    return Type == 0 || Type == 1;
}

bool IsWellFormedIconFile(const QByteArray &Data)
{
    if (!HasIconHeader(Data))
        return false;
    const qint64 Count = Word(Data, 4);
    const qint64 DirectoryEnd = 6 + 16 * Count;
    if (Count == 0 || DirectoryEnd > Data.size())
        return false;
    for (qint64 I = 0; I < Count; ++I) {
        const qsizetype Entry = qsizetype(6 + 16 * I);
        const qint64 Size = DWord(Data, Entry + 8);
        const qint64 Offset = DWord(Data, Entry + 12);
        if (Size == 0 || Offset < DirectoryEnd || Offset + Size > Data.size())
            return false;
    }
    return true;
}
