#include "DataModuleUnit.h"
#include "Main.h"
#include "SampleIcons.h"
#include "Settings.h"
#include "SiteExport.h"
#include "TestDesktopServices.h"
#include "images/ImageDecoding.h"
#include "platform/MessageBoxes.h"
#include "platform/WebProfile.h"

#include <QAction>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

namespace {

using TFiles = QMap<QString, QByteArray>;
// The name and bytes of each imported site's icon.
using TIcons = QList<std::pair<QString, QByteArray>>;

// Every file under Folder (relative path to bytes): sites.dat, sites-watch.json and the icons.
TFiles FolderFiles(const QString &Folder)
{
    TFiles Files;
    QDirIterator It(Folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (It.hasNext()) {
        const QString Path = It.next();
        QFile File(Path);
        Files.insert(QDir(Folder).relativeFilePath(Path),
                     File.open(QIODevice::ReadOnly) ? File.readAll() : "?");
    }
    return Files;
}

TFiles IconFiles(const QString &Folder)
{
    TFiles Icons;
    const TFiles All = FolderFiles(Folder);
    for (auto It = All.cbegin(); It != All.cend(); ++It) {
        if (It.key().startsWith(QStringLiteral("Icons/")))
            Icons.insert(It.key().mid(6), It.value());
    }
    return Icons;
}

std::unique_ptr<TKestrunSite> MakeSite(const QByteArray &Title, const QByteArray &URL,
                                       const QByteArray &IconName = "web")
{
    auto Site = std::make_unique<TKestrunSite>();
    Site->SetTitle(Title);
    Site->SetURL(URL);
    Site->SetIconName(IconName);
    return Site;
}

QList<QByteArray> Titles(const TKestrunCollection &Sites)
{
    QList<QByteArray> Result;
    for (int i = 0; i < Sites.Count(); ++i)
        Result.append(Sites[i]->Title());
    return Result;
}

QStringList RowCaptions(const TfMainForm &Form)
{
    QStringList Captions;
    for (int i = 0; i < Form.lvSites->topLevelItemCount(); ++i)
        Captions.append(Form.lvSites->topLevelItem(i)->text(0));
    return Captions;
}

QStringList TraySites(const TfMainForm &Form)
{
    const QList<QAction *> Entries = Form.pmTray->actions();
    QStringList Captions;
    for (qsizetype i = Entries.indexOf(Form.miTraySitesDelimiter) + 1;
         i < Entries.indexOf(Form.miTrayOpenedSitesDelimiter); ++i)
        Captions.append(Entries[i]->text());
    return Captions;
}

QStringList Texts(const QList<MessageBoxTest::TRecord> &Records)
{
    QStringList Result;
    for (const MessageBoxTest::TRecord &Record : Records)
        Result.append(Record.Text);
    return Result;
}

QByteArray ListFile(const QJsonArray &Sites, const QJsonValue &Version = 1)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("format"), QStringLiteral("kestrune-sites")},
                                     {QStringLiteral("version"), Version},
                                     {QStringLiteral("sites"), Sites}})
        .toJson();
}

QJsonObject SiteObject(const QString &Title, const QString &URL)
{
    return QJsonObject{{QStringLiteral("title"), Title}, {QStringLiteral("url"), URL}};
}

QJsonObject With(QJsonObject Object, const QString &Key, const QJsonValue &Value)
{
    Object.insert(Key, Value);
    return Object;
}

QJsonObject Without(QJsonObject Object, const QString &Key)
{
    Object.remove(Key);
    return Object;
}

QString Base64(const QByteArray &Bytes)
{
    return QString::fromLatin1(Bytes.toBase64());
}

} // namespace

class TestSiteExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fileKeepsEveryFieldButSecrets();
    void roundTripBetweenTwoDataFolders();
    void importSkipsSitesAlreadyListed();
    void importedIconNeverReplacesAFile_data();
    void importedIconNeverReplacesAFile();
    void damagedFileChangesNothing_data();
    void damagedFileChangesNothing();
    void exportFailureIsReported();
    void iconWriteFailureTakesBackWhatWasWritten();

