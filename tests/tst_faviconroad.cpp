#include "DataModuleUnit.h"
#include "FaviconRoad.h"
#include "IconPreview.h"
#include "TestHttpServer.h"
#include "images/ImageStoredForm.h"
#include "platform/MessageBoxes.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

namespace {

QByteArray SampleIcon()
{
    TImageCollection Images;
    TImageGroupCollection Groups;
    ReadImageRepositoryData(BuiltinImageData(), Images, Groups);
    return Images.Item(5)->Graphic;
}

QByteArray ReadFile(const QString &Path)
{
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray("<missing>");
}

// What the preview saw, and how the test answers it.
struct TPreviewScript
{
    explicit TPreviewScript(const QStringList &Titles = {}) : Titles(Titles) {}
    QStringList Titles; // typed one after the other, each followed by Save; empty: Cancel
    int Shown = 0;
    QString SiteShown;
    QString TitleProposed;
    bool IconShown = false;
};

void AnswerPreview(TPreviewScript &Script)
{
    TfIconPreviewDlg::ModalRunnerForTests = [&Script](TfIconPreviewDlg &Dialog) {
        ++Script.Shown;
        Script.SiteShown = Dialog.edSite->text();
        Script.TitleProposed = Dialog.edIconTitle->text();
        Script.IconShown = !Dialog.imgIcon->pixmap().isNull();
        for (const QString &Title : Script.Titles) {
            Dialog.edIconTitle->setText(Title);
            Dialog.Button1Click();
            if (Dialog.result() == QDialog::Accepted)
                return int(QDialog::Accepted);
        }
        return int(QDialog::Rejected);
    };
}

QStringList Texts(const QList<MessageBoxTest::TRecord> &Records)
{
    QStringList Out;
    for (const auto &Record : Records)
        Out.append(Record.Kind == TMsgKind::Error ? Record.Text
                                                  : QStringLiteral("<not an error box> ") + Record.Text);
    return Out;
}

} // namespace

class TestFaviconRoad : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        MessageBoxTest::Enable();
        MessageBoxTest::TakeRecords();
    }
    void cleanup()
    {
        TfIconPreviewDlg::ModalRunnerForTests = nullptr;
        MessageBoxTest::Enable(false);
    }
    void replies_data();
    void replies();
    void iconIsSavedUnchangedAndRegistered();
    void titleInUse_data();
    void titleInUse();
    void saveErrors_data();
    void saveErrors();
    void cancelledPreviewChangesNothing();
    void previewDialogLayout();
};

void TestFaviconRoad::replies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("saved");

    const QByteArray Icon = SampleIcon();
    QByteArray Png("\x89PNG\r\n\x1a\n", 8);
    Png += QByteArray(200, 'p');
    QTest::newRow("icon") << HttpReply("200 OK", Icon) << true;
    QTest::newRow("404 with an html page") << HttpReply("404 Not Found", "<html>nothing</html>") << false;
    QTest::newRow("empty reply") << HttpReply("200 OK", QByteArray()) << false;
    QTest::newRow("png picture") << HttpReply("200 OK", Png) << false;
    QTest::newRow("cursor file") << HttpReply("200 OK", QByteArray("\0\0\2\0", 4) + Icon.mid(4)) << false;
    QTest::newRow("truncated icon") << HttpReply("200 OK", Icon.left(700)) << false;
    QTest::newRow("redirect is not followed")
        << HttpReply("302 Found", "moved", "Location: /real.ico\r\n") << false;
    QTest::newRow("redirect whose body is an icon")
        << HttpReply("301 Moved", Icon, "Location: /real.ico\r\n") << true;
    QTest::newRow("body over 1 MiB") << HttpReply("200 OK", Icon + QByteArray(1024 * 1024, '\0')) << false;
}

void TestFaviconRoad::replies()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, saved);

    TTestServer Server;
    Server.Replies["/favicon.ico"] = reply;
    Server.Replies["/real.ico"] = HttpReply("200 OK", SampleIcon());
    QTemporaryDir Dir;
    const QString Folder = Dir.path() + QStringLiteral("/");
    TPreviewScript Script({QStringLiteral("Example")});
    AnswerPreview(Script);
    TImageList Images;

    const auto Added =
        DownloadIcon(nullptr, Server.Url("/some/page.html"), QStringLiteral("Example"), Folder, Images);
    QCOMPARE(Added.has_value(), saved);
    QCOMPARE(Images.Count(), saved ? 1 : 0);
    QCOMPARE(QFileInfo::exists(Folder + QStringLiteral("Example.ico")), saved);
    QCOMPARE(Script.Shown, saved ? 1 : 0);
    QCOMPARE(Texts(MessageBoxTest::TakeRecords()),
             saved ? QStringList() : QStringList{QStringLiteral("Favorite icon not found!")});
    QCOMPARE(Server.Requests.size(), 1);
    QVERIFY(Server.Requests[0].startsWith("GET /favicon.ico "));
}

void TestFaviconRoad::iconIsSavedUnchangedAndRegistered()
{
    TTestServer Server;
    // Bytes after the picture are no part of the icon, but the file keeps the reply as it came.
    const QByteArray Body = SampleIcon() + "trailer";
    Server.Replies["/favicon.ico"] = HttpReply("200 OK", Body);
    QTemporaryDir Dir;
    const QString Folder = Dir.path() + QStringLiteral("/");
    TPreviewScript Script({QStringLiteral("My Site")});
    AnswerPreview(Script);
    TImageList Images;
    Images.Add(QIcon());

    const QString Typed = QStringLiteral("  ") + Server.Url("/Deep/Path?q=1").toUpper() + QStringLiteral(" ");
    const auto Added = DownloadIcon(nullptr, Typed, QStringLiteral(" \tMy Site \r\n"), Folder, Images);
    QVERIFY(Added);
    QCOMPARE(Added->Name, QStringLiteral("My Site"));
    QCOMPARE(Added->ImageIndex, 1);
    QCOMPARE(Images.Count(), 2);
    QVERIFY(!Images.Icon(1).isNull());
    QCOMPARE(ReadFile(Folder + QStringLiteral("My Site.ico")), Body);
    QCOMPARE(Script.SiteShown, Typed);
    QCOMPARE(Script.TitleProposed, QStringLiteral("My Site"));
    QVERIFY(Script.IconShown);
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
}

