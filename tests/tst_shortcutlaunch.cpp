#include "DataFolder.h"
#include "DesktopEntry.h"
#include "Main.h"
#include "Settings.h"
#include "TestDesktopServices.h"
#include "TestHttpServer.h"
#include "UpdateCheck.h"
#include "platform/InstanceGuard.h"
#include "platform/MessageBoxes.h"
#include "platform/WebProfile.h"

#include <QApplication>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// A shortcut as the program writes it, started by a real launcher: the program behind it hands the
// link to the copy that runs, which opens the site.

namespace {

constexpr int Patience = 60000;

QString Program()
{
    return qEnvironmentVariable("KESTRUNE_TEST_BINARY_DIR") + QStringLiteral("/sources/kestrune");
}

} // namespace

class TestShortcutLaunch : public QObject
{
    Q_OBJECT

private slots:
    void startMenuShortcutOpensSiteInRunningCopy();
};

void TestShortcutLaunch::startMenuShortcutOpensSiteInRunningCopy()
{
    const QString Gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (Gio.isEmpty())
        QSKIP("gio is not installed (libglib2.0-bin)");
    QVERIFY2(QFileInfo(Program()).isExecutable(), qPrintable(Program()));
    QVERIFY(qEnvironmentVariable("XDG_DATA_HOME").startsWith(qEnvironmentVariable("HOME")));

    TTestServer Server;
    Server.Replies.insert("/inbox", HttpReply("200 OK", "<html><head><title>Inbox</title></head>ok</html>",
                                              "Content-Type: text/html\r\n"));

    // No update check for a week, neither here nor in the program.
    TTestDesktopServices FDesktop;
    TWebProfile FProfile;
    {
        QSettings Store(SettingsOrganization, SettingsApplication);
        QVERIFY(WriteStoredLastUpdateCheck(Store, QDateTime::currentDateTime()));
    }

    // The program's own data folder, its site and its shortcut, written by the main window itself.
    const QString Data = UserDataFolder();
    QVERIFY(QDir().mkpath(Data));
    QFile::remove(Data + SitesFileName); // left by an earlier run of this test
    QVERIFY(QDir().mkpath(ShortcutPlaceFolder(FDesktop, 1)));
    {
        MessageBoxTest::Enable();
        TfMainForm Form(FDesktop, FProfile, Data, {});
        Form.ProgramFile = Program();
        auto Site = std::make_unique<TKestrunSite>();
        Site->SetTitle("Mail");
        Site->SetURL(Server.Url("/inbox").toUtf8());
        Form.Sites.Add(std::move(Site));
        Form.CreateShortcut(*Form.Sites[0], 1);
        QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
        QVERIFY(Form.SaveSitesNow());
    }
    const QString Shortcut = ShortcutPlaceFolder(FDesktop, 1) + QStringLiteral("/kestrune-Mail.desktop");
    QVERIFY(QFileInfo::exists(Shortcut));

    // A short runtime folder of this user's only: the build folder's is too deep for a socket name.
    QTemporaryDir Runtime(QDir::tempPath() + QStringLiteral("/ks-XXXXXX"));
    QVERIFY(Runtime.isValid());
    QVERIFY(QFile::setPermissions(Runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcessEnvironment Session = QProcessEnvironment::systemEnvironment();
    Session.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime.path());

    QProcess First;
    First.setProcessEnvironment(Session);
    First.setProcessChannelMode(QProcess::ForwardedChannels);
    First.start(Program(), {});
    const QString Socket = QFile::decodeName(InstancePathsIn(QFile::encodeName(Runtime.path()).toStdString(),
                                                             "{B730922C-2110-4F3C-9E24-C5613B177BA3}")
                                                 .Socket.c_str());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(Socket) || First.state() == QProcess::NotRunning, Patience);
    QVERIFY(QFileInfo::exists(Socket));
    QVERIFY(Server.Requests.isEmpty());

    QProcess Launch;
    Launch.setProcessEnvironment(Session);
    Launch.start(Gio, {QStringLiteral("launch"), Shortcut});
    QVERIFY(Launch.waitForFinished(Patience));
    QVERIFY2(Launch.exitCode() == 0, Launch.readAllStandardError().constData());

    // The running copy's own window asks for the site's page.
    QTRY_VERIFY_WITH_TIMEOUT(!Server.Requests.isEmpty(), Patience);
    QVERIFY(Server.Requests.first().startsWith("GET /inbox "));
    QCOMPARE(First.state(), QProcess::Running);

    ::kill(pid_t(First.processId()), SIGTERM);
    QVERIFY(First.waitForFinished(Patience));
    QCOMPARE(First.exitCode(), 0);
}

QTEST_MAIN(TestShortcutLaunch)
#include "tst_shortcutlaunch.moc"