private:
    std::unique_ptr<TfMainForm> MakeForm(const QString &Folder);
    QString ListPath() const { return FWork->filePath(QStringLiteral("list.json")); }

    TTestDesktopServices FDesktop;
    TWebProfile FProfile;
    std::unique_ptr<QTemporaryDir> FWork;
};

void TestSiteExport::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // The window's start-up would otherwise ask the product's server for a newer version.
    QSettings Store(SettingsOrganization, SettingsApplication);
    Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
}

void TestSiteExport::init()
{
    FWork = std::make_unique<QTemporaryDir>();
    QVERIFY(FWork->isValid());
    MessageBoxTest::Enable();
    MessageBoxTest::TakeRecords();
}

void TestSiteExport::cleanup()
{
    MessageBoxTest::Enable(false);
    FWork.reset();
}

std::unique_ptr<TfMainForm> TestSiteExport::MakeForm(const QString &Folder)
{
    QDir().mkpath(Folder);
    auto Form = std::make_unique<TfMainForm>(FDesktop, FProfile, Folder, QList<QByteArray>());
    FDesktop.TrayAvailable = false;
    return Form;
}

void TestSiteExport::fileKeepsEveryFieldButSecrets()
{
    // Bytes that are no UTF-8, numbers at the ends of their ranges, a selector and a zoom.
    TKestrunSite Site;
    Site.SetTitle("\xff\xfe odd title");
    Site.SetURL("https://example.org/\xe9");
    Site.SetIconName("mail");
    Site.SetUserName("alice-the-user");
    Site.SetPassword("hunter2-secret");
    Site.SetBrowserChoice(255);
    Site.SetMinimizeToTaskbar(0);
    Site.SetWindowState(0);
    Site.SetWindowRect({std::numeric_limits<qint32>::min(), -5, 7, std::numeric_limits<qint32>::max()});
    Site.SetMonitorChanges(1);
    Site.SetMonitorInterval(2);
    TSiteWatch Watch;
    Watch.Compare = TCompareMode::VisibleText;
    Watch.Selector = QStringLiteral("#inbox .count");
    Watch.Zoom = 1.5;
    Watch.NoteChange(QDateTime::currentDateTimeUtc(), QStringLiteral("before"), QStringLiteral("after"));
    const QByteArray Icon = SampleIcon(0);

    const TExportedSite Exported = ExportedSiteOf(Site, Watch, Icon);
    const QByteArray Data = SiteExportData({Exported});
    for (const QByteArray &Secret : {Site.UserName(), Site.Password()}) {
        QVERIFY(!Data.contains(Secret));
        QVERIFY(!Data.contains(Secret.toBase64()));
        QVERIFY(!Data.contains(ComplementString(Secret).toBase64()));
    }
    // The monitor's history stays where it was seen.
    QVERIFY(!Data.contains("before"));

    QList<TExportedSite> Read;
    QString Error;
    QVERIFY2(ParseSiteExport(Data, Read, Error), qPrintable(Error));
    QCOMPARE(Read.size(), 1);
    QVERIFY(Read[0] == Exported);

    TKestrunSite Back;
    ApplyExportedSite(Read[0], Back);
    Back.SetUserName(Site.UserName());
    Back.SetPassword(Site.Password());
    QVERIFY(Back.SameStoredFields(Site));
    const TSiteWatch BackWatch = ExportedWatch(Read[0]);
    QCOMPARE(BackWatch.Compare, Watch.Compare);
    QCOMPARE(BackWatch.Selector, Watch.Selector);
    QCOMPARE(BackWatch.Zoom, Watch.Zoom);
    QVERIFY(BackWatch.History.isEmpty());
}

