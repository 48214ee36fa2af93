#include "CRC32unit.h"
#include "KestruneClasses.h"
#include "RunTexts.h"
#include "SiteMonitor.h"

#include <QtTest>

namespace {

// Records what the monitor asks of its window, one line each.
class TRecordingHost : public TSiteMonitorHost
{
public:
    QStringList Log;
    bool TimerRunning = false;

    void StartTimer(int Milliseconds) override
    {
        TimerRunning = true;
        Log << QStringLiteral("arm %1").arg(Milliseconds);
    }
    void StopTimer() override { TimerRunning = false; }
    void RefreshPage() override { Log << QStringLiteral("refresh"); }
    void RequestPageSource() override { Log << QStringLiteral("source?"); }
    void ContentChanged() override { Log << QStringLiteral("CHANGED"); }
    void Trace(const QString &Text) override { Log << Text; }
};

// Steps: B, N, D the three navigation events; T the timer; "S:text" the page source arrives;
// F the engine could not give the source; P the window postponed the reload.
void RunSteps(TSiteMonitor &Monitor, const QStringList &Steps)
{
    for (const QString &Step : Steps) {
        if (Step == QLatin1String("B"))
            Monitor.BeforeNavigate();
        else if (Step == QLatin1String("N"))
            Monitor.NavigateComplete();
        else if (Step == QLatin1String("D"))
            Monitor.DocumentComplete();
        else if (Step == QLatin1String("T"))
            Monitor.TimerFired();
        else if (Step == QLatin1String("P"))
            Monitor.RefreshPostponed();
        else if (Step == QLatin1String("F"))
            Monitor.PageSourceReady(false, QByteArray());
        else if (Step.startsWith(QLatin1String("S:")))
            Monitor.PageSourceReady(true, Step.mid(2).toUtf8());
        else
            qFatal("unknown step %s", qPrintable(Step));
    }
}

const QString CrcAbc = QStringLiteral("3395655888"); // "abc"
const QString CrcXyz = QString::number(CRC32(QByteArrayView("xyz")));

} // namespace

class TestSiteMonitor : public QObject
{
    Q_OBJECT

private slots:
    void passes_data();
    void passes();
    void intervalFollowsSiteIndex_data();
    void intervalFollowsSiteIndex();
    void intervalIsReadWhenArmed();
    void timerWithoutHandlerDoesNothing();
    void shortenTitle_data();
    void shortenTitle();
    void texts();
    void watchedTexts();
};

