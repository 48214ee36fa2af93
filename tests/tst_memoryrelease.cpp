#include "BrowserWin.h"
#include "KestruneClasses.h"
#include "TestDesktopServices.h"
#include "TestHttpServer.h"
#include "platform/EmbeddedWB.h"
#include "platform/MemoryRelease.h"
#include "platform/WebProfile.h"

#include <QApplication>
#include <QFile>
#include <QWebEnginePage>
#include <QtTest>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <unistd.h>

// What closed site windows leave behind: their objects and their pages' processes go, and the memory
// they freed goes back to the system a while after the last of them.

using namespace std::chrono_literals;

namespace {

constexpr int LoadTimeout = 30000;

// The process's resident memory, KiB.
qint64 ResidentKb()
{
    QFile Statm(QStringLiteral("/proc/self/statm"));
    if (!Statm.open(QIODevice::ReadOnly))
        return -1;
    return Statm.readAll().split(' ').value(1).toLongLong() * ::sysconf(_SC_PAGESIZE) / 1024;
}

// A process that has ended and been reaped, or is no more than a zombie.
bool ProcessGone(qint64 Pid)
{
    QFile Stat(QStringLiteral("/proc/%1/stat").arg(Pid));
    if (!Stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray Text = Stat.readAll();
    return Text.mid(Text.lastIndexOf(')') + 2, 1) == "Z";
}

std::unique_ptr<TKestrunSite> MakeSite(const QString &Url, const QByteArray &Title)
{
    auto Site = std::make_unique<TKestrunSite>();
    Site->SetTitle(Title);
    Site->SetURL(Url.toUtf8());
    Site->SetMinimizeToTaskbar(1);
    Site->SetWindowState(0);
    Site->SetWindowRect({40, 50, 840, 650});
    return Site;
}

} // namespace

class TestMemoryRelease : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase();

    void oneGiveBackAfterPagesThatGoTogether();
    void freedHeapGoesBackToTheSystem();
    void closedSiteWindowsLeaveNothingBehind();

private:
    std::unique_ptr<TWebProfile> FProfile = std::make_unique<TWebProfile>();
};

void TestMemoryRelease::cleanupTestCase()
{
    FProfile.reset();
}

void TestMemoryRelease::oneGiveBackAfterPagesThatGoTogether()
{
    QObject Owner;
    int GivenBack = 0;
    auto *Release = new TMemoryRelease(&Owner, [&GivenBack] { ++GivenBack; });

    // Windows closed at once: one give-back, after the delay, and nothing more later.
    Release->SetDelay(100ms);
    for (int i = 0; i < 3; ++i)
        Release->PageGone();
    QCOMPARE(GivenBack, 0);
    QTRY_COMPARE(GivenBack, 1);
    QTest::qWait(400);
    QCOMPARE(GivenBack, 1);

    // Each page that goes before the delay has passed puts the give-back off again.
    Release->SetDelay(3000ms);
    Release->PageGone();
    QTest::qWait(1500);
    Release->PageGone();
    QTest::qWait(2000);
    QCOMPARE(GivenBack, 1);
    QTRY_COMPARE_WITH_TIMEOUT(GivenBack, 2, 10000);

    // Gone with its owner: a page that went just before never reaches it.
    Release->PageGone();
    delete Release;
    QTest::qWait(3500);
    QCOMPARE(GivenBack, 2);
}

#if defined(__SANITIZE_ADDRESS__)
#define KESTRUNE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRUNE_ASAN 1
#endif
#endif

void TestMemoryRelease::freedHeapGoesBackToTheSystem()
{
#ifdef KESTRUNE_ASAN
    QSKIP("AddressSanitizer's allocator stands in for the C library's and keeps freed blocks in its "
          "quarantine: nothing of the C library's heap to give back");
#endif
    // Blocks small enough to come from the heap, all freed but the last, which holds the heap's end:
    // what was freed lies in the middle of the heap, where the C library never returns it itself.
    constexpr size_t Block = 32 * 1024;
    constexpr int Count = 2048; // 64 MiB
    std::vector<char *> Blocks;
    for (int i = 0; i < Count; ++i) {
        auto *Memory = static_cast<char *>(std::malloc(Block));
        QVERIFY(Memory);
        std::memset(Memory, 0x5a, Block);
        Blocks.push_back(Memory);
    }
    for (int i = 0; i + 1 < Count; ++i)
        std::free(Blocks[size_t(i)]);
    const qint64 Before = ResidentKb();
    TMemoryRelease::GiveBackFreedMemory();
    const qint64 After = ResidentKb();
    std::free(Blocks.back());
    // At least three quarters of what was freed.
    QVERIFY2(Before - After >= 48 * 1024,
             qPrintable(QStringLiteral("resident %1 KiB before, %2 KiB after").arg(Before).arg(After)));
}