void TestSiteExport::roundTripBetweenTwoDataFolders()
{
    const QString From = FWork->filePath(QStringLiteral("from"));
    const QString To = FWork->filePath(QStringLiteral("to"));
    QVERIFY(QDir().mkpath(From + QStringLiteral("/Icons")));
    Write(From + QStringLiteral("/Icons/mail.ico"), SampleIcon(0));
    Write(From + QStringLiteral("/Icons/broken.ico"), "no icon at all");
    {
        TKestrunCollection Sites;
        // Its icon file is found without regard to case, as the list finds it.
        auto Mail = MakeSite("Mail", "https://mail.example/inbox", "Mail");
        Mail->SetUserName("alice");
        Mail->SetPassword("secret-word");
        Mail->SetMinimizeToTaskbar(0);
        Mail->SetWindowState(0);
        Mail->SetWindowRect({10, 20, 810, 620});
        Mail->SetMonitorChanges(1);
        Mail->SetMonitorInterval(2);
        Sites.Add(std::move(Mail));
        auto News = MakeSite("News", "news.example", "web");
        News->SetBrowserChoice(0);
        Sites.Add(std::move(News));
        Sites.Add(MakeSite("Broken icon", "about:blank", "broken"));
        QVERIFY(SaveSites(From, Sites));
        TSiteWatchEntry Entry;
        Entry.Title = "Mail";
        Entry.URL = "https://mail.example/inbox";
        Entry.Watch.Compare = TCompareMode::VisibleText;
        Entry.Watch.Selector = QStringLiteral("#inbox .count");
        Entry.Watch.Zoom = 1.25;
        QVERIFY(SaveSiteWatches(From, {Entry}));
    }

    auto Source = MakeForm(From);
    const QList<QAction *> Menu = Source->miSite->actions();
    QVERIFY(Menu.indexOf(Source->miExportSites) > Menu.indexOf(Source->miWhatChanged));
    QCOMPARE(Source->miExportSites->text(), QStringLiteral("Export sites..."));
    QCOMPARE(Source->miImportSites->text(), QStringLiteral("Import sites..."));
    QVERIFY(Source->ExportSites(ListPath()));
    QCOMPARE(Texts(MessageBoxTest::TakeRecords()), QStringList{QStringLiteral("3 sites exported.")});
    QVERIFY(!(QFile(ListPath()).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup)));
    Source.reset();

    auto Target = MakeForm(To);
    QVERIFY(Target->ImportSites(ListPath()));
    QCOMPARE(Texts(MessageBoxTest::TakeRecords()),
             QStringList{QStringLiteral("3 sites imported, 0 already in the list.")});
    QCOMPARE(RowCaptions(*Target),
             (QStringList{QStringLiteral("Mail"), QStringLiteral("News"), QStringLiteral("Broken icon")}));
    QCOMPARE(TraySites(*Target), RowCaptions(*Target));
    // The icon is on screen at once, in the row and in the tray menu.
    QVERIFY(!Target->lvSites->topLevelItem(0)->icon(0).isNull());
    QVERIFY(!qobject_cast<QAction *>(Target->Sites[0]->MenuItem())->icon().isNull());
    QCOMPARE(Target->IconNames, QStringList{QStringLiteral("Mail")});
    QCOMPARE(TdmMain::Current()->ilSites.Count(), 1);

    // Saved at once: what is on disk is every field but the secrets; only the real icon travelled.
    TKestrunCollection Expected, Saved;
    QCOMPARE(LoadSites(From, Expected).Status, TLoadSitesResult::Loaded);
    QCOMPARE(LoadSites(To, Saved).Status, TLoadSitesResult::Loaded);
    QCOMPARE(Saved.Count(), 3);
    for (int i = 0; i < 3; ++i) {
        Expected[i]->SetUserName({});
        Expected[i]->SetPassword({});
        QVERIFY2(Saved[i]->SameStoredFields(*Expected[i]), Saved[i]->Title().constData());
    }
    QCOMPARE(IconFiles(To), (TFiles{{QStringLiteral("Mail.ico"), SampleIcon(0)}}));
    const QList<TSiteWatchEntry> Watches = LoadSiteWatches(To);
    QCOMPARE(Watches.size(), 1);
    QCOMPARE(Watches[0].Title, QByteArray("Mail"));
    QCOMPARE(Watches[0].Watch.Compare, TCompareMode::VisibleText);
    QCOMPARE(Watches[0].Watch.Selector, QStringLiteral("#inbox .count"));
    QCOMPARE(Watches[0].Watch.Zoom, 1.25);

    // A second import of the same file finds every site listed and changes nothing.
    const TFiles Before = FolderFiles(To);
    QVERIFY(Target->ImportSites(ListPath()));
    QCOMPARE(Texts(MessageBoxTest::TakeRecords()),
             QStringList{QStringLiteral("0 sites imported, 3 already in the list.")});
    QCOMPARE(FolderFiles(To), Before);
}

