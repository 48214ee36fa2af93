#include "Settings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QDateTime Local(int Y, int M, int D, int H = 0, int Min = 0)
{
    return QDateTime(QDate(Y, M, D), QTime(H, Min), Qt::LocalTime);
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(FDir.isValid()); }
    void storedDateTime_data();
    void storedDateTime();
    void unusableStoredDateTime_data();
    void unusableStoredDateTime();
    void updateDue_data();
    void updateDue();
    void roundTrip();
    void storedFile_data();
    void storedFile();
    void unwritableStore();

private:
    QString WriteIni(const QByteArray &Text);
    QTemporaryDir FDir;
    int FFiles = 0;
};

QString TestSettings::WriteIni(const QByteArray &Text)
{
    const QString Path = FDir.filePath(QStringLiteral("s%1.conf").arg(++FFiles));
    QFile File(Path);
    if (File.open(QIODevice::WriteOnly))
        File.write(Text);
    return Path;
}

void TestSettings::storedDateTime_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<double>("days");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("origin") << DateTimeOrigin() << 0.0 << QByteArray(8, '\0');
    QTest::newRow("one day") << Local(1899, 12, 31) << 1.0 << QByteArray::fromHex("000000000000f03f");
    QTest::newRow("evening of 2000-01-01")
        << Local(2000, 1, 1, 18) << 36526.75 << QByteArray::fromHex("00000000d8d5e140");
    QTest::newRow("before the origin the time still counts forward")
        << Local(1899, 12, 29, 6) << -1.25 << QByteArray::fromHex("000000000000f4bf");
}

void TestSettings::storedDateTime()
{
    QFETCH(QDateTime, when);
    QFETCH(double, days);
    QFETCH(QByteArray, stored);

    QCOMPARE(DateTimeToDays(when), days);
    QCOMPARE(EncodeLastUpdateCheck(when), stored);
    QCOMPARE(DecodeLastUpdateCheck(stored), std::optional<QDateTime>(when));
}

void TestSettings::unusableStoredDateTime_data()
{
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("seven bytes") << QByteArray(7, '\0');
    QTest::newRow("nine bytes") << QByteArray(9, '\0');
    QTest::newRow("not a number") << QByteArray::fromHex("000000000000f87f");
    QTest::newRow("infinity") << QByteArray::fromHex("000000000000f07f");
    QTest::newRow("beyond the year 9999") << QByteArray::fromHex("0000000000000f45");
}

void TestSettings::unusableStoredDateTime()
{
    QFETCH(QByteArray, stored);
    QVERIFY(!DecodeLastUpdateCheck(stored));
}

void TestSettings::updateDue_data()
{
    QTest::addColumn<qint64>("minutesBack");
    QTest::addColumn<bool>("due");

    QTest::newRow("now") << qint64(0) << false;
    QTest::newRow("6 days 23 hours back") << qint64((6 * 24 + 23) * 60) << false;
    QTest::newRow("7 days back") << qint64(7 * 24 * 60) << true;
    QTest::newRow("30 days back") << qint64(30 * 24 * 60) << true;
    QTest::newRow("6 days 23 hours ahead") << -qint64((6 * 24 + 23) * 60) << false;
    QTest::newRow("7 days ahead") << -qint64(7 * 24 * 60) << true;
}

void TestSettings::updateDue()
{
    QFETCH(qint64, minutesBack);
    QFETCH(bool, due);

    // A fixed noon, far from a daylight-saving change, so that local days are 24 hours long.
    const QDateTime Now = Local(2026, 6, 15, 12);
    const QDateTime Last = Local(2026, 6, 15, 12).addSecs(-minutesBack * 60);
    QCOMPARE(UpdateCheckDue(Last, Now), due);
    QCOMPARE(UpdateCheckDue(DateTimeOrigin(), Now), true);
}

void TestSettings::roundTrip()
{
    const QString Path = FDir.filePath(QStringLiteral("roundtrip.conf"));
    const QDateTime When = Local(2026, 12, 10, 5, 30);
    {
        QSettings Store(Path, QSettings::IniFormat);
        QVERIFY(WriteStoredRunMinimized(Store, true));
        QVERIFY(WriteStoredLastUpdateCheck(Store, When));
    }
    QSettings Store(Path, QSettings::IniFormat);
    bool RunMinimized = false;
    QDateTime Last = DateTimeOrigin();
    QCOMPARE(ReadStoredSettings(Store, RunMinimized, Last), TSettingsRead::Read);
    QCOMPARE(RunMinimized, true);
    QCOMPARE(Last, When);

    QVERIFY(WriteStoredRunMinimized(Store, false));
    QCOMPARE(ReadStoredSettings(Store, RunMinimized, Last), TSettingsRead::Read);
    QCOMPARE(RunMinimized, false);
}

void TestSettings::storedFile_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<TSettingsRead>("result");
    QTest::addColumn<bool>("runMinimized");

    QTest::newRow("nothing stored") << QByteArray() << TSettingsRead::Read << false;
    QTest::newRow("whole number, non-zero")
        << QByteArray("[General]\nRun%20minimized=7\n") << TSettingsRead::Read << true;
    QTest::newRow("zero") << QByteArray("[General]\nRun%20minimized=0\n") << TSettingsRead::Read << false;
    QTest::newRow("negative") << QByteArray("[General]\nRun%20minimized=-1\n") << TSettingsRead::Read << true;
    QTest::newRow("Run minimized as a word")
        << QByteArray("[General]\nRun%20minimized=true\n") << TSettingsRead::WrongType << false;
    QTest::newRow("Run minimized as a fraction")
        << QByteArray("[General]\nRun%20minimized=1.5\n") << TSettingsRead::WrongType << false;
    QTest::newRow("Run minimized beyond 32 bits")
        << QByteArray("[General]\nRun%20minimized=99999999999\n") << TSettingsRead::WrongType << false;
    QTest::newRow("Last update check as text")
        << QByteArray("[General]\nLast%20update%20check=yesterday\n") << TSettingsRead::WrongType << false;
    QTest::newRow("Last update check of 4 bytes")
        << QByteArray("[General]\nLast%20update%20check=@ByteArray(abcd)\n") << TSettingsRead::WrongType
        << false;
    QTest::newRow("Last update check of 8 bytes")
        << QByteArray(
               "[General]\nRun%20minimized=1\nLast%20update%20check=@ByteArray(\\0\\0\\0\\0\\0\\0\\xf0?)\n")
        << TSettingsRead::Read << true;
}

void TestSettings::storedFile()
{
    QFETCH(QByteArray, ini);
    QFETCH(TSettingsRead, result);
    QFETCH(bool, runMinimized);

    QSettings Store(WriteIni(ini), QSettings::IniFormat);
    bool RunMinimized = false;
    QDateTime Last = DateTimeOrigin();
    QCOMPARE(ReadStoredSettings(Store, RunMinimized, Last), result);
    if (result == TSettingsRead::Read)
        QCOMPARE(RunMinimized, runMinimized);
    if (ini.contains("@ByteArray(\\0"))
        QCOMPARE(Last, Local(1899, 12, 31));
}

void TestSettings::unwritableStore()
{
    // A folder where the file should be: the write cannot succeed and says so.
    const QString Path = FDir.filePath(QStringLiteral("folder.conf"));
    QVERIFY(QDir().mkpath(Path));
    QSettings Store(Path, QSettings::IniFormat);
    QString Error;
    QVERIFY(!WriteStoredRunMinimized(Store, true, &Error));
    QVERIFY(Error.contains(Path));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