void TestFaviconRoad::titleInUse_data()
{
    QTest::addColumn<QString>("existing");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<QString>("savedAs");
    QTest::addColumn<int>("refusals");

    QTest::newRow("same title refused, another accepted")
        << QStringLiteral("Example.ico")
        << QStringList{QStringLiteral("Example"), QStringLiteral("Example 2")}
        << QStringLiteral("Example 2.ico") << 1;
    QTest::newRow("title differing in letter case refused")
        << QStringLiteral("example.ico") << QStringList{QStringLiteral("EXAMPLE"), QStringLiteral("other")}
        << QStringLiteral("other.ico") << 1;
    QTest::newRow("empty title accepted once")
        << QStringLiteral("unrelated.ico") << QStringList{QString()} << QStringLiteral(".ico") << 0;
    QTest::newRow("empty title refused the second time")
        << QStringLiteral(".ico") << QStringList{QString(), QStringLiteral("named")}
        << QStringLiteral("named.ico") << 1;
}

void TestFaviconRoad::titleInUse()
{
    QFETCH(QString, existing);
    QFETCH(QStringList, titles);
    QFETCH(QString, savedAs);
    QFETCH(int, refusals);

    QTemporaryDir Dir;
    const QString Folder = Dir.path() + QStringLiteral("/");
    QFile Old(Folder + existing);
    QVERIFY(Old.open(QIODevice::WriteOnly));
    Old.write("old");
    Old.close();

    TPreviewScript Script(titles);
    AnswerPreview(Script);
    QString FileName;
    QVERIFY(SaveDownloadedIcon(nullptr, SampleIcon(), QIcon(), QStringLiteral("http://x/"), QString(), Folder,
                               FileName));
    QCOMPARE(FileName, savedAs);
    QCOMPARE(ReadFile(Folder + savedAs), SampleIcon());
    QCOMPARE(ReadFile(Folder + existing), QByteArray("old"));
    QCOMPARE(Texts(MessageBoxTest::TakeRecords()),
             QStringList(refusals, QStringLiteral("This title is in use already!")));
}

void TestFaviconRoad::saveErrors_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing folder") << QStringLiteral("/missing/") << QStringLiteral("a") << QString();
    QTest::newRow("title with a slash")
        << QString() << QStringLiteral("../outside") << QStringLiteral("The title may not contain \"/\".");
}

void TestFaviconRoad::saveErrors()
{
    QFETCH(QString, folder);
    QFETCH(QString, title);
    QFETCH(QString, reason);

    QTemporaryDir Dir;
    const QString Folder = Dir.path() + folder + QStringLiteral("Icons/");
    QVERIFY(folder.startsWith(QStringLiteral("/missing")) || QDir().mkpath(Folder));
    TTestServer Server;
    Server.Replies["/favicon.ico"] = HttpReply("200 OK", SampleIcon());
    TPreviewScript Script({title});
    AnswerPreview(Script);
    TImageList Images;
    QVERIFY(!DownloadIcon(nullptr, Server.Url("/"), QStringLiteral("t"), Folder, Images));
    QCOMPARE(Images.Count(), 0);
    const QStringList Shown = Texts(MessageBoxTest::TakeRecords());
    QCOMPARE(Shown.size(), 1);
    QVERIFY2(Shown[0].startsWith(QStringLiteral("Can not save icon to file!\r\n")), qPrintable(Shown[0]));
    QVERIFY(Shown[0].size() > 28);
    if (!reason.isEmpty())
        QCOMPARE(Shown[0].mid(28), reason);
    QVERIFY(!QFileInfo::exists(Dir.path() + QStringLiteral("/outside.ico")));
}

void TestFaviconRoad::cancelledPreviewChangesNothing()
{
    TTestServer Server;
    Server.Replies["/favicon.ico"] = HttpReply("200 OK", SampleIcon());
    QTemporaryDir Dir;
    TPreviewScript Script; // no title: Cancel
    AnswerPreview(Script);
    TImageList Images;
    QVERIFY(!DownloadIcon(nullptr, Server.Url("/"), QStringLiteral("Site"), Dir.path() + QStringLiteral("/"),
                          Images));
    QCOMPARE(Script.Shown, 1);
    QCOMPARE(Images.Count(), 0);
    QVERIFY(QDir(Dir.path()).isEmpty());
    QVERIFY(MessageBoxTest::TakeRecords().isEmpty());
}

void TestFaviconRoad::previewDialogLayout()
{
    TfIconPreviewDlg Dialog(nullptr);
    QCOMPARE(Dialog.windowTitle(), QStringLiteral("Setup site icon"));
    QCOMPARE(Dialog.size(), QSize(321, 178));
    QVERIFY(!Dialog.edSite->isEnabled());
    QCOMPARE(Dialog.imgIcon->size(), QSize(16, 16));
    QVERIFY(Dialog.Button1->isDefault());
    QTest::keyClick(&Dialog, Qt::Key_Escape);
    QCOMPARE(Dialog.result(), int(QDialog::Rejected));
    QVERIFY(Dialog.IconFileName.isEmpty());
}

QTEST_MAIN(TestFaviconRoad)
#include "tst_faviconroad.moc"