void TestSiteExport::importSkipsSitesAlreadyListed()
{
    const QString Folder = FWork->filePath(QStringLiteral("data"));
    QVERIFY(QDir().mkpath(Folder));
    {
        TKestrunCollection Sites;
        Sites.Add(MakeSite("A", "https://a.example/"));
        Sites.Add(MakeSite("B", "https://b.example/"));
        QVERIFY(SaveSites(Folder, Sites));
    }
    // B again with other settings and an icon: left as it is, its icon not written. A under another
    // URL is another site. C twice: once.
    const QJsonArray List{
        With(With(With(SiteObject(QStringLiteral("B"), QStringLiteral("https://b.example/")),
                       QStringLiteral("browserChoice"), 0),
                  QStringLiteral("icon"), QStringLiteral("b")),
             QStringLiteral("iconData"), Base64(SampleIcon(0))),
        SiteObject(QStringLiteral("C"), QStringLiteral("https://c.example/")),
        SiteObject(QStringLiteral("A"), QStringLiteral("https://a.example/other")),
        With(SiteObject(QStringLiteral("C"), QStringLiteral("https://c.example/")),
             QStringLiteral("browserChoice"), 0),
    };
    Write(ListPath(), ListFile(List));

    auto Form = MakeForm(Folder);
    Form->lvSites->setCurrentItem(Form->lvSites->topLevelItem(1));
    QVERIFY(!Form->tbMoveDown->isEnabled());
    QVERIFY(Form->ImportSites(ListPath()));
    QCOMPARE(Texts(MessageBoxTest::TakeRecords()),
             QStringList{QStringLiteral("2 sites imported, 2 already in the list.")});
    const QStringList Expected{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                               QStringLiteral("A")};
    QCOMPARE(RowCaptions(*Form), Expected);
    QCOMPARE(TraySites(*Form), Expected);
    // The selected B is no longer the last one.
    QVERIFY(Form->tbMoveDown->isEnabled());

    TKestrunCollection Saved;
    LoadSites(Folder, Saved);
    QCOMPARE(Titles(Saved), (QList<QByteArray>{"A", "B", "C", "A"}));
    QCOMPARE(Saved[1]->BrowserChoice(), quint8(1));
    QCOMPARE(Saved[2]->BrowserChoice(), quint8(1));
    QCOMPARE(Saved[3]->URL(), QByteArray("https://a.example/other"));
    QVERIFY(IconFiles(Folder).isEmpty());
}

