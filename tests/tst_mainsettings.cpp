#include "About.h"
#include "Main.h"
#include "Settings.h"
#include "SetupDlg.h"
#include "TestDesktopServices.h"
#include "UpdateCheck.h"
#include "platform/MessageBoxes.h"
#include "platform/ShellLinks.h"
#include "platform/WebProfile.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

QString Env(const char *Name)
{
    return QString::fromLocal8Bit(qgetenv(Name));
}

QString SettingsFile()
{
    return QSettings(SettingsOrganization, SettingsApplication).fileName();
}

void WriteSettingsFile(const QByteArray &Text)
{
    QDir().mkpath(QFileInfo(SettingsFile()).path());
    QFile File(SettingsFile());
    if (File.open(QIODevice::WriteOnly | QIODevice::Truncate))
        File.write(Text);
}

QByteArray StoredDaysAgo(double Days)
{
    const double Stored = DateTimeToDays(QDateTime::currentDateTime()) - Days;
    const std::optional<QDateTime> When = DaysToDateTime(Stored);
    // Written by the store itself, in a scratch file of its own: the text the store would keep.
    static QTemporaryDir Scratch;
    static int Count = 0;
    const QString Path = Scratch.filePath(QStringLiteral("%1.conf").arg(++Count));
    {
        QSettings Store(Path, QSettings::IniFormat);
        Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(*When));
    }
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

QByteArray ReadFile(const QString &Path)
{
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

} // namespace

// A small HTTP server on 127.0.0.1 that answers every request with one body and keeps the request
// lines it got.
class TUpdateServer : public QObject
{
    Q_OBJECT

public:
    QByteArray Body;
    QList<QByteArray> Requests;

    bool Listen()
    {
        connect(&FServer, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *Socket = FServer.nextPendingConnection()) {
                Socket->setParent(this);
                connect(Socket, &QTcpSocket::readyRead, Socket, [this, Socket] {
                    FPending[Socket] += Socket->readAll();
                    if (!FPending[Socket].contains("\r\n\r\n"))
                        return;
                    Requests << FPending[Socket].left(FPending[Socket].indexOf("\r\n"));
                    Socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n"
                                  "Content-Length: " +
                                  QByteArray::number(Body.size()) + "\r\n\r\n" + Body);
                    Socket->disconnectFromHost();
                });
            }
        });
        return FServer.listen(QHostAddress::LocalHost);
    }
    QByteArray Address() const { return "http://127.0.0.1:" + QByteArray::number(FServer.serverPort()); }

private:
    QTcpServer FServer;
    QHash<QTcpSocket *, QByteArray> FPending;
};

// Takes the URLs the program hands to the desktop's browser.
class TUrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> Opened;

public slots:
    void Open(const QUrl &Url) { Opened << Url; }
};

class TestMainSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void startUp_data();
    void startUp();
    void updateReply_data();
    void updateReply();
    void noServer();
    void options_data();
    void options();
    void aboutBox();

private:
    std::unique_ptr<TfMainForm> NewForm();
    // Runs Action on the next modal dialog once it shows, then lets the caller's modal loop end.
    template <typename TDialog, typename TAction> void OnNextDialog(TAction Action);

    TTestDesktopServices FDesktop;
    TWebProfile FProfile;
    std::unique_ptr<QTemporaryDir> FData;
    TUpdateServer FServer;
    TUrlCatcher FCatcher;
};

void TestMainSettings::initTestCase()
{
    FDesktop.PassToDesktop = true;
    QVERIFY(Env("XDG_CONFIG_HOME").startsWith(Env("HOME")));
    QVERIFY(SettingsFile().startsWith(Env("XDG_CONFIG_HOME")));
    QVERIFY(FServer.Listen());
    UpdateCheckTest::SetServer(FServer.Address());
    MessageBoxTest::Enable();
    for (const QString &Scheme : {QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("file")})
        QDesktopServices::setUrlHandler(Scheme, &FCatcher, "Open");
}

void TestMainSettings::init()
{
    QFile::remove(SettingsFile());
    QFile::remove(FDesktop.ProgramAutostartFile());
    FData = std::make_unique<QTemporaryDir>();
    QVERIFY(FData->isValid());
    FServer.Requests.clear();
    FServer.Body.clear();
    FCatcher.Opened.clear();
    MessageBoxTest::TakeRecords();
}

