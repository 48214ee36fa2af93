#include "KestruneClasses.h"
#include "LogNoise.h"
#include "PrivateSession.h"
#include "Rendering.h"
#include "Settings.h"
#include "SiteIdentity.h"
#include "TestHttpServer.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtTest>

// How pages reach the screen: the choice for this machine, and the real program on a private X
// server showing a page either way, loading an OpenGL driver only when it draws through OpenGL.

namespace {

QString Program()
{
    return qEnvironmentVariable("KESTRUNE_TEST_BINARY_DIR") + QStringLiteral("/sources/kestrune");
}

// The page's colour, which nothing else on the private screen has.
const QRgb PageColour = qRgb(16, 160, 96);

} // namespace

class TestRendering : public QObject
{
    Q_OBJECT

public:
    explicit TestRendering(QString Display) : FDisplay(std::move(Display)) {}

private slots:
    void choice_data();
    void choice();
    void graphicsDevice_data();
    void graphicsDevice();
    void startupChatter_data();
    void startupChatter();
    void sandboxOff_data();
    void sandboxOff();
    void programShowsPage_data();
    void programShowsPage();

private:
    QString FDisplay;
};

void TestRendering::choice_data()
{
    QTest::addColumn<QByteArray>("Choice");
    QTest::addColumn<QByteArray>("QuickBackend");
    QTest::addColumn<QByteArray>("EngineFlags");
    QTest::addColumn<bool>("EngineGpuOff");
    QTest::addColumn<QByteArray>("MesaSoftware");
    QTest::addColumn<bool>("Device");
    QTest::addColumn<bool>("Software");

    QTest::newRow("graphics card, nothing said")
        << QByteArray() << QByteArray() << QByteArray() << false << QByteArray() << true << false;
    QTest::newRow("no graphics card")
        << QByteArray() << QByteArray() << QByteArray() << false << QByteArray() << false << true;
    QTest::newRow("engine told --disable-gpu")
        << QByteArray() << QByteArray() << QByteArray("--lang=de  --disable-gpu") << false << QByteArray()
        << true << true;
    QTest::newRow("a longer flag is another flag")
        << QByteArray() << QByteArray() << QByteArray("--disable-gpu-compositing") << false << QByteArray()
        << true << false;
    QTest::newRow("QT_WEBENGINE_DISABLE_GPU")
        << QByteArray() << QByteArray() << QByteArray() << true << QByteArray() << true << true;
    QTest::newRow("LIBGL_ALWAYS_SOFTWARE=1")
        << QByteArray() << QByteArray() << QByteArray() << false << QByteArray("1") << true << true;
    QTest::newRow("LIBGL_ALWAYS_SOFTWARE=0")
        << QByteArray() << QByteArray() << QByteArray() << false << QByteArray("0") << true << false;
    QTest::newRow("QT_QUICK_BACKEND=software")
        << QByteArray() << QByteArray("software") << QByteArray() << false << QByteArray() << true << true;
    QTest::newRow("another Qt Quick backend wins over no card")
        << QByteArray() << QByteArray("rhi") << QByteArray() << false << QByteArray() << false << false;
    QTest::newRow("user says opengl without a card")
        << QByteArray("OpenGL") << QByteArray() << QByteArray("--disable-gpu") << false << QByteArray()
        << false << false;
    QTest::newRow("user says software with a card")
        << QByteArray(" software ") << QByteArray() << QByteArray() << false << QByteArray() << true << true;
    QTest::newRow("unknown choice: the machine decides")
        << QByteArray("vulkan") << QByteArray() << QByteArray() << false << QByteArray() << false << true;
}

void TestRendering::choice()
{
    QFETCH(QByteArray, Choice);
    QFETCH(QByteArray, QuickBackend);
    QFETCH(QByteArray, EngineFlags);
    QFETCH(bool, EngineGpuOff);
    QFETCH(QByteArray, MesaSoftware);
    QFETCH(bool, Device);
    QFETCH(bool, Software);
    TRenderingFacts Facts;
    Facts.Choice = Choice;
    Facts.QuickBackend = QuickBackend;
    Facts.EngineFlags = EngineFlags;
    Facts.EngineGpuOff = EngineGpuOff;
    Facts.MesaSoftware = MesaSoftware;
    Facts.GraphicsDevice = Device;
    QCOMPARE(ChooseRendering(Facts) == TRendering::Software, Software);
}

void TestRendering::graphicsDevice_data()
{
    QTest::addColumn<QStringList>("Files");
    QTest::addColumn<bool>("Expected");
    QTest::newRow("nothing") << QStringList() << false;
    QTest::newRow("empty dri folder") << QStringList{QStringLiteral("dri/")} << false;
    QTest::newRow("only the by-path links") << QStringList{QStringLiteral("dri/by-path/")} << false;
    QTest::newRow("a card") << QStringList{QStringLiteral("dri/card0")} << true;
    QTest::newRow("a render node") << QStringList{QStringLiteral("dri/renderD128")} << true;
    QTest::newRow("NVIDIA's driver") << QStringList{QStringLiteral("nvidiactl")} << true;
}