void TestSiteExport::importedIconNeverReplacesAFile_data()
{
    QTest::addColumn<TFiles>("Existing");
    QTest::addColumn<TIcons>("Imported");
    QTest::addColumn<QList<QByteArray>>("SiteIcons");
    QTest::addColumn<TFiles>("After");

    const QByteArray One = SampleIcon(0);
    const QByteArray Two = SampleIcon(2);
    const QString Mail = QStringLiteral("mail.ico");
    const QString Mail2 = QStringLiteral("mail (2).ico");
    QTest::newRow("free name") << TFiles{} << TIcons{{QStringLiteral("mail"), One}}
                               << QList<QByteArray>{"mail"} << TFiles{{Mail, One}};
    QTest::newRow("the same icon is there") << TFiles{{Mail, One}} << TIcons{{QStringLiteral("mail"), One}}
                                            << QList<QByteArray>{"mail"} << TFiles{{Mail, One}};
    QTest::newRow("another icon of that name")
        << TFiles{{Mail, Two}} << TIcons{{QStringLiteral("mail"), One}} << QList<QByteArray>{"mail (2)"}
        << TFiles{{Mail, Two}, {Mail2, One}};
    QTest::newRow("the name in other letter case")
        << TFiles{{QStringLiteral("MAIL.ico"), Two}} << TIcons{{QStringLiteral("mail"), One}}
        << QList<QByteArray>{"mail (2)"} << TFiles{{QStringLiteral("MAIL.ico"), Two}, {Mail2, One}};
    QTest::newRow("a file of that name that is no icon")
        << TFiles{{Mail, "not an icon"}, {Mail2, Two}} << TIcons{{QStringLiteral("mail"), One}}
        << QList<QByteArray>{"mail (3)"}
        << TFiles{{Mail, "not an icon"}, {Mail2, Two}, {QStringLiteral("mail (3).ico"), One}};
    QTest::newRow("two sites with one icon, a third with another")
        << TFiles{}
        << TIcons{{QStringLiteral("mail"), One}, {QStringLiteral("Mail"), One}, {QStringLiteral("mail"), Two}}
        << QList<QByteArray>{"mail", "mail", "mail (2)"} << TFiles{{Mail, One}, {Mail2, Two}};
}

void TestSiteExport::importedIconNeverReplacesAFile()
{
    QFETCH(TFiles, Existing);
    QFETCH(TIcons, Imported);
    QFETCH(QList<QByteArray>, SiteIcons);
    QFETCH(TFiles, After);

    const QString Folder = FWork->filePath(QStringLiteral("data"));
    QVERIFY(QDir().mkpath(Folder + QStringLiteral("/Icons")));
    for (auto It = Existing.cbegin(); It != Existing.cend(); ++It)
        Write(Folder + QStringLiteral("/Icons/") + It.key(), It.value());
    QJsonArray List;
    for (qsizetype i = 0; i < Imported.size(); ++i)
        List.append(
            With(With(SiteObject(QStringLiteral("Site %1").arg(i), QStringLiteral("https://x.example/")),
                      QStringLiteral("icon"), Imported[i].first),
                 QStringLiteral("iconData"), Base64(Imported[i].second)));
    Write(ListPath(), ListFile(List));

    auto Form = MakeForm(Folder);
    QVERIFY(Form->ImportSites(ListPath()));
    MessageBoxTest::TakeRecords();
    QCOMPARE(IconFiles(Folder), After);
    TKestrunCollection Saved;
    LoadSites(Folder, Saved);
    QCOMPARE(Saved.Count(), SiteIcons.size());
    for (int i = 0; i < Saved.Count(); ++i) {
        QCOMPARE(Saved[i]->IconName(), SiteIcons[i]);
        // Each site shows the icon it came with.
        const int Index = Form->SiteImageIndex(*Saved[i]);
        QVERIFY(Index >= 0);
        QCOMPARE(Form->SiteImage(Index).pixmap(16, 16).toImage(),
                 DecodeIconFile(Imported[i].second).pixmap(16, 16).toImage());
    }
    // Names and pictures stay in step.
    QCOMPARE(TdmMain::Current()->ilSites.Count(), Form->IconNames.size());
}

