#pragma once

#include "DataModuleUnit.h"
#include "images/ImageStoredForm.h"

#include <QFile>
#include <QtTest>

// Real icon files for the tests: the pictures built into the program.
inline QByteArray SampleIcon(int Index = 0)
{
    TImageCollection Images;
    TImageGroupCollection Groups;
    ReadImageRepositoryData(BuiltinImageData(), Images, Groups);
    return Images.Item(Index)->Graphic;
}

// Writes Bytes to Path whole, or fails the test.
inline void Write(const QString &Path, const QByteArray &Bytes)
{
    QFile File(Path);
    QVERIFY(File.open(QIODevice::WriteOnly));
    QCOMPARE(File.write(Bytes), Bytes.size());
}