void TestRendering::graphicsDevice()
{
    QFETCH(QStringList, Files);
    QFETCH(bool, Expected);
    QTemporaryDir Dev;
    for (const QString &Name : Files) {
        if (Name.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir(Dev.path()).mkpath(Name));
        } else {
            QVERIFY(QDir(Dev.path()).mkpath(QFileInfo(Name).path()));
            QFile File(Dev.filePath(Name));
            QVERIFY(File.open(QIODevice::WriteOnly));
        }
    }
    QCOMPARE(HasGraphicsDevice(Dev.path()), Expected);
}

void TestRendering::programShowsPage_data()
{
    QTest::addColumn<QString>("Choice");
    QTest::addColumn<bool>("Driver");
    QTest::newRow("software: no OpenGL driver") << QStringLiteral("") << false;
    QTest::newRow("opengl: through the driver") << QStringLiteral("opengl") << true;
}

void TestRendering::startupChatter_data()
{
    QTest::addColumn<int>("Type");
    QTest::addColumn<QByteArray>("Category");
    QTest::addColumn<QString>("Message");
    QTest::addColumn<bool>("Software");
    QTest::addColumn<bool>("Quiet");
    const QString NoContext = QStringLiteral(
        "QXcbIntegration: Cannot create platform OpenGL context, neither GLX nor EGL are enabled");
    const QString NoBackend = QStringLiteral("No suitable graphics backend found");
    QTest::newRow("no OpenGL context, drawing in software")
        << int(QtWarningMsg) << QByteArray("default") << NoContext << true << true;
    QTest::newRow("no OpenGL context while OpenGL was wanted")
        << int(QtWarningMsg) << QByteArray("default") << NoContext << false << false;
    QTest::newRow("no graphics backend, drawing in software")
        << int(QtWarningMsg) << QByteArray("default") << NoBackend << true << true;
    QTest::newRow("no graphics backend while OpenGL was wanted")
        << int(QtWarningMsg) << QByteArray("default") << NoBackend << false << false;
    QTest::newRow("sandbox off, as told") << int(QtInfoMsg) << QByteArray("default")
                                          << QStringLiteral("Sandboxing disabled by user.") << false << true;
    QTest::newRow("the same text as a warning is kept")
        << int(QtWarningMsg) << QByteArray("default") << QStringLiteral("Sandboxing disabled by user.")
        << true << false;
    QTest::newRow("the same text in another category is kept")
        << int(QtWarningMsg) << QByteArray("qt.qpa.xcb") << NoContext << true << false;
    QTest::newRow("a longer message is kept") << int(QtWarningMsg) << QByteArray("default")
                                              << NoBackend + QStringLiteral(" for WebGL") << true << false;
    QTest::newRow("with the line breaks the engine adds")
        << int(QtWarningMsg) << QByteArray("default")
        << QStringLiteral("No suitable graphics backend found\n\n") << true << true;
    QTest::newRow("a real error is kept")
        << int(QtCriticalMsg) << QByteArray("default") << QStringLiteral("Cannot open file") << true << false;
}

void TestRendering::startupChatter()
{
    QFETCH(int, Type);
    QFETCH(QByteArray, Category);
    QFETCH(QString, Message);
    QFETCH(bool, Software);
    QFETCH(bool, Quiet);
    QCOMPARE(IsStartupChatter(QtMsgType(Type), Category.constData(), Message, Software), Quiet);
}

void TestRendering::sandboxOff_data()
{
    QTest::addColumn<bool>("VariableSet");
    QTest::addColumn<QByteArray>("Flags");
    QTest::addColumn<bool>("Off");
    QTest::newRow("nothing said") << false << QByteArray() << false;
    QTest::newRow("QTWEBENGINE_DISABLE_SANDBOX") << true << QByteArray() << true;
    QTest::newRow("--no-sandbox among the flags")
        << false << QByteArray("--disable-gpu  --no-sandbox") << true;
    QTest::newRow("a longer flag is another flag") << false << QByteArray("--no-sandbox-for-x") << false;
}

void TestRendering::sandboxOff()
{
    QFETCH(bool, VariableSet);
    QFETCH(QByteArray, Flags);
    QFETCH(bool, Off);
    QCOMPARE(EngineSandboxOff(VariableSet, Flags), Off);
}