void TestSiteExport::damagedFileChangesNothing_data()
{
    QTest::addColumn<QByteArray>("Data");   // a null array: no file at all
    QTest::addColumn<qint64>("SizeOnDisk"); // grown with zero bytes to this size when above 0
    QTest::addColumn<QString>("Message");

    // A good site with an icon comes first each time: neither it nor its icon may arrive.
    const QJsonObject Good =
        With(With(SiteObject(QStringLiteral("Good"), QStringLiteral("https://good.example/")),
                  QStringLiteral("icon"), QStringLiteral("good")),
             QStringLiteral("iconData"), Base64(SampleIcon(0)));
    const QJsonObject Bad = SiteObject(QStringLiteral("Bad"), QStringLiteral("https://bad.example/"));
    const QJsonObject Named = With(Bad, QStringLiteral("icon"), QStringLiteral("bad"));
    const auto Second = [&Good](const QJsonValue &Site) { return ListFile(QJsonArray{Good, Site}); };
    const auto Row = [](const char *Name, const QByteArray &Data, const char *Message, qint64 Size = 0) {
        QTest::newRow(Name) << Data << Size << QString::fromUtf8(Message);
    };
    QByteArray Cursor = SampleIcon(0);
    Cursor[2] = 2;
    const QString NotOurs = QStringLiteral("The file is not a Kestrune site list.");

    Row("no file", QByteArray(), "No such file");
    Row("empty file", "", "It is not JSON");
    Row("not JSON", "Kestrune. Site collection file.", "It is not JSON");
    Row("cut short", Second(Bad).chopped(20), "It is not JSON");
    Row("a JSON list", "[]", "not a Kestrune site list");
    Row("another format",
        QJsonDocument(QJsonObject{{QStringLiteral("format"), QStringLiteral("bookmarks")},
                                  {QStringLiteral("version"), 1},
                                  {QStringLiteral("sites"), QJsonArray()}})
            .toJson(),
        "not a Kestrune site list");
    Row("a newer version", ListFile(QJsonArray{Good}, 2), "version (2)");
    Row("version as text", ListFile(QJsonArray{Good}, QStringLiteral("1")), "version (unknown)");
    Row("sites not a list",
        QJsonDocument(QJsonObject{{QStringLiteral("format"), QStringLiteral("kestrune-sites")},
                                  {QStringLiteral("version"), 1},
                                  {QStringLiteral("sites"), QJsonObject{{QStringLiteral("0"), Good}}}})
            .toJson(),
        "holds no list of sites");
    Row("a site that is no record", Second(5), "Site 2 of the file: it is no site record.");
    Row("no title", Second(Without(Bad, QStringLiteral("title"))), "Site 2 of the file: it has no title.");
    Row("empty title", Second(With(Bad, QStringLiteral("title"), QString())), "the title is empty");
    Row("line break in the title", Second(With(Bad, QStringLiteral("title"), QStringLiteral("Bad\nsite"))),
        "the title contains a line break");
    Row("NUL in the title",
        Second(With(Bad, QStringLiteral("title"), QString::fromUtf8(QByteArray("Bad\0site", 8)))),
        "the title contains a line break or another control character");
    Row("NUL in a base64 title",
        Second(With(Without(Bad, QStringLiteral("title")), QStringLiteral("titleBase64"),
                    Base64(QByteArray("Bad\0", 4)))),
        "the title contains");
    Row("title over the limit",
        Second(With(Bad, QStringLiteral("title"), QString(MaxExportedTitle + 1, QLatin1Char('t')))),
        "the title is longer than 4096 bytes");
    Row("title twice", Second(With(Bad, QStringLiteral("titleBase64"), Base64("Bad"))), "it has two titles");
    Row("title not base64",
        Second(With(Without(Bad, QStringLiteral("title")), QStringLiteral("titleBase64"),
                    QStringLiteral("B@d!"))),
        "the title is not valid base64");
    Row("title a number", Second(With(Bad, QStringLiteral("title"), 7)), "the title is not a text");
    Row("empty URL", Second(With(Bad, QStringLiteral("url"), QString())), "the URL is empty");
    Row("line break in the URL",
        Second(With(Bad, QStringLiteral("url"), QStringLiteral("https://bad.example/\r\nX-Header: 1"))),
        "the URL contains a line break");
    Row("URL over the limit",
        Second(With(Bad, QStringLiteral("url"),
                    QStringLiteral("https://bad.example/") + QString(MaxExportedURL, QLatin1Char('u')))),
        "the URL is longer than");
    Row("icon name into another folder",
        Second(With(With(Bad, QStringLiteral("icon"), QStringLiteral("../../.bashrc")),
                    QStringLiteral("iconData"), Base64(SampleIcon(0)))),
        "the icon name is not a file name");
    Row("icon name ..", Second(With(Bad, QStringLiteral("icon"), QStringLiteral(".."))),
        "the icon name is not a file name");
    Row("icon name over the limit", Second(With(Bad, QStringLiteral("icon"), QString(252, QLatin1Char('i')))),
        "the icon name is longer than 251 bytes");
    Row("icon data without a name",
        Second(With(With(Bad, QStringLiteral("icon"), QString()), QStringLiteral("iconData"),
                    Base64(SampleIcon(0)))),
        "its icon has no name");
    Row("icon data not base64", Second(With(Named, QStringLiteral("iconData"), QStringLiteral("AAAB*AA"))),
        "the icon data is not valid base64");
    Row("icon data that is no picture",
        Second(With(Named, QStringLiteral("iconData"), Base64("GIF89a and more"))),
        "the icon data is not an icon");
    Row("icon data a cursor", Second(With(Named, QStringLiteral("iconData"), Base64(Cursor))),
        "the icon data is not an icon");
    Row("icon directory past the end",
        Second(With(Named, QStringLiteral("iconData"), Base64(SampleIcon(0).left(40)))),
        "the icon data is not an icon");
    Row("icon over the limit",
        Second(With(Named, QStringLiteral("iconData"),
                    Base64(SampleIcon(0) + QByteArray(MaxExportedIcon, '\0')))),
        "the icon is larger than 1048576 bytes");
    Row("browser choice 256", Second(With(Bad, QStringLiteral("browserChoice"), 256)),
        "\"browserChoice\" is not a whole number from 0 to 255");
    Row("negative window state", Second(With(Bad, QStringLiteral("windowState"), -1)),
        "\"windowState\" is not");
    Row("interval 1.5", Second(With(Bad, QStringLiteral("monitorInterval"), 1.5)),
        "\"monitorInterval\" is not");
    Row("tray option as text", Second(With(Bad, QStringLiteral("minimizeToTaskbar"), QStringLiteral("1"))),
        "\"minimizeToTaskbar\" is not");
    Row("three window sides", Second(With(Bad, QStringLiteral("windowRect"), QJsonArray{0, 0, 100})),
        "\"windowRect\" is not four whole numbers");
    Row("window side beyond 32 bits",
        Second(With(Bad, QStringLiteral("windowRect"), QJsonArray{0, 0, 100, 4294967296.0})),
        "\"windowRect\" is not four whole numbers");
    Row("unknown comparison", Second(With(Bad, QStringLiteral("compare"), QStringLiteral("pixels"))),
        "\"compare\" is neither");
    Row("selector over the limit",
        Second(With(Bad, QStringLiteral("selector"), QString(MaxSelectorLength + 1, QLatin1Char('s')))),
        "the selector is longer than 1024 characters");
    Row("zoom out of range", Second(With(Bad, QStringLiteral("zoom"), 40)), "the zoom is not a number");
    QJsonArray Many;
    for (qsizetype i = 0; i <= MaxExportedSites; ++i)
        Many.append(SiteObject(QStringLiteral("S%1").arg(i), QStringLiteral("u")));
    Row("too many sites", ListFile(Many), "The file lists 10001 sites; at most 10000");
    Row("too big", ListFile(QJsonArray{Good}), "The file is too big", MaxSiteExportFileSize + 1);
}

