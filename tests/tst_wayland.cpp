#include "KestruneClasses.h"
#include "KestruneVersion.h"
#include "PrivateSway.h"
#include "Settings.h"
#include "SiteIdentity.h"
#include "TestHttpServer.h"
#include "platform/WaylandWindows.h"
#include "platform/WindowIdentity.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QSettings>
#include <QWidget>
#include <QtTest>

#include <memory>

// The windows under a Wayland compositor (a private headless sway): each site window an application
// of its own for docks, and a window on another workspace asked forward through the compositor.

namespace {

constexpr int MapTimeout = 10000;

QString Program()
{
    return qEnvironmentVariable("KESTRUNE_TEST_BINARY_DIR") + QStringLiteral("/sources/kestrune");
}

std::optional<TPrivateSway::TView> ViewTitled(const TPrivateSway &Sway, const QString &Title)
{
    for (const TPrivateSway::TView &View : Sway.Views())
        if (View.Title == Title)
            return View;
    return std::nullopt;
}

// A plain window of the test's own, titled so that sway's tree tells it apart.
std::unique_ptr<QWidget> TestWindow(const QString &Title)
{
    auto Window = std::make_unique<QWidget>();
    Window->setWindowTitle(Title);
    Window->resize(300, 200);
    return Window;
}

} // namespace

class TestWayland : public QObject
{
    Q_OBJECT

public:
    TestWayland(TPrivateSway *Sway, QString Why) : FSway(Sway), FWhy(std::move(Why)) {}

private slots:
    void appIdChoice_data();
    void appIdChoice();
    void appIdOnEveryToplevel_data();
    void appIdOnEveryToplevel();
    void activationReachesOtherWorkspace();
    void programWindowsHaveTheirIds();

private:
    bool Running() const { return FSway && FWhy.isEmpty(); }

    TPrivateSway *FSway;
    QString FWhy;
};

void TestWayland::appIdChoice_data()
{
    QTest::addColumn<QByteArray>("Title");
    QTest::addColumn<QByteArray>("Expected");
    QTest::newRow("plain title: the launcher's id") << QByteArray("Mail") << QByteArray("kestrune-Mail");
    QTest::newRow("blanks stay, as in the launcher's file name")
        << QByteArray("My news") << QByteArray("kestrune-My news");
    QTest::newRow("UTF-8 title") << QByteArray("Caf\xc3\xa9") << QByteArray("kestrune-Caf\xc3\xa9");
    QTest::newRow("a slash names no launcher: the window class")
        << QByteArray("a/b") << SiteWindowClass("a/b");
    QTest::newRow("not UTF-8: the window class") << QByteArray("Caf\xe9") << SiteWindowClass("Caf\xe9");
}

void TestWayland::appIdChoice()
{
    QFETCH(QByteArray, Title);
    QFETCH(QByteArray, Expected);
    QCOMPARE(WaylandAppId(SiteWindowClass(Title), SiteDesktopName(Title)), Expected);
}

void TestWayland::appIdOnEveryToplevel_data()
{
    QTest::addColumn<QByteArray>("Title");
    QTest::newRow("plain") << QByteArray("Mail");
    QTest::newRow("with a blank") << QByteArray("My news");
}

void TestWayland::appIdOnEveryToplevel()
{
    QFETCH(QByteArray, Title);
    if (!Running())
        QSKIP(qPrintable(FWhy));
    const QString Caption = QStringLiteral("identity ") + QString::fromUtf8(Title);
    const QString Expected = QString::fromUtf8(SiteDesktopName(Title));
    auto Window = TestWindow(Caption);
    SetWindowIdentity(Window.get(), SiteWindowClass(Title), SiteDesktopName(Title));
    // Qt gives every toplevel the program's id; hiding takes the toplevel away and showing makes a
    // new one, which must get the site's id again.
    for (int Show = 1; Show <= 2; ++Show) {
        Window->show();
        std::optional<TPrivateSway::TView> View;
        QVERIFY2(
            QTest::qWaitFor([&] { return (View = ViewTitled(*FSway, Caption)).has_value(); }, MapTimeout),
            qPrintable(QStringLiteral("show %1: no window in sway's tree").arg(Show)));
        QCOMPARE(View->AppId, Expected);
        Window->hide();
        QVERIFY(QTest::qWaitFor([&] { return !ViewTitled(*FSway, Caption).has_value(); }, MapTimeout));
    }
}