void TestSiteMonitor::passes_data()
{
    QTest::addColumn<bool>("monitor");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<bool>("timerRunning");

    const QStringList FirstLoad = {QStringLiteral("BeforeNavigarte First: 1"),
                                   QStringLiteral("NavigateComplete First: 1"),
                                   QStringLiteral("DocumentComplete First: 1"), QStringLiteral("arm 2000")};
    const QStringList Baseline = {QStringLiteral("Timer Zero"), QStringLiteral("source?"),
                                  QStringLiteral("First CRC=") + CrcAbc, QStringLiteral("arm 20000")};
    const QStringList Refresh = {QStringLiteral("Refreshing..."),
                                 QStringLiteral("refresh"),
                                 QStringLiteral("BeforeNavigarte Second: 1"),
                                 QStringLiteral("NavigateComplete Second: 1"),
                                 QStringLiteral("DocumentComplete Second: 1"),
                                 QStringLiteral("arm 2000"),
                                 QStringLiteral("Check timer"),
                                 QStringLiteral("source?")};
    const QStringList Load = {QStringLiteral("B"), QStringLiteral("N"), QStringLiteral("D")};
    const QStringList ToBaseline = Load + QStringList{QStringLiteral("T"), QStringLiteral("S:abc")};
    const QStringList RefreshSteps =
        QStringList{QStringLiteral("T")} + Load + QStringList{QStringLiteral("T")};

    QTest::newRow("flag off: navigations do nothing, no timer")
        << false << Load + Load + QStringList{QStringLiteral("T")} << QStringList() << false;

    QTest::newRow("first load settles, then the baseline arms the interval")
        << true << ToBaseline << FirstLoad + Baseline << true;

    QTest::newRow("unchanged page: same number on both sides, nothing shown")
        << true << ToBaseline + RefreshSteps + QStringList{QStringLiteral("S:abc")}
        << FirstLoad + Baseline + Refresh +
               QStringList{CrcAbc + QStringLiteral(" <-> ") + CrcAbc, QStringLiteral("arm 20000")}
        << true;

    QTest::newRow("changed page: reported once, and the new text becomes the baseline")
        << true
        << ToBaseline + RefreshSteps + QStringList{QStringLiteral("S:xyz")} + RefreshSteps +
               QStringList{QStringLiteral("S:xyz")}
        << FirstLoad + Baseline + Refresh +
               QStringList{CrcAbc + QStringLiteral(" <-> ") + CrcXyz, QStringLiteral("CHANGED"),
                           QStringLiteral("arm 20000")} +
               Refresh + QStringList{CrcXyz + QStringLiteral(" <-> ") + CrcXyz, QStringLiteral("arm 20000")}
        << true;

    QTest::newRow("frames: a frame completing first does not end the pass")
        << true << QStringList{QStringLiteral("B"), QStringLiteral("B"), QStringLiteral("N"),
                               QStringLiteral("D"), QStringLiteral("N"), QStringLiteral("D")}
        << QStringList{QStringLiteral("BeforeNavigarte First: 1"),
                       QStringLiteral("BeforeNavigarte First: 2"),
                       QStringLiteral("NavigateComplete First: 1"),
                       QStringLiteral("DocumentComplete First: 1"),
                       QStringLiteral("NavigateComplete First: 2"),
                       QStringLiteral("DocumentComplete First: 2"),
                       QStringLiteral("arm 2000")}
        << true;

    QTest::newRow("empty document gives 0: a change, and the next check compares with 0")
        << true
        << ToBaseline + RefreshSteps + QStringList{QStringLiteral("S:")} + RefreshSteps +
               QStringList{QStringLiteral("S:")}
        << FirstLoad + Baseline + Refresh +
               QStringList{CrcAbc + QStringLiteral(" <-> 0"), QStringLiteral("CHANGED"),
                           QStringLiteral("arm 20000")} +
               Refresh + QStringList{QStringLiteral("0 <-> 0"), QStringLiteral("arm 20000")}
        << true;

    QTest::newRow("no source within the bound: nothing reported, the baseline stays")
        << true
        << ToBaseline + RefreshSteps + QStringList{QStringLiteral("F")} + RefreshSteps +
               QStringList{QStringLiteral("S:abc")}
        << FirstLoad + Baseline + Refresh +
               QStringList{QStringLiteral("No page source"), QStringLiteral("arm 20000")} + Refresh +
               QStringList{CrcAbc + QStringLiteral(" <-> ") + CrcAbc, QStringLiteral("arm 20000")}
        << true;

    QTest::newRow("no first source: the next reading is the baseline, not a change")
        << true
        << Load + QStringList{QStringLiteral("T"), QStringLiteral("F")} + RefreshSteps +
               QStringList{QStringLiteral("S:abc")} + RefreshSteps + QStringList{QStringLiteral("S:xyz")}
        << FirstLoad +
               QStringList{QStringLiteral("Timer Zero"), QStringLiteral("source?"),
                           QStringLiteral("No page source"), QStringLiteral("arm 20000")} +
               Refresh + QStringList{QStringLiteral("First CRC=") + CrcAbc, QStringLiteral("arm 20000")} +
               Refresh +
               QStringList{CrcAbc + QStringLiteral(" <-> ") + CrcXyz, QStringLiteral("CHANGED"),
                           QStringLiteral("arm 20000")}
        << true;

    QTest::newRow("a postponed reload waits for the next interval, then checks as usual")
        << true
        << ToBaseline + QStringList{QStringLiteral("T"), QStringLiteral("P")} + RefreshSteps +
               QStringList{QStringLiteral("S:abc")}
        << FirstLoad + Baseline +
               QStringList{QStringLiteral("Refreshing..."), QStringLiteral("refresh"),
                           QStringLiteral("Refresh postponed"), QStringLiteral("arm 20000")} +
               Refresh + QStringList{CrcAbc + QStringLiteral(" <-> ") + CrcAbc, QStringLiteral("arm 20000")}
        << true;

    QTest::newRow("user navigation in the interval takes a new baseline; the interval timer runs on until a "
                  "document completes")
        << true << ToBaseline + QStringList{QStringLiteral("B"), QStringLiteral("N"), QStringLiteral("D")}
        << FirstLoad + Baseline +
               QStringList{QStringLiteral("User start own navigation"),
                           QStringLiteral("NavigateComplete First: 1"),
                           QStringLiteral("DocumentComplete First: 1"), QStringLiteral("arm 2000")}
        << true;

    QTest::newRow("navigation during the settle wait is not noticed")
        << true << Load + Load + QStringList{QStringLiteral("T"), QStringLiteral("S:abc")}
        << FirstLoad + Baseline << true;

    QTest::newRow("user navigation during a refresh pass is counted in it and compared with the old baseline")
        << true << ToBaseline + QStringList{QStringLiteral("T"), QStringLiteral("B"), QStringLiteral("B"),
                                            QStringLiteral("N"), QStringLiteral("N"), QStringLiteral("D"),
                                            QStringLiteral("D"), QStringLiteral("T"), QStringLiteral("S:xyz")}
        << FirstLoad + Baseline +
               QStringList{QStringLiteral("Refreshing..."),
                           QStringLiteral("refresh"),
                           QStringLiteral("BeforeNavigarte Second: 1"),
                           QStringLiteral("BeforeNavigarte Second: 2"),
                           QStringLiteral("NavigateComplete Second: 1"),
                           QStringLiteral("NavigateComplete Second: 2"),
                           QStringLiteral("DocumentComplete Second: 1"),
                           QStringLiteral("DocumentComplete Second: 2"),
                           QStringLiteral("arm 2000"),
                           QStringLiteral("Check timer"),
                           QStringLiteral("source?"),
                           CrcAbc + QStringLiteral(" <-> ") + CrcXyz,
                           QStringLiteral("CHANGED"),
                           QStringLiteral("arm 20000")}
        << true;

    QTest::newRow("a refresh that never completes leaves the timer stopped")
        << true << ToBaseline + QStringList{QStringLiteral("T"), QStringLiteral("B"), QStringLiteral("T")}
        << FirstLoad + Baseline +
               QStringList{QStringLiteral("Refreshing..."), QStringLiteral("refresh"),
                           QStringLiteral("BeforeNavigarte Second: 1")}
        << false;

    QTest::newRow("a navigation while the source is awaited is seen after the baseline")
        << true << Load + QStringList{QStringLiteral("T"), QStringLiteral("B"), QStringLiteral("S:abc")}
        << FirstLoad + Baseline + QStringList{QStringLiteral("User start own navigation")} << true;

    QTest::newRow("a late source answer with nothing pending is ignored")
        << true << QStringList{QStringLiteral("S:abc")} + Load << FirstLoad << true;
}

