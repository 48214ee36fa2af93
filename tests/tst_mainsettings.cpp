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
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
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

QList<QSslCertificate> TestAuthority()
{
    return QSslCertificate::fromPath(QStringLiteral(KESTRUNE_TLS_DIR "/ca.pem"));
}

// A small HTTP server on 127.0.0.1, over TLS with the test authority's certificate for 127.0.0.1 or
// over plain HTTP, that answers every request with one body (or a redirection to Location) and
// keeps the request lines it got.
class TUpdateServer : public QObject
{
    Q_OBJECT

public:
    QByteArray Body;
    QByteArray Location;
    QList<QByteArray> Requests;
    int Connections = 0;

    bool Listen(bool Tls = true)
    {
        FTls = Tls;
        if (Tls) {
            QSslConfiguration Config = QSslConfiguration::defaultConfiguration();
            const QList<QSslCertificate> Chain =
                QSslCertificate::fromPath(QStringLiteral(KESTRUNE_TLS_DIR "/server.pem"));
            QFile KeyFile(QStringLiteral(KESTRUNE_TLS_DIR "/server.key"));
            if (Chain.isEmpty() || !KeyFile.open(QIODevice::ReadOnly))
                return false;
            Config.setLocalCertificateChain(Chain);
            Config.setPrivateKey(QSslKey(&KeyFile, QSsl::Rsa));
            FSecure.setSslConfiguration(Config);
        }
        QTcpServer &Server = Tls ? FSecure : FPlain;
        connect(&Server, &QTcpServer::pendingConnectionAvailable, this, [this, &Server] {
            while (QTcpSocket *Socket = Server.nextPendingConnection())
                Serve(Socket);
        });
        // Counted before any handshake: a client that refuses the certificate still came.
        if (Tls)
            connect(&FSecure, &QSslServer::startedEncryptionHandshake, this, [this] { ++Connections; });
        return Server.listen(QHostAddress::LocalHost);
    }
    QByteArray Address() const
    {
        return (FTls ? "https://127.0.0.1:" : "http://127.0.0.1:") +
               QByteArray::number((FTls ? static_cast<const QTcpServer &>(FSecure) : FPlain).serverPort());
    }

private:
    void Serve(QTcpSocket *Socket)
    {
        if (!FTls)
            ++Connections;
        Socket->setParent(this);
        connect(Socket, &QTcpSocket::readyRead, Socket, [this, Socket] {
            FPending[Socket] += Socket->readAll();
            if (!FPending[Socket].contains("\r\n\r\n"))
                return;
            Requests << FPending[Socket].left(FPending[Socket].indexOf("\r\n"));
            if (!Location.isEmpty())
                Socket->write("HTTP/1.1 301 Moved Permanently\r\nLocation: " + Location +
                              "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
            else
                Socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n"
                              "Content-Length: " +
                              QByteArray::number(Body.size()) + "\r\n\r\n" + Body);
            Socket->disconnectFromHost();
        });
        if (Socket->bytesAvailable() > 0)
            emit Socket->readyRead();
    }

    bool FTls = true;
    QTcpServer FPlain;
    QSslServer FSecure;
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
    void updateOnlyFromTrustedServer_data();
    void updateOnlyFromTrustedServer();
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
    auto Form = std::make_unique<TfMainForm>(FDesktop, FProfile, FData->path(), QList<QByteArray>());
    Form->UpdateSource = {FServer.Address(), TestAuthority()};
    return Form;
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
    Form->UpdateSource.Server = Address;
    Form->StartUpdateCheck();
    QTest::qWait(1500);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QCOMPARE(Form->LastUpdateCheck, LastBefore);
}

// Whoever answers the check chooses the page the user is asked to open: only a server that proves
// itself over TLS is heard. Each row has a newer version waiting that must not be offered.
void TestMainSettings::updateOnlyFromTrustedServer_data()
{
    QTest::addColumn<QString>("road");
    QTest::newRow("plain http: not even asked") << QStringLiteral("http");
    QTest::newRow("certificate of an authority the system does not know") << QStringLiteral("untrusted");
    QTest::newRow("redirected from https to http") << QStringLiteral("downgrade");
}

void TestMainSettings::updateOnlyFromTrustedServer()
{
    QFETCH(QString, road);
    const QByteArray Newer = "VERSION=9.0.0.0\r\nURL=http://127.0.0.1/evil\r\n";
    TUpdateServer Plain;
    QVERIFY(Plain.Listen(false));
    Plain.Body = Newer;
    TUpdateServer Secure;
    QVERIFY(Secure.Listen(true));
    Secure.Body = Newer;

    WriteSettingsFile(StoredDaysAgo(1));
    std::unique_ptr<TfMainForm> Form = NewForm();
    const double LastBefore = Form->LastUpdateCheck;
    TUpdateServer *Asked = &Secure;
    if (road == QLatin1String("http")) {
        Form->UpdateSource = {Plain.Address(), TestAuthority()};
        Asked = &Plain;
    } else if (road == QLatin1String("untrusted")) {
        Form->UpdateSource = {Secure.Address(), {}};
    } else {
        Form->UpdateSource = {Secure.Address(), TestAuthority()};
        Secure.Location = Plain.Address() + "/update.php";
    }
    Form->StartUpdateCheck();
    if (road != QLatin1String("http"))
        QTRY_VERIFY_WITH_TIMEOUT(Asked->Connections > 0, 15000);
    // The reply would be handled as the download ends; give it that time, bounded.
    QTest::qWait(1500);
    QCOMPARE(Plain.Connections, 0);
    if (road == QLatin1String("untrusted"))
        QVERIFY(Secure.Requests.isEmpty());
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
    QCOMPARE(Form->LastUpdateCheck, LastBefore);
    QVERIFY(FCatcher.Opened.isEmpty());
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