void TestWayland::activationReachesOtherWorkspace()
{
    if (!Running())
        QSKIP(qPrintable(FWhy));
    auto Working = TestWindow(QStringLiteral("activation: working"));
    auto Wanted = TestWindow(QStringLiteral("activation: wanted"));
    Wanted->show();
    QVERIFY(
        QTest::qWaitFor([&] { return ViewTitled(*FSway, Wanted->windowTitle()).has_value(); }, MapTimeout));
    QVERIFY(
        !FSway->Message({QStringLiteral("[title=\"^activation: wanted$\"] move to workspace 2")}).isEmpty());
    Working->show();
    std::optional<TPrivateSway::TView> View;
    QVERIFY(QTest::qWaitFor(
        [&] {
            const auto Seen = ViewTitled(*FSway, Working->windowTitle());
            View = ViewTitled(*FSway, Wanted->windowTitle());
            return Seen && Seen->Focused && View && View->Workspace == QLatin1String("2");
        },
        MapTimeout));
    QVERIFY(!View->Urgent);

    ActivateWindow(Wanted.get());
    // sway's policy decides: it focuses the window, or marks it urgent while its workspace is not shown.
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     View = ViewTitled(*FSway, Wanted->windowTitle());
                     return View && (View->Focused || View->Urgent);
                 },
                 MapTimeout),
             "the window on workspace 2 was neither focused nor marked urgent");
}