void TestRendering::programShowsPage()
{
    QFETCH(QString, Choice);
    QFETCH(bool, Driver);
    if (FDisplay.isEmpty())
        QSKIP("Xvfb is needed");
    QVERIFY2(QFileInfo(Program()).isExecutable(), qPrintable(Program()));

    TTestServer Server;
    Server.Replies.insert("/page",
                          HttpReply("200 OK",
                                    "<!doctype html><html><body style=\"margin:0;background:#10a060\" "
                                    "onload=\"fetch('/loaded')\"></body></html>",
                                    "Content-Type: text/html\r\n"));
    Server.Replies.insert("/loaded", HttpReply("200 OK", "ok"));

    QTemporaryDir Home;
    QProcessEnvironment Environment = PrivateSessionEnvironment(Home, FDisplay);
    QVERIFY(!Environment.isEmpty());
    TKestrunSite Site;
    Site.SetTitle("Green");
    Site.SetURL(Server.Url("/page").toUtf8());
    Site.SetBrowserChoice(1);
    {
        const QString Data = Home.filePath(QStringLiteral("data/Kestrune"));
        QVERIFY(QDir().mkpath(Data));
        TKestrunCollection Sites;
        auto Stored = std::make_unique<TKestrunSite>();
        Stored->Assign(Site);
        // A 400 x 300 window where the main window, centred on the screen, would cover a good part
        // of it.
        Stored->SetWindowState(0);
        Stored->SetWindowRect({40, 40, 440, 340});
        Sites.Add(std::move(Stored));
        QVERIFY(SaveSites(Data, Sites));
        QSettings Store(Home.filePath(QStringLiteral("config/Brinmoor/Kestrune.conf")), QSettings::IniFormat);
        Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
    }

    Environment.insert(QStringLiteral("KESTRUNE_RENDERING"), Choice);
    // This machine's choice without the environment's hints, whatever the test runs under.
    for (const char *Name : {"QT_QUICK_BACKEND", "QT_XCB_GL_INTEGRATION", "QTWEBENGINE_CHROMIUM_FLAGS",
                             "QT_WEBENGINE_DISABLE_GPU", "LIBGL_ALWAYS_SOFTWARE"})
        Environment.remove(QString::fromLatin1(Name));
    if (Choice.isEmpty())
        Environment.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"), QStringLiteral("--disable-gpu"));

    QProcess Running;
    Running.setProcessEnvironment(Environment);
    Running.setProcessChannelMode(QProcess::SeparateChannels);
    Running.start(Program(), {QString::fromLatin1(EncodeLinkParameter(Site, false))});
    QVERIFY(Running.waitForStarted(10000));
    auto Stop = qScopeGuard([&Running] {
        Running.terminate();
        if (!Running.waitForFinished(15000)) {
            Running.kill();
            Running.waitForFinished(5000);
        }
    });

    auto Loaded = [&Server] {
        for (const QByteArray &Request : std::as_const(Server.Requests))
            if (Request.startsWith("GET /loaded "))
                return true;
        return false;
    };
    // Bounded by the clock: each wait below is a deadline, not a count of turns.
    QVERIFY2(QTest::qWaitFor(Loaded, 60000), "the page was not loaded within 60 s");

    // The page's colour on the screen, over nearly all of the window above its status bar: the site
    // window opened by the link stays over the main window shown after it.
    auto PagePixels = [] {
        const QImage Screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        qsizetype Count = 0;
        for (int y = 0; y < Screen.height(); y += 4)
            for (int x = 0; x < Screen.width(); x += 4)
                Count += (Screen.pixel(x, y) & 0xffffff) == (PageColour & 0xffffff) ? 1 : 0;
        return Count * 16;
    };
    qsizetype Pixels = 0;
    QVERIFY2(QTest::qWaitFor([&] { return (Pixels = PagePixels()) > 400 * 240; }, 20000),
             qPrintable(QStringLiteral("%1 pixels of the page's colour").arg(Pixels)));

    QFile Maps(QStringLiteral("/proc/%1/maps").arg(Running.processId()));
    QVERIFY(Maps.open(QIODevice::ReadOnly));
    const QByteArray Mapped = Maps.readAll();
    QCOMPARE(Mapped.contains("_dri.so"), Driver);

    // The site window is an application of its own for docks and taskbars: its window class is the
    // site's, the one its shortcuts name.
    QProcess Search;
    Search.start(
        QStringLiteral("xdotool"),
        {QStringLiteral("search"), QStringLiteral("--classname"),
         QStringLiteral("^") + QString::fromLatin1(SiteWindowClass(Site.Title())) + QStringLiteral("$")});
    QVERIFY(Search.waitForFinished(10000));
    QVERIFY2(!Search.readAllStandardOutput().trimmed().isEmpty(), "no window of the site's class");

    // Standard error carries no start-up chatter of Qt and the engine.
    Stop.dismiss();
    Running.terminate();
    QVERIFY(Running.waitForFinished(15000));
    const QByteArray Errors = Running.readAllStandardError();
    for (const char *Chatter : {"Cannot create platform OpenGL context", "No suitable graphics backend found",
                                "Sandboxing disabled by user", "GL Type:", "Init Parameters:"})
        QVERIFY2(!Errors.contains(Chatter), Errors.constData());
}

int main(int argc, char **argv)
{
    // A private X server for the program and for the screenshots: the test itself is a client of it.
    QProcess Server;
    const QString Display = StartPrivateXServer(Server);
    if (!Display.isEmpty()) {
        qputenv("DISPLAY", Display.toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    int Result = 0;
    {
        QGuiApplication App(argc, argv);
        TestRendering Test(Display);
        Result = QTest::qExec(&Test, argc, argv);
    }
    StopPrivateXServer(Server);
    return Result;
}

#include "tst_rendering.moc"