void TestMemoryRelease::closedSiteWindowsLeaveNothingBehind()
{
    TTestServer Server;
    const QByteArray Html = "Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n";
    Server.Replies["/page"] = HttpReply(
        "200 OK", "<html><head><title>Page</title></head><body><p>A page of a site.</p></body></html>", Html);
    Server.Replies["/signin"] =
        HttpReply("200 OK", "<html><head><title>Sign in</title></head><body>sign in</body></html>", Html);

    TMemoryRelease *Release = TMemoryRelease::OfApplication();
    QVERIFY(Release);
    QCOMPARE(TMemoryRelease::OfApplication(), Release);
    QCOMPARE(Release->parent(), QCoreApplication::instance());
    int GivenBack = 0;
    Release->SetGiveBack([&GivenBack] { ++GivenBack; });
    Release->SetDelay(300ms);

    TTestDesktopServices Desktop;
    QObject Owner;
    // Sites on two host names, and a sign-in window that the first site's page opens.
    const QString Port = QString::number(Server.Server.serverPort());
    std::vector<std::unique_ptr<TKestrunSite>> Sites;
    Sites.push_back(MakeSite(Server.Url("/page"), "First"));
    Sites.push_back(MakeSite(QStringLiteral("http://localhost:%1/page").arg(Port), "Second"));
    Sites.push_back(MakeSite(Server.Url("/page"), "Third"));
    QList<QPointer<QWidget>> Windows;
    QList<QPointer<QObject>> Parts; // the page controls and their pages
    QList<qint64> Processes;
    for (const auto &Site : Sites) {
        auto *Window = new TfBrowserWin(&Owner, QString(), Site.get(), Desktop, *FProfile);
        Window->ShowBrowserWindow();
        QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: Page"), LoadTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(Window->WebBrowser()->page()->renderProcessPid() > 0, LoadTimeout);
        Windows << Window;
        Parts << Window->WebBrowser() << Window->WebBrowser()->page();
        Processes << Window->WebBrowser()->page()->renderProcessPid();
    }
    auto *First = qobject_cast<TfBrowserWin *>(Windows.first().data());
    First->WebBrowser()->page()->runJavaScript(
        QStringLiteral("window.open('/signin', 'signin', 'width=320,height=240');"));
    auto FindPopup = [] {
        const QWidgetList TopLevel = QApplication::topLevelWidgets();
        for (QWidget *Widget : TopLevel)
            if (auto *Popup = qobject_cast<TfBrowserPopup *>(Widget))
                return Popup;
        return static_cast<TfBrowserPopup *>(nullptr);
    };
    QTRY_VERIFY_WITH_TIMEOUT(FindPopup(), LoadTimeout);
    TfBrowserPopup *Popup = FindPopup();
    QTRY_COMPARE_WITH_TIMEOUT(Popup->windowTitle(), QStringLiteral("Kestrune: Sign in"), LoadTimeout);
    Windows << Popup;
    Parts << Popup->WebBrowser() << Popup->WebBrowser()->page();
    QCOMPARE(GivenBack, 0);

    // The user closes the site windows; the sign-in window goes with its opener.
    for (size_t i = 0; i < Sites.size(); ++i)
        QVERIFY(Windows[qsizetype(i)]->close());
    QTRY_VERIFY(std::all_of(Windows.cbegin(), Windows.cend(), [](const QPointer<QWidget> &W) { return !W; }));
    QVERIFY(std::all_of(Parts.cbegin(), Parts.cend(), [](const QPointer<QObject> &P) { return !P; }));
    for (const qint64 Pid : std::as_const(Processes))
        QTRY_VERIFY2_WITH_TIMEOUT(ProcessGone(Pid), qPrintable(QStringLiteral("page process %1").arg(Pid)),
                                  LoadTimeout);
    QTRY_COMPARE(GivenBack, 1);
    QTest::qWait(600);
    QCOMPARE(GivenBack, 1);
}

QTEST_MAIN(TestMemoryRelease)
#include "tst_memoryrelease.moc"