void TestWayland::programWindowsHaveTheirIds()
{
    if (!Running())
        QSKIP(qPrintable(FWhy));
    QVERIFY2(QFileInfo(Program()).isExecutable(), qPrintable(Program()));
    // The build may lie in a folder the test user cannot enter (a clone under /root): the user runs
    // a copy of the program and its module from a folder of its own.
    QTemporaryDir Copy;
    QVERIFY(Copy.isValid());
    const QString Built = QFileInfo(Program()).absolutePath();
    const QString Copied = Copy.filePath(QStringLiteral("kestrune"));
    QVERIFY(QFile::copy(Program(), Copied));
    QVERIFY(QFile::copy(Built + QStringLiteral("/libkestrune-app.so"),
                        Copy.filePath(QStringLiteral("libkestrune-app.so"))));
    for (const QString &Path : {Copy.path(), Copied, Copy.filePath(QStringLiteral("libkestrune-app.so"))})
        QVERIFY(QFile::setPermissions(Path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                                QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                QFileDevice::ExeOther));

    TTestServer Server;
    for (const char *Name : {"mail", "news"})
        Server.Replies.insert(QByteArray("/") + Name,
                              HttpReply("200 OK",
                                        QByteArray("<!doctype html><html><head><title>") + Name +
                                            " page</title></head><body>" + Name + "</body></html>",
                                        "Content-Type: text/html\r\n"));

    // The program's folders belong to the user it runs as.
    QTemporaryDir Home;
    QVERIFY(Home.isValid());
    QFile::setPermissions(Home.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                                           QFileDevice::ExeOther);
    const QString HomeFolder = Home.filePath(QStringLiteral("home"));
    const QString Data = HomeFolder + QStringLiteral("/data/Kestrune");
    QVERIFY(QDir().mkpath(Data));
    QVERIFY(QDir().mkpath(HomeFolder + QStringLiteral("/config/Brinmoor")));
    QVERIFY(QDir().mkpath(HomeFolder + QStringLiteral("/cache")));
    TKestrunCollection Sites;
    QList<QByteArray> Links;
    for (const auto &[Title, Path] : {std::pair{QByteArray("Mail"), QByteArray("/mail")},
                                      std::pair{QByteArray("My news"), QByteArray("/news")}}) {
        auto Site = std::make_unique<TKestrunSite>();
        Site->SetTitle(Title);
        Site->SetURL(Server.Url(Path).toUtf8());
        Site->SetBrowserChoice(1);
        Site->SetMinimizeToTaskbar(1);
        Site->SetWindowState(0);
        Site->SetWindowRect({40, 40, 440, 340});
        Links.append(EncodeLinkParameter(*Site, false));
        Sites.Add(std::move(Site));
    }
    QVERIFY(SaveSites(Data, Sites));
    {
        // No update check at the start.
        QSettings Store(HomeFolder + QStringLiteral("/config/Brinmoor/Kestrune.conf"), QSettings::IniFormat);
        Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
    }
    QVERIFY(TPrivateSway::GiveToUser(HomeFolder));

    QProcessEnvironment Environment;
    Environment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    Environment.insert(QStringLiteral("HOME"), HomeFolder);
    Environment.insert(QStringLiteral("XDG_DATA_HOME"), HomeFolder + QStringLiteral("/data"));
    Environment.insert(QStringLiteral("XDG_CONFIG_HOME"), HomeFolder + QStringLiteral("/config"));
    Environment.insert(QStringLiteral("XDG_CACHE_HOME"), HomeFolder + QStringLiteral("/cache"));
    Environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), FSway->RuntimeDir());
    Environment.insert(QStringLiteral("WAYLAND_DISPLAY"), FSway->WaylandSocket());
    Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    // No session bus: Qt must not try to launch one.
    Environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + FSway->RuntimeDir() + QStringLiteral("/no-bus"));
    Environment.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"), QStringLiteral("--disable-gpu"));
    // A normal user's program: the web engine runs with its sandbox, as installed.
    for (const char *Name : {"http_proxy", "https_proxy", "no_proxy", "ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (qEnvironmentVariableIsSet(Name))
            Environment.insert(QString::fromLatin1(Name), qEnvironmentVariable(Name));

    QProcess Running;
    Running.setProcessEnvironment(Environment);
    Running.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    TPrivateSway::StartAsUser(Running, Copied,
                              {QString::fromLatin1(Links.value(0)), QString::fromLatin1(Links.value(1))});
    QVERIFY(Running.waitForStarted(10000));
    auto Stop = qScopeGuard([&Running] {
        Running.terminate();
        if (!Running.waitForFinished(15000)) {
            Running.kill();
            Running.waitForFinished(5000);
        }
    });

    // The main window under the program's id, each site window under its launcher's, also once the
    // page has loaded (the web view may have made the window's surface anew).
    const QHash<QString, QString> Expected{
        {QStringLiteral("Kestrune"), QStringLiteral(KESTRUNE_APP_ID)},
        {QStringLiteral("Kestrune: mail page"), QStringLiteral("kestrune-Mail")},
        {QStringLiteral("Kestrune: news page"), QStringLiteral("kestrune-My news")}};
    QHash<QString, QString> Seen;
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     Seen.clear();
                     for (const TPrivateSway::TView &View : FSway->Views())
                         Seen.insert(View.Title, View.AppId);
                     return Seen == Expected;
                 },
                 60000),
             qPrintable(QStringLiteral("windows (title: app id): ") + [&Seen] {
                 QStringList Text;
                 for (auto It = Seen.cbegin(); It != Seen.cend(); ++It)
                     Text.append(It.key() + QStringLiteral(": ") + It.value());
                 return Text.join(QStringLiteral("; "));
             }()));
    QCOMPARE(Running.state(), QProcess::Running);
}

int main(int argc, char **argv)
{
    // The test is a client of its own sway too: its windows are real Wayland toplevels.
    TPrivateSway Sway;
    QString Why;
    const bool Plugin = QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                                          QStringLiteral("/platforms/libqwayland-generic.so"));
    if (!Plugin)
        Why = QStringLiteral("Qt's Wayland platform (qt6-wayland) is needed");
    if (Plugin && Sway.Start(Why)) {
        qputenv("QT_QPA_PLATFORM", "wayland");
        qputenv("WAYLAND_DISPLAY", Sway.WaylandSocket().toLocal8Bit());
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int Result = 0;
    {
        QApplication App(argc, argv);
        if (Why.isEmpty() && !OnWayland())
            Why = QStringLiteral("Qt did not take the Wayland platform");
        TestWayland Test(&Sway, Why);
        Result = QTest::qExec(&Test, argc, argv);
    }
    Sway.Stop();
    return Result;
}

#include "tst_wayland.moc"