void TestSiteMonitor::passes()
{
    QFETCH(bool, monitor);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, log);
    QFETCH(bool, timerRunning);

    TKestrunSite Site;
    Site.SetMonitorChanges(monitor ? 1 : 0);
    TRecordingHost Host;
    TSiteMonitor Monitor(Site, Host);
    Monitor.Start();
    RunSteps(Monitor, steps);
    QCOMPARE(Host.Log, log);
    QCOMPARE(Host.TimerRunning, timerRunning);
    QCOMPARE(Monitor.TimerActive(), timerRunning);
}

void TestSiteMonitor::intervalFollowsSiteIndex_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("milliseconds");
    QTest::newRow("once per minute is 20 seconds") << 0 << 20000;
    QTest::newRow("each 3 minutes") << 1 << 180000;
    QTest::newRow("each 5 minutes") << 2 << 300000;
    QTest::newRow("index past the table takes the longest") << 200 << 300000;
}

void TestSiteMonitor::intervalFollowsSiteIndex()
{
    QFETCH(int, index);
    QFETCH(int, milliseconds);
    TKestrunSite Site;
    Site.SetMonitorChanges(1);
    Site.SetMonitorInterval(quint8(index));
    TRecordingHost Host;
    TSiteMonitor Monitor(Site, Host);
    Monitor.Start();
    RunSteps(Monitor, {QStringLiteral("B"), QStringLiteral("N"), QStringLiteral("D"), QStringLiteral("T"),
                       QStringLiteral("S:abc")});
    QCOMPARE(Monitor.TimerHandler(), TSiteMonitor::TTimerHandler::RefreshPage);
    QCOMPARE(Monitor.TimerInterval(), milliseconds);
}

void TestSiteMonitor::intervalIsReadWhenArmed()
{
    // The flag is read at the first and at each user navigation; the index each time the timer is armed.
    TKestrunSite Site;
    Site.SetMonitorChanges(1);
    TRecordingHost Host;
    TSiteMonitor Monitor(Site, Host);
    Monitor.SetTimingForTests(10, {100, 200, 300});
    Monitor.Start();
    RunSteps(Monitor, {QStringLiteral("B"), QStringLiteral("N"), QStringLiteral("D")});
    QCOMPARE(Monitor.TimerInterval(), 10);
    Site.SetMonitorInterval(2);
    RunSteps(Monitor, {QStringLiteral("T"), QStringLiteral("S:abc")});
    QCOMPARE(Monitor.TimerInterval(), 300);

    Site.SetMonitorChanges(0);
    Host.Log.clear();
    RunSteps(Monitor, {QStringLiteral("B"), QStringLiteral("N"), QStringLiteral("D")});
    QCOMPARE(Host.Log, QStringList());
    QCOMPARE(Monitor.InstalledSet(), TSiteMonitor::THandlerSet::WatchUserNavigation);
    QVERIFY(Monitor.TimerActive()); // the interval goes on: the flag only gates new passes
}