void TestSiteExport::damagedFileChangesNothing()
{
    QFETCH(QByteArray, Data);
    QFETCH(qint64, SizeOnDisk);
    QFETCH(QString, Message);

    const QString Folder = FWork->filePath(QStringLiteral("data"));
    QVERIFY(QDir().mkpath(Folder + QStringLiteral("/Icons")));
    Write(Folder + QStringLiteral("/Icons/web.ico"), SampleIcon(2));
    {
        TKestrunCollection Sites;
        Sites.Add(MakeSite("Mine", "https://mine.example/"));
        QVERIFY(SaveSites(Folder, Sites));
    }
    if (!Data.isNull()) {
        Write(ListPath(), Data);
        if (SizeOnDisk > 0)
            QVERIFY(QFile::resize(ListPath(), SizeOnDisk));
    }
    auto Form = MakeForm(Folder);
    MessageBoxTest::TakeRecords();
    const TFiles Before = FolderFiles(Folder);
    const QStringList IconNames = Form->IconNames;

    QVERIFY(!Form->ImportSites(ListPath()));
    const QList<MessageBoxTest::TRecord> Records = MessageBoxTest::TakeRecords();
    QCOMPARE(Records.size(), 1);
    QCOMPARE(Records[0].Kind, TMsgKind::Error);
    QVERIFY2(Records[0].Text.startsWith(QStringLiteral("Can not import sites from \"%1\".").arg(ListPath())),
             qPrintable(Records[0].Text));
    QVERIFY2(Records[0].Text.contains(Message), qPrintable(Records[0].Text));
    QCOMPARE(FolderFiles(Folder), Before);
    QCOMPARE(RowCaptions(*Form), QStringList{QStringLiteral("Mine")});
    QCOMPARE(TraySites(*Form), QStringList{QStringLiteral("Mine")});
    QCOMPARE(Form->IconNames, IconNames);
    QCOMPARE(Form->Sites.Count(), 1);
}