void TestMainSettings::cleanup()
{
    FData.reset();
    MessageBoxTest::TakeRecords();
}

std::unique_ptr<TfMainForm> TestMainSettings::NewForm()
{
    return std::make_unique<TfMainForm>(FDesktop, FProfile, FData->path(), QList<QByteArray>());
}

template <typename TDialog, typename TAction> void TestMainSettings::OnNextDialog(TAction Action)
{
    // Bounded: the dialog shows within a few event-loop turns or the test fails on its result.
    auto *Poll = new QTimer(this);
    auto Tries = std::make_shared<int>(0);
    connect(Poll, &QTimer::timeout, this, [Poll, Tries, Action] {
        if (auto *Dialog = qobject_cast<TDialog *>(QApplication::activeModalWidget())) {
            Poll->deleteLater();
            Action(Dialog);
        } else if (++*Tries > 500) {
            Poll->deleteLater();
        }
    });
    Poll->start(10);
}

void TestMainSettings::startUp_data()
{
    QTest::addColumn<QByteArray>("stored"); // the settings file before the start; "-" none
    QTest::addColumn<bool>("runMinimized");
    QTest::addColumn<bool>("checks");

    QTest::newRow("nothing stored: visible, checks") << QByteArray("-") << false << true;
    QTest::newRow("Run minimized stored as a string: hidden, checks")
        << QByteArray("[General]\nRun%20minimized=yes\n") << true << true;
    QTest::newRow("Run minimized 1 and a recent check: hidden, no check")
        << StoredDaysAgo(1).replace("[General]\n", "[General]\nRun%20minimized=1\n") << true << false;
    QTest::newRow("checked 6 days 23 hours ago: no check") << StoredDaysAgo(6 + 23 / 24.0) << false << false;
    QTest::newRow("checked 7 days ago: checks") << StoredDaysAgo(7.001) << false << true;
    QTest::newRow("check 7 days ahead: checks") << StoredDaysAgo(-7.001) << false << true;
    QTest::newRow("Last update check of the wrong size: hidden, checks")
        << QByteArray("[General]\nLast%20update%20check=@ByteArray(abc)\n") << true << true;
}

void TestMainSettings::startUp()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, runMinimized);
    QFETCH(bool, checks);

    QFile::remove(SettingsFile());
    if (stored != "-")
        WriteSettingsFile(stored);
    FServer.Body = "VERSION=1.0.1.0\r\nURL=http://127.0.0.1/download\r\n";

    std::unique_ptr<TfMainForm> Form = NewForm();
    FDesktop.TrayAvailable = true;
    Form->show();
    QCOMPARE(Form->RunMinimized, runMinimized);
    if (checks) {
        QTRY_COMPARE_WITH_TIMEOUT(FServer.Requests.size(), 1, 15000);
        QCOMPARE(FServer.Requests[0], QByteArray("GET /update.php?myversion=1.0.1.0 HTTP/1.1"));
    }
    if (runMinimized)
        QTRY_VERIFY_WITH_TIMEOUT(!Form->isVisible(), 15000);
    // Past both delays: what did not happen by now does not happen.
    QTest::qWait(2500);
    QCOMPARE(Form->isVisible(), !runMinimized);
    QCOMPARE(FServer.Requests.size(), checks ? 1 : 0);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
}

