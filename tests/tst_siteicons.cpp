#include "DataModuleUnit.h"
#include "SampleIcons.h"
#include "images/ImageDecoding.h"
#include "images/ImageStoredForm.h"

#include <QTemporaryDir>
#include <QtTest>

class TestSiteIcons : public QObject
{
    Q_OBJECT

private slots:
    void folderLoadsInStep();
    void namesDifferingInCase();
    void missingFolderIsCreated();
    void imageIndex_data();
    void imageIndex();
    void mainIconAndFreshSiteList();
};

void TestSiteIcons::folderLoadsInStep()
{
    QTemporaryDir Dir;
    const QString Folder = Dir.path() + QStringLiteral("/Icons/");
    QVERIFY(QDir().mkpath(Folder));
    Write(Folder + QStringLiteral("alpha.ico"), SampleIcon(0));
    Write(Folder + QStringLiteral("broken.ico"), SampleIcon(2).left(300));
    Write(Folder + QStringLiteral("cursor.ico"), QByteArray("\0\0\2\0", 4) + SampleIcon(4).mid(4));
    Write(Folder + QStringLiteral("empty.ico"), QByteArray());
    Write(Folder + QStringLiteral("page.ico"), QByteArray("<html>not found</html>"));
    Write(Folder + QStringLiteral("SHOUT.ICO"), SampleIcon(6));
    Write(Folder + QStringLiteral("notes.txt"), SampleIcon(8));
    Write(Folder + QStringLiteral("zeta.ico"), SampleIcon(10));
    Write(Folder + QStringLiteral(".dotted.ico"), SampleIcon(12));
    QVERIFY(QDir().mkpath(Folder + QStringLiteral("folder.ico")));

    TImageList List;
    QStringList Names = {QStringLiteral("kept")};
    List.Add(QIcon());
    QStringList Skipped;
    LoadIconFolder(Folder, List, Names, &Skipped);

    QCOMPARE(Names, QStringList({QStringLiteral("kept"), QStringLiteral(".dotted"), QStringLiteral("SHOUT"),
                                 QStringLiteral("alpha"), QStringLiteral("zeta")}));
    QCOMPARE(List.Count(), Names.size());
    for (int I = 1; I < List.Count(); ++I)
        QVERIFY(!List.Icon(I).isNull());
    // Each picture is the one of its own file.
    QCOMPARE(List.Pixmap(3).toImage(), DecodeIconFile(SampleIcon(0)).pixmap(16, 16).toImage());
    Skipped.sort();
    QCOMPARE(Skipped, QStringList({QStringLiteral("broken.ico"), QStringLiteral("cursor.ico"),
                                   QStringLiteral("page.ico")}));
}

void TestSiteIcons::namesDifferingInCase()
{
    QTemporaryDir Dir;
    const QString Folder = Dir.path() + QStringLiteral("/");
    Write(Folder + QStringLiteral("Web.ico"), SampleIcon(0));
    Write(Folder + QStringLiteral("web.ico"), SampleIcon(2));
    TImageList List;
    QStringList Names;
    LoadIconFolder(Folder, List, Names);
    QCOMPARE(Names, QStringList({QStringLiteral("Web"), QStringLiteral("web")}));
    QCOMPARE(List.Count(), 2);
    QCOMPARE(IconImageIndex(Names, QStringLiteral("web")), 0);
    QCOMPARE(IconImageIndex(Names, QStringLiteral("WEB")), 0);
}

void TestSiteIcons::missingFolderIsCreated()
{
    QTemporaryDir Dir;
    const QString Folder = Dir.path() + QStringLiteral("/data/Icons/");
    TImageList List;
    QStringList Names;
    LoadIconFolder(Folder, List, Names);
    QVERIFY(QFileInfo(Folder).isDir());
    QCOMPARE(List.Count(), 0);
    QVERIFY(Names.isEmpty());
}

void TestSiteIcons::imageIndex_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::newRow("exact") << QStringLiteral("news") << 1;
    QTest::newRow("other letter case") << QStringLiteral("WEB") << 0;
    QTest::newRow("first of duplicates") << QStringLiteral("mail") << 2;
    QTest::newRow("absent") << QStringLiteral("webmail") << -1;
    QTest::newRow("empty name matches the empty title") << QString() << 4;
    QTest::newRow("non-ASCII letters folded") << QStringLiteral("ÄPFEL") << 5;
}

void TestSiteIcons::imageIndex()
{
    QFETCH(QString, name);
    QFETCH(int, index);
    const QStringList Names = {QStringLiteral("web"),
                               QStringLiteral("news"),
                               QStringLiteral("Mail"),
                               QStringLiteral("mail"),
                               QString(),
                               QStringLiteral("äpfel")};
    QCOMPARE(IconImageIndex(Names, name), index);
}

void TestSiteIcons::mainIconAndFreshSiteList()
{
    TdmMain Module;
    QCOMPARE(TdmMain::Current(), &Module);
    QVERIFY(!Module.MainIcon().isNull());
    Module.ilSites.Add(Module.MainIcon());
    Module.DataModuleCreate();
    QCOMPARE(Module.ilSites.Count(), 0);
    QCOMPARE(Module.ilSites.Width(), 16);
}

QTEST_MAIN(TestSiteIcons)
#include "tst_siteicons.moc"