void TestSiteMonitor::timerWithoutHandlerDoesNothing()
{
    TKestrunSite Site;
    TRecordingHost Host;
    TSiteMonitor Monitor(Site, Host);
    Monitor.Start();
    Monitor.TimerFired();
    QCOMPARE(Host.Log, QStringList());
    QVERIFY(!Monitor.TimerActive());
}

void TestSiteMonitor::shortenTitle_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("max");
    QTest::addColumn<QString>("shortened");

    QTest::newRow("exactly 30 characters stay whole")
        << QStringLiteral("abcdefghijabcdefghijabcdefghij") << 30
        << QStringLiteral("abcdefghijabcdefghijabcdefghij");
    QTest::newRow("31 characters without a break are cut at 30")
        << QStringLiteral("abcdefghijabcdefghijabcdefghijk") << 30
        << QStringLiteral("abcdefghijabcdefghijabcdefghij...");
    QTest::newRow("a blank at 28 keeps 28 characters with the blank")
        << QStringLiteral("abcdefghijabcdefghijabcdefg hijklmnopqrstuvwx") << 30
        << QStringLiteral("abcdefghijabcdefghijabcdefg ...");
    QTest::newRow("the last of several break characters wins")
        << QStringLiteral("Mail: inbox, drafts?outboxandtherest") << 30
        << QStringLiteral("Mail: inbox, drafts?...");
    QTest::newRow("a break just past the limit is not seen")
        << QStringLiteral("abcdefghijabcdefghijabcdefghij!rest") << 30
        << QStringLiteral("abcdefghijabcdefghijabcdefghij...");
    QTest::newRow("multi-byte letters count once each")
        << QStringLiteral("Привет мир, это длинный заголовок страницы") << 30
        << QStringLiteral("Привет мир, это длинный ...");
    QTest::newRow("a character outside the basic plane is never split")
        << QString::fromUcs4(U"\U0001F600\U0001F600\U0001F600\U0001F600") << 3
        << QString::fromUcs4(U"\U0001F600\U0001F600\U0001F600...");
    QTest::newRow("empty title") << QString() << 30 << QString();
}

void TestSiteMonitor::shortenTitle()
{
    QFETCH(QString, text);
    QFETCH(int, max);
    QFETCH(QString, shortened);
    QCOMPARE(ShortenTitle(text, max), shortened);
}

void TestSiteMonitor::texts()
{
    QCOMPARE(OpenBrowsersText(0), QStringLiteral("No open browsers"));
    QCOMPARE(OpenBrowsersText(2), QStringLiteral("Open browsers: 2"));
    const QByteArray Title("Caf\xc3\xa9 100%1");
    QCOMPARE(ChangeBalloonTitle(Title), QStringLiteral("Café 100%1 has changed!"));
    QCOMPARE(ChangeBalloonText(Title),
             QStringLiteral("The content of site \"Café 100%1\" has been changed. Take a look at them."));
    QCOMPARE(BrowserCaption(QString()), QStringLiteral("Kestrune: "));
}

void TestSiteMonitor::watchedTexts()
{
    // The list's column: the dialog's caption of the interval the monitor uses.
    const struct
    {
        quint8 Flag, Interval;
        const char *Shown;
    } Rows[] = {{0, 0, ""},
                {0, 2, ""},
                {1, 0, "once per minute"},
                {1, 1, "each 3 minutes"},
                {2, 2, "each 5 minutes"},
                {1, 200, "each 5 minutes"}};
    for (const auto &Row : Rows)
        QCOMPARE(WatchedCaption(Row.Flag, Row.Interval), QString::fromLatin1(Row.Shown));

    // The tray entry: the time of today's change, the date of an older one, nothing before any.
    const QDateTime Now(QDate(2026, 12, 10), QTime(15, 30));
    const QLocale Locale;
    QCOMPARE(ChangedEntryCaption(QStringLiteral("Mail"), QDateTime(), Now), QStringLiteral("Mail"));
    QCOMPARE(ChangedEntryCaption(QStringLiteral("Mail"), QDateTime(Now.date(), QTime(9, 5)), Now),
             QStringLiteral("Mail \u2014 changed ") + Locale.toString(QTime(9, 5), QLocale::ShortFormat));
    const QDateTime Yesterday(QDate(2026, 12, 9), QTime(23, 59));
    QCOMPARE(ChangedEntryCaption(QStringLiteral("Mail"), Yesterday, Now),
             QStringLiteral("Mail \u2014 changed ") + Locale.toString(Yesterday, QLocale::ShortFormat));
}

QTEST_GUILESS_MAIN(TestSiteMonitor)
#include "tst_sitemonitor.moc"