void TestMainSettings::updateReply_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<TMsgResult>("answer");
    QTest::addColumn<bool>("asks");
    QTest::addColumn<QString>("opened"); // empty: nothing handed to the browser

    const QByteArray Page = "http://127.0.0.1/download/kestrune-1.0.2.0";
    QTest::newRow("1.0.2.0 asks, Yes opens the page") << QByteArray("VERSION=1.0.2.0\r\nURL=" + Page + "\r\n")
                                                      << TMsgResult::Yes << true << QString::fromLatin1(Page);
    QTest::newRow("1.0.2.0 asks, No opens nothing")
        << QByteArray("VERSION=1.0.2.0\nURL=" + Page) << TMsgResult::No << true << QString();
    QTest::newRow("1.0.1.0 is silent")
        << QByteArray("VERSION=1.0.1.0\r\nURL=" + Page) << TMsgResult::Yes << false << QString();
    QTest::newRow("1.0.0.9 is silent")
        << QByteArray("VERSION=1.0.0.9\r\nURL=" + Page) << TMsgResult::Yes << false << QString();
    QTest::newRow("1.0.257.0 is silent")
        << QByteArray("VERSION=1.0.257.0\rURL=" + Page) << TMsgResult::Yes << false << QString();
    QTest::newRow("lower-case names ask")
        << QByteArray("version=1.0.2.0\nurl=" + Page) << TMsgResult::Yes << true << QString::fromLatin1(Page);
    QTest::newRow("file page is not offered") << QByteArray("VERSION=9.0.0.0\r\nURL=file:///etc/passwd\r\n")
                                              << TMsgResult::Yes << false << QString();
    QTest::newRow("command as page is not offered")
        << QByteArray("VERSION=9.0.0.0\r\nURL=/bin/sh -c reboot\r\n") << TMsgResult::Yes << false
        << QString();
    QTest::newRow("javascript page is not offered")
        << QByteArray("VERSION=9.0.0.0\nURL=javascript:alert(1)\n") << TMsgResult::Yes << false << QString();
}

void TestMainSettings::updateReply()
{
    QFETCH(QByteArray, body);
    QFETCH(TMsgResult, answer);
    QFETCH(bool, asks);
    QFETCH(QString, opened);

    WriteSettingsFile(StoredDaysAgo(1)); // no check of its own at start
    const QByteArray Before = ReadFile(SettingsFile());
    std::unique_ptr<TfMainForm> Form = NewForm();
    const double LastBefore = Form->LastUpdateCheck;
    FServer.Body = body;
    MessageBoxTest::QueueAnswer(answer);
    Form->StartUpdateCheck();
    QTRY_COMPARE_WITH_TIMEOUT(FServer.Requests.size(), 1, 15000);

    if (asks) {
        QList<MessageBoxTest::TRecord> Boxes;
        QTRY_VERIFY_WITH_TIMEOUT(!(Boxes += MessageBoxTest::TakeRecords()).isEmpty(), 15000);
        QCOMPARE(Boxes.size(), 1);
        QCOMPARE(Boxes[0].Kind, TMsgKind::Information);
        QCOMPARE(Boxes[0].Buttons, TMsgButtons::YesNo);
        QCOMPARE(Boxes[0].Text,
                 QStringLiteral("New version of Kestrune is available for download.\nWould You "
                                "like to download new version?"));
        // The announcement is remembered at once, whatever the answer.
        QVERIFY(Form->LastUpdateCheck > LastBefore + 0.5);
        QVERIFY(ReadFile(SettingsFile()) != Before);
        QSettings Store(SettingsFile(), QSettings::IniFormat);
        bool RunMinimized = false;
        QDateTime Last;
        QCOMPARE(ReadStoredSettings(Store, RunMinimized, Last), TSettingsRead::Read);
        QVERIFY(WholeDaysBetween(Last, QDateTime::currentDateTime()) == 0);
    } else {
        // The reply is handled while the download ends; give it that time, bounded.
        QTest::qWait(1000);
        QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
        QCOMPARE(Form->LastUpdateCheck, LastBefore);
        QCOMPARE(ReadFile(SettingsFile()), Before);
    }
    QCOMPARE(FCatcher.Opened.isEmpty() ? QString() : FCatcher.Opened.first().toString(), opened);
    QVERIFY(FCatcher.Opened.size() <= 1);
}

void TestMainSettings::noServer()
{
    WriteSettingsFile(StoredDaysAgo(1));
    std::unique_ptr<TfMainForm> Form = NewForm();
    const double LastBefore = Form->LastUpdateCheck;
    // A port nobody listens on: the connection is refused at once.
    QTcpServer Closed;
    QVERIFY(Closed.listen(QHostAddress::LocalHost));
    const QByteArray Address = "http://127.0.0.1:" + QByteArray::number(Closed.serverPort());
    Closed.close();
    UpdateCheckTest::SetServer(Address);
    Form->StartUpdateCheck();
    QTest::qWait(1500);
    UpdateCheckTest::SetServer(FServer.Address());
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QCOMPARE(Form->LastUpdateCheck, LastBefore);
}