void TestSiteExport::exportFailureIsReported()
{
    const QString Folder = FWork->filePath(QStringLiteral("data"));
    auto Form = MakeForm(Folder);
    const QString Path = FWork->filePath(QStringLiteral("missing/list.json"));
    QVERIFY(!Form->ExportSites(Path));
    const QList<MessageBoxTest::TRecord> Records = MessageBoxTest::TakeRecords();
    QCOMPARE(Records.size(), 1);
    QCOMPARE(Records[0].Kind, TMsgKind::Error);
    QVERIFY2(Records[0].Text.startsWith(QStringLiteral("Can not export sites to \"%1\".").arg(Path)),
             qPrintable(Records[0].Text));
    QVERIFY(!QFileInfo::exists(Path));
}

void TestSiteExport::iconWriteFailureTakesBackWhatWasWritten()
{
    // The second file appears between the plan and the writing (the user saves a favourite icon
    // meanwhile): it stays the user's, and the first file is taken back.
    const QString Folder = FWork->filePath(QStringLiteral("Icons"));
    QVERIFY(QDir().mkpath(Folder));
    TImportedIcon First;
    First.Name = QStringLiteral("first");
    First.Data = SampleIcon(0);
    First.NewFile = true;
    TImportedIcon Second = First;
    Second.Name = QStringLiteral("second");
    Write(Folder + QStringLiteral("/second.ico"), "the user's");
    QString Error;
    QVERIFY(!WriteImportedIcons({First, Second}, Folder, Error));
    QVERIFY2(Error.startsWith(QStringLiteral("Can not save icon to file \"%1/second.ico\".").arg(Folder)),
             qPrintable(Error));
    QCOMPARE(IconFiles(FWork->path()), (TFiles{{QStringLiteral("second.ico"), "the user's"}}));
}

QTEST_MAIN(TestSiteExport)
#include "tst_siteexport.moc"
