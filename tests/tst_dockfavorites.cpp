#include "TestDesktopServices.h"
#include "TestDockSettings.h"
#include "platform/DockFavorites.h"

#include <QTemporaryDir>
#include <QtTest>

// The dock's favourites through GSettings, on a private schema and the memory backend.

class TestDockFavorites : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void schemasOfDesktop_data();
    void schemasOfDesktop();
    void pinAndUnpin();
    void desktopIdsThatAreNoLauncher_data();
    void desktopIdsThatAreNoLauncher();
    void noDockFavorites_data();
    void noDockFavorites();

private:
    QTemporaryDir FSchemas;
    TTestDesktopServices FDesktop;
};

void TestDockFavorites::initTestCase()
{
    QVERIFY(FSchemas.isValid());
    const QString Error = UsePrivateDockSettings(FSchemas.path());
    QVERIFY2(Error.isEmpty(), qPrintable(Error));
}

void TestDockFavorites::init()
{
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    QVERIFY(WriteDockFavorites(
        {QStringLiteral("firefox-esr.desktop"), QStringLiteral("org.gnome.Nautilus.desktop")}));
}

void TestDockFavorites::schemasOfDesktop_data()
{
    QTest::addColumn<QByteArray>("desktop");
    QTest::addColumn<QList<QByteArray>>("schemas");

    const QByteArray Shell = "org.gnome.shell";
    const QByteArray Cinnamon = "org.cinnamon";
    QTest::newRow("GNOME") << QByteArray("GNOME") << QList<QByteArray>{Shell};
    QTest::newRow("Ubuntu's GNOME") << QByteArray("ubuntu:GNOME") << QList<QByteArray>{Shell};
    QTest::newRow("GNOME Classic") << QByteArray("GNOME-Classic:GNOME") << QList<QByteArray>{Shell};
    QTest::newRow("Cinnamon") << QByteArray("X-Cinnamon") << QList<QByteArray>{Cinnamon};
    QTest::newRow("KDE has none of them") << QByteArray("KDE") << QList<QByteArray>{};
    QTest::newRow("XFCE has none of them") << QByteArray("XFCE") << QList<QByteArray>{};
    QTest::newRow("no desktop named: either") << QByteArray() << QList<QByteArray>{Shell, Cinnamon};
}

void TestDockFavorites::schemasOfDesktop()
{
    QFETCH(QByteArray, desktop);
    QFETCH(QList<QByteArray>, schemas);

    QCOMPARE(DockFavoritesSchemas(desktop), schemas);
}

void TestDockFavorites::pinAndUnpin()
{
    const QString Id = QStringLiteral("kestrune-K\u00f6ln Mail.desktop");
    QVERIFY(FDesktop.HasDockFavorites());
    QVERIFY(FDesktop.IsDockFavorite(QStringLiteral("firefox-esr.desktop")));
    QVERIFY(!FDesktop.IsDockFavorite(Id));

    QVERIFY(FDesktop.AddDockFavorite(Id));
    QVERIFY(FDesktop.AddDockFavorite(Id));
    QVERIFY(FDesktop.IsDockFavorite(Id));
    // Pinned at the end, once; the user's own favourites keep their order.
    const QStringList Pinned{QStringLiteral("firefox-esr.desktop"),
                             QStringLiteral("org.gnome.Nautilus.desktop"), Id};
    QCOMPARE(ReadDockFavorites(), std::optional<QStringList>(Pinned));

    QVERIFY(FDesktop.RemoveDockFavorite(Id));
    QVERIFY(!FDesktop.IsDockFavorite(Id));
    QVERIFY(FDesktop.RemoveDockFavorite(Id));
    QCOMPARE(ReadDockFavorites(), std::optional<QStringList>({QStringLiteral("firefox-esr.desktop"),
                                                              QStringLiteral("org.gnome.Nautilus.desktop")}));
}

void TestDockFavorites::desktopIdsThatAreNoLauncher_data()
{
    QTest::addColumn<QString>("id");

    QTest::newRow("empty") << QString();
    QTest::newRow("no .desktop") << QStringLiteral("kestrune-Mail");
    QTest::newRow("a path") << QStringLiteral("../kestrune-Mail.desktop");
}

void TestDockFavorites::desktopIdsThatAreNoLauncher()
{
    QFETCH(QString, id);

    QVERIFY(!FDesktop.AddDockFavorite(id));
    QCOMPARE(ReadDockFavorites()->size(), 2);
}

void TestDockFavorites::noDockFavorites_data()
{
    QTest::addColumn<QByteArray>("desktop");

    QTest::newRow("Cinnamon without its schema installed") << QByteArray("X-Cinnamon");
    QTest::newRow("a desktop without such a list") << QByteArray("KDE");
}

void TestDockFavorites::noDockFavorites()
{
    QFETCH(QByteArray, desktop);

    // GLib would abort the program on a schema it does not have; here every call just answers no.
    qputenv("XDG_CURRENT_DESKTOP", desktop);
    QVERIFY(!FDesktop.HasDockFavorites());
    QVERIFY(!FDesktop.IsDockFavorite(QStringLiteral("firefox-esr.desktop")));
    QVERIFY(!FDesktop.AddDockFavorite(QStringLiteral("kestrune-Mail.desktop")));
    QVERIFY(!FDesktop.RemoveDockFavorite(QStringLiteral("firefox-esr.desktop")));
    QVERIFY(!ReadDockFavorites());

    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    QCOMPARE(ReadDockFavorites()->size(), 2);
}

QTEST_GUILESS_MAIN(TestDockFavorites)
#include "tst_dockfavorites.moc"