void TestMainSettings::options_data()
{
    QTest::addColumn<bool>("entryBefore");
    QTest::addColumn<bool>("tickStartup");
    QTest::addColumn<bool>("tickMinimized");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("entryAfter");
    QTest::addColumn<QByteArray>("storedMinimized"); // empty: not stored

    QTest::newRow("switching on writes the entry")
        << false << true << false << true << true << QByteArray("0");
    QTest::newRow("switching off deletes the entry")
        << true << false << true << true << false << QByteArray("1");
    QTest::newRow("Ok without changes leaves the entry alone, stores Run minimized")
        << true << true << false << true << true << QByteArray("0");
    QTest::newRow("Cancel changes nothing") << false << true << true << false << false << QByteArray();
}

void TestMainSettings::options()
{
    QFETCH(bool, entryBefore);
    QFETCH(bool, tickStartup);
    QFETCH(bool, tickMinimized);
    QFETCH(bool, ok);
    QFETCH(bool, entryAfter);
    QFETCH(QByteArray, storedMinimized);

    WriteSettingsFile(StoredDaysAgo(1));
    QByteArray EntryText;
    if (entryBefore) {
        QVERIFY(FDesktop.SetProgramAutostartEntry(true, QCoreApplication::applicationFilePath()));
        // A mark of our own: an entry that is left alone keeps it.
        QFile Entry(FDesktop.ProgramAutostartFile());
        QVERIFY(Entry.open(QIODevice::Append));
        Entry.write("# left alone\n");
        Entry.close();
        EntryText = ReadFile(FDesktop.ProgramAutostartFile());
    }
    std::unique_ptr<TfMainForm> Form = NewForm();
    QCOMPARE(Form->RunAtStartup, entryBefore);
    QCOMPARE(Form->RunMinimized, false);

    bool Shown = false;
    OnNextDialog<TfSetupDlg>([&](TfSetupDlg *Dialog) {
        Shown = Dialog->cbWinStartup->isChecked() == entryBefore && !Dialog->cbRunMinimized->isChecked() &&
                Dialog->windowTitle() == QStringLiteral("Setup");
        Dialog->cbWinStartup->setChecked(tickStartup);
        Dialog->cbRunMinimized->setChecked(tickMinimized);
        (ok ? Dialog->btnOk : Dialog->btnCancel)->click();
    });
    Form->miOptions->trigger();
    QVERIFY(Shown);

    QCOMPARE(QFileInfo::exists(FDesktop.ProgramAutostartFile()), entryAfter);
    QCOMPARE(Form->IsRunAtStartup(), entryAfter);
    QCOMPARE(Form->RunAtStartup, ok ? tickStartup : entryBefore);
    QCOMPARE(Form->RunMinimized, ok ? tickMinimized : false);
    if (entryBefore && entryAfter)
        QCOMPARE(ReadFile(FDesktop.ProgramAutostartFile()), EntryText);
    QSettings Store(SettingsFile(), QSettings::IniFormat);
    QCOMPARE(Store.value(RunMinimizedKey).toByteArray(), storedMinimized);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
}

void TestMainSettings::aboutBox()
{
    WriteSettingsFile(StoredDaysAgo(1));
    std::unique_ptr<TfMainForm> Form = NewForm();
    QString Version;
    QString Site;
    OnNextDialog<TfAboutDlg>([&](TfAboutDlg *Dialog) {
        Version = Dialog->lbVersion->text();
        Site = Dialog->Label3->text();
        Dialog->Label3Click();
        Dialog->btnOk->click();
    });
    Form->miAbout->trigger();
    QCOMPARE(Version, QStringLiteral("1.0"));
    QVERIFY(Site.contains(QString::fromLatin1(KestruneHomePage())));
    QCOMPARE(TfAboutDlg(FDesktop).lbVersion->text(), QStringLiteral("0.0"));

    Form->miKestrunewebsite->trigger();
    QCOMPARE(FCatcher.Opened,
             QList<QUrl>({QUrl::fromEncoded(KestruneHomePage()), QUrl::fromEncoded(KestruneHomePage())}));
}

QTEST_MAIN(TestMainSettings)
#include "tst_mainsettings.moc"
