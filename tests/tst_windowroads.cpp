#include "BrowserWin.h"
#include "DataModuleUnit.h"
#include "FindBar.h"
#include "Main.h"
#include "PageTools.h"
#include "PrivateSession.h"
#include "RunTexts.h"
#include "SampleIcons.h"
#include "Settings.h"
#include "TestDesktopServices.h"
#include "TestHttpServer.h"
#include "images/ImageDecoding.h"
#include "images/ImageStoredForm.h"
#include "platform/EmbeddedWB.h"
#include "platform/WebProfile.h"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QWindow>
#include <QtTest>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

// The roads of the site windows and the main window that only a real X server with a window manager
// shows: minimising to the tray, the close box, bringing a covered window forward, the window order
// at a cold start, the placement kept at the end.

namespace {

constexpr int LoadTimeout = 30000;
constexpr int WmTimeout = 10000;
const QRgb PageColour = qRgb(0x20, 0x60, 0xc0);

xcb_connection_t *Connection()
{
    auto *X11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return X11 ? X11->connection() : nullptr;
}

xcb_window_t RootWindow()
{
    return xcb_setup_roots_iterator(xcb_get_setup(Connection())).data->root;
}

xcb_atom_t Atom(const char *Name)
{
    xcb_intern_atom_reply_t *Reply = xcb_intern_atom_reply(
        Connection(), xcb_intern_atom(Connection(), 0, uint16_t(std::strlen(Name)), Name), nullptr);
    const xcb_atom_t Result = Reply ? Reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(Reply);
    return Result;
}

QList<quint32> WindowList(xcb_window_t Window, const char *Property)
{
    QList<quint32> Result;
    xcb_get_property_reply_t *Reply = xcb_get_property_reply(
        Connection(), xcb_get_property(Connection(), 0, Window, Atom(Property), XCB_ATOM_ANY, 0, 4096),
        nullptr);
    if (Reply && Reply->format == 32) {
        const auto *Values = static_cast<const quint32 *>(xcb_get_property_value(Reply));
        for (int i = 0; i < xcb_get_property_value_length(Reply) / 4; ++i)
            Result.append(Values[i]);
    }
    std::free(Reply);
    return Result;
}

// Whether the window manager runs: it names its check window on the root.
bool WindowManagerRuns()
{
    return Connection() && !WindowList(RootWindow(), "_NET_SUPPORTING_WM_CHECK").isEmpty();
}

bool Viewable(const QWidget *Window)
{
    xcb_get_window_attributes_reply_t *Reply = xcb_get_window_attributes_reply(
        Connection(), xcb_get_window_attributes(Connection(), xcb_window_t(Window->winId())), nullptr);
    const bool Result = Reply && Reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(Reply);
    return Result;
}

// The managed windows from bottom to top, as the window manager stacks them.
QList<quint32> Stacking()
{
    return WindowList(RootWindow(), "_NET_CLIENT_LIST_STACKING");
}

bool OnTopAndActive(const QWidget *Window)
{
    const QList<quint32> Order = Stacking();
    const QList<quint32> Active = WindowList(RootWindow(), "_NET_ACTIVE_WINDOW");
    return !Order.isEmpty() && Order.last() == quint32(Window->winId()) && Active.value(0) == Order.last();
}

// The close box, as the window manager passes it on (WM_DELETE_WINDOW to the window).
void CloseThroughWindowManager(const QWidget *Window)
{
    xcb_client_message_event_t Event = {};
    Event.response_type = XCB_CLIENT_MESSAGE;
    Event.format = 32;
    Event.window = xcb_window_t(Window->winId());
    Event.type = Atom("_NET_CLOSE_WINDOW");
    Event.data.data32[0] = XCB_CURRENT_TIME;
    Event.data.data32[1] = 2; // a pager or taskbar: the user's direct wish
    xcb_send_event(Connection(), 0, RootWindow(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char *>(&Event));
    xcb_flush(Connection());
}

// A real click of the mouse at a place of the screen, through the X server's test extension.
bool Click(const QPoint &Spot)
{
    return QProcess::execute(QStringLiteral("xdotool"),
                             {QStringLiteral("mousemove"), QString::number(Spot.x()),
                              QString::number(Spot.y()), QStringLiteral("sleep"), QStringLiteral("0.2"),
                              QStringLiteral("click"), QStringLiteral("1")}) == 0;
}

// How much of the window's middle shows the page's colour on the screen, 0 to 1.
double PageShare(const QWidget *Window)
{
    const QRect Area = QRect(Window->mapToGlobal(QPoint(0, 0)), Window->size()).adjusted(20, 20, -20, -40);
    const QImage Screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    int Hits = 0;
    int All = 0;
    for (int y = Area.top(); y < Area.bottom(); y += 8) {
        for (int x = Area.left(); x < Area.right(); x += 8) {
            ++All;
            Hits += Screen.valid(x, y) && (Screen.pixel(x, y) & 0xffffff) == (PageColour & 0xffffff) ? 1 : 0;
        }
    }
    return All ? double(Hits) / All : 0;
}

QByteArray ColouredPage(const QByteArray &Title)
{
    return HttpReply("200 OK",
                     "<!doctype html><html><head>" +
                         (Title.isEmpty() ? QByteArray() : "<title>" + Title + "</title>") +
                         "</head><body style=\"margin:0;background:#2060c0\">page</body></html>",
                     "Content-Type: text/html\r\n");
}

// Warnings of Qt's X11 plugin about its own state ("internal error ..."), which mean a window that
// the toolkit and the X server see differently.
QStringList XcbTrouble;
QtMessageHandler PreviousHandler = nullptr;

void CatchXcbTrouble(QtMsgType Type, const QMessageLogContext &Context, const QString &Message)
{
    if (Context.category && std::strcmp(Context.category, "qt.qpa.xcb") == 0 &&
        Message.contains(QLatin1String("internal error")))
        XcbTrouble.append(Message);
    if (PreviousHandler)
        PreviousHandler(Type, Context, Message);
}

QImage Picture(const QIcon &Icon)
{
    return Icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

std::unique_ptr<TKestrunSite> MakeSite(const QByteArray &Title, const QString &Url, quint8 Taskbar,
                                       const TWindowRect &Rect = {100, 80, 700, 480})
{
    auto Site = std::make_unique<TKestrunSite>();
    Site->SetTitle(Title);
    Site->SetURL(Url.toUtf8());
    Site->SetBrowserChoice(1);
    Site->SetMinimizeToTaskbar(Taskbar);
    Site->SetWindowState(0);
    Site->SetWindowRect(Rect);
    return Site;
}

} // namespace

class TestWindowRoads : public QObject
{
    Q_OBJECT

public:
    explicit TestWindowRoads(bool HaveWindowManager) : FWindowManager(HaveWindowManager) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void trayIconSiteMinimisesToItsIcon();
    void closeBoxWithoutTrayCloses();
    void trayEntryBringsCoveredWindowForward();
    void coldStartPutsSiteWindowInFront();
    void firstOpenedWindowIsCentred();
    void titleStatusAndIcon();
    void stopDuringQuitQuestionEndsSaved();
    void watchedPageWaitsWhileUserTypes();
    void rowDraggedToAnotherPlace();
    void zoomAndFindFromTheKeyboard();

private:
    void NeedWindowManager()
    {
        if (!FWindowManager)
            QSKIP("Xvfb and openbox are needed");
    }
    TfBrowserWin *OpenWindow(TKestrunSite &Site, const QString &IconFile = QString())
    {
        auto *Window = new TfBrowserWin(nullptr, IconFile, &Site, FDesktop, FProfile);
        FWindows.append(Window);
        Window->ShowAndActivate();
        return Window;
    }
    std::unique_ptr<TfMainForm> MakeForm(const std::vector<std::unique_ptr<TKestrunSite>> &Sites,
                                         const QList<QByteArray> &Parameters = {})
    {
        TKestrunCollection Collection;
        for (const auto &Site : Sites) {
            auto Copy = std::make_unique<TKestrunSite>();
            Copy->Assign(*Site);
            Copy->SetWindowState(Site->WindowState());
            Copy->SetWindowRect(Site->WindowRect());
            Collection.Add(std::move(Copy));
        }
        [&] { QVERIFY(SaveSites(FFolder->path(), Collection)); }();
        return std::make_unique<TfMainForm>(FDesktop, FProfile, FFolder->path(), Parameters);
    }

    bool FWindowManager;
    TTestDesktopServices FDesktop;
    TWebProfile FProfile;
    TTestServer FServer;
    std::unique_ptr<QTemporaryDir> FFolder;
    QList<QPointer<TfBrowserWin>> FWindows;
};

void TestWindowRoads::initTestCase()
{
    // The window's start-up would otherwise ask the product's server for a newer version.
    QSettings Store(SettingsOrganization, SettingsApplication);
    Store.setValue(LastUpdateCheckKey, EncodeLastUpdateCheck(QDateTime::currentDateTime()));
    FServer.Replies.insert("/page", ColouredPage("Blue page"));
    FServer.Replies.insert("/untitled", ColouredPage(QByteArray()));
    FServer.Replies.insert("/form", HttpReply("200 OK",
                                              "<!doctype html><html><body style=\"margin:0\">"
                                              "<textarea id=\"t\" style=\"width:300px;height:200px\">"
                                              "</textarea></body></html>",
                                              "Content-Type: text/html\r\n"));
    // "/slow" gets no answer: its load never ends.
    PreviousHandler = qInstallMessageHandler(CatchXcbTrouble);
}

void TestWindowRoads::init()
{
    FFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(FFolder->isValid());
    FDesktop.TrayAvailable = false;
    XcbTrouble.clear();
}

void TestWindowRoads::cleanup()
{
    for (const QPointer<TfBrowserWin> &Window : std::as_const(FWindows))
        delete Window.data();
    FWindows.clear();
}

void TestWindowRoads::trayIconSiteMinimisesToItsIcon()
{
    NeedWindowManager();
    FDesktop.TrayAvailable = true;
    const auto Site = MakeSite("Blue", FServer.Url("/page"), 0);
    TfBrowserWin *Window = OpenWindow(*Site);
    QTRY_VERIFY_WITH_TIMEOUT(Viewable(Window) && PageShare(Window) > 0.9, LoadTimeout);

    // Minimised through the window manager, the window goes to its tray icon: hidden and unmapped.
    for (int Round = 0; Round < 2; ++Round) {
        Window->showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(!Window->isVisible() && !Viewable(Window), WmTimeout);
        QVERIFY(Window->BrowserTrayIcon()->isVisible());
        QTest::qWait(300);
        QVERIFY2(!Viewable(Window), "the hidden window came back on screen by itself");

        // The tray icon's click brings it back painted, in front and in use.
        Window->BrowserTrayIconClick();
        QTRY_VERIFY_WITH_TIMEOUT(Window->isVisible() && !Window->isMinimized() && Viewable(Window),
                                 WmTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(PageShare(Window) > 0.9, WmTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(OnTopAndActive(Window), WmTimeout);
    }

    // Its close box still answers: a tray-icon site goes to the tray again.
    CloseThroughWindowManager(Window);
    QTRY_VERIFY_WITH_TIMEOUT(!Window->isVisible() && !Viewable(Window), WmTimeout);
    QVERIFY2(XcbTrouble.isEmpty(), qPrintable(XcbTrouble.join(QLatin1Char('\n'))));
}

void TestWindowRoads::closeBoxWithoutTrayCloses()
{
    NeedWindowManager();
    // No tray to hide to: a tray-icon site's close box must close its window, storing its placement.
    FDesktop.TrayAvailable = false;
    const auto Site = MakeSite("Blue", FServer.Url("/page"), 0);
    QPointer<TfBrowserWin> Window = OpenWindow(*Site);
    QTRY_VERIFY_WITH_TIMEOUT(Viewable(Window), WmTimeout);
    Window->resize(520, 330);
    QTRY_COMPARE_WITH_TIMEOUT(Window->size(), QSize(520, 330), WmTimeout);
    CloseThroughWindowManager(Window);
    QTRY_VERIFY_WITH_TIMEOUT(Window.isNull(), WmTimeout);
    QCOMPARE(Site->IsOpen(), 0);
    QCOMPARE(Site->WindowState(), 0);
    QCOMPARE(Site->WindowRect().Right - Site->WindowRect().Left, 520);
    QCOMPARE(Site->WindowRect().Bottom - Site->WindowRect().Top, 330);
}

void TestWindowRoads::trayEntryBringsCoveredWindowForward()
{
    NeedWindowManager();
    std::vector<std::unique_ptr<TKestrunSite>> Sites;
    Sites.push_back(MakeSite("First", FServer.Url("/page"), 1));
    Sites.push_back(MakeSite("Second", FServer.Url("/page"), 1));
    auto Form = MakeForm(Sites);
    Form->RunSite(Form->Sites[0], false);
    Form->RunSite(Form->Sites[1], false);
    QCOMPARE(Form->OpenBrowsers.size(), 2);
    auto *First = qobject_cast<TfBrowserWin *>(Form->OpenBrowsers[0].Window.data());
    auto *Second = qobject_cast<TfBrowserWin *>(Form->OpenBrowsers[1].Window.data());
    // The second, at the same place, covers the first.
    QTRY_VERIFY_WITH_TIMEOUT(OnTopAndActive(Second), WmTimeout);

    // Chosen with the mouse from the tray menu, as the user does: the window manager lets a window
    // come forward for a fresh click only.
    for (int Entry : {0, 1}) {
        QAction *Item = Form->OpenBrowsers[Entry].MenuItem;
        Form->pmTray->popup(QPoint(40, 40));
        QTRY_VERIFY_WITH_TIMEOUT(Form->pmTray->isVisible() && Viewable(Form->pmTray), WmTimeout);
        const QPoint Spot = Form->pmTray->mapToGlobal(Form->pmTray->actionGeometry(Item).center());
        QVERIFY(Click(Spot));
        auto *Window = qobject_cast<TfBrowserWin *>(Form->OpenBrowsers[Entry].Window.data());
        QTRY_VERIFY_WITH_TIMEOUT(OnTopAndActive(Window), WmTimeout);
    }
    QVERIFY(OnTopAndActive(Second));
    QVERIFY(First->isVisible());
}

void TestWindowRoads::coldStartPutsSiteWindowInFront()
{
    NeedWindowManager();
    std::vector<std::unique_ptr<TKestrunSite>> Sites;
    Sites.push_back(MakeSite("Blue", FServer.Url("/page"), 1, {150, 120, 650, 470}));
    // As the program starts from a shortcut: the link opens the window while the main window is
    // made, and the main window is shown afterwards, over the middle of the screen.
    auto Form = MakeForm(Sites, {EncodeLinkParameter(*Sites[0], false)});
    QCOMPARE(Form->OpenBrowsers.size(), 1);
    Form->show();
    auto *Window = qobject_cast<TfBrowserWin *>(Form->OpenBrowsers[0].Window.data());
    QTRY_VERIFY_WITH_TIMEOUT(Viewable(Form.get()) && OnTopAndActive(Window), WmTimeout);
    QTest::qWait(500);
    QVERIFY(OnTopAndActive(Window));
}

void TestWindowRoads::firstOpenedWindowIsCentred()
{
    // Nothing stored: a good part of the screen, in its middle; un-maximising gives that back.
    const auto Site = MakeSite("Blue", FServer.Url("/page"), 1, {0, 0, 0, 0});
    Site->SetWindowState(2);
    TfBrowserWin *Window = OpenWindow(*Site);
    QVERIFY(Window->isMaximized());
    Window->showNormal();
    const QRect Area = Window->screen()->availableGeometry();
    QTRY_VERIFY_WITH_TIMEOUT(!Window->isMaximized(), WmTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Window->width() >= Area.width() / 2 && Window->height() >= Area.height() / 2,
                             WmTimeout);
    QVERIFY(Window->width() <= Area.width() && Window->height() <= Area.height());
    const QPoint Offset = Window->frameGeometry().center() - Area.center();
    QVERIFY2(qAbs(Offset.x()) <= 40 && qAbs(Offset.y()) <= 40,
             qPrintable(QStringLiteral("%1, %2 from the middle").arg(Offset.x()).arg(Offset.y())));
}

void TestWindowRoads::titleStatusAndIcon()
{
    // The icon as the list loads it: the name matched without letter case, through our own decoder.
    QVERIFY(QDir().mkpath(FFolder->filePath(QStringLiteral("Icons"))));
    Write(FFolder->filePath(QStringLiteral("Icons/Logo.ico")), SampleIcon(0));
    // A cursor file is no icon, for the list as for the window.
    Write(FFolder->filePath(QStringLiteral("Icons/pointer.ico")),
          QByteArray("\0\0\2\0", 4) + SampleIcon(4).mid(4));
    std::vector<std::unique_ptr<TKestrunSite>> Sites;
    Sites.push_back(MakeSite("Untitled", FServer.Url("/untitled"), 1));
    Sites[0]->SetIconName("LOGO");
    Sites.push_back(MakeSite("Slow", FServer.Url("/slow"), 1));
    Sites[1]->SetIconName("pointer");
    auto Form = MakeForm(Sites);
    QCOMPARE(Form->IconNames, QStringList{QStringLiteral("Logo")});
    Form->RunSite(Form->Sites[0], false);
    Form->RunSite(Form->Sites[1], false);
    auto *Untitled = qobject_cast<TfBrowserWin *>(Form->OpenBrowsers[0].Window.data());
    auto *Slow = qobject_cast<TfBrowserWin *>(Form->OpenBrowsers[1].Window.data());

    const QImage Listed = Picture(Form->lvSites->topLevelItem(0)->icon(0));
    QVERIFY(!Listed.isNull());
    QCOMPARE(Picture(Untitled->windowIcon()), Listed);
    QCOMPARE(Picture(Untitled->BrowserTrayIcon()->icon()), Listed);
    QCOMPARE(Picture(Slow->windowIcon()), Picture(QApplication::windowIcon()));

    // A page without a title: the engine's stand-in (its address) is no title.
    QTRY_COMPARE_WITH_TIMEOUT(Untitled->StatusBar()->currentMessage(), DoneStatus, LoadTimeout);
    QCOMPARE(Untitled->windowTitle(), QStringLiteral("Kestrune: "));
    QVERIFY(Form->OpenBrowsers[0].MenuItem->text().startsWith(QStringLiteral("Untitled (")));

    // A page that does not come: the window says that it is opening it.
    QTRY_VERIFY_WITH_TIMEOUT(Slow->StatusBar()->currentMessage().startsWith(
                                 QStringLiteral("Opening page %1...").arg(FServer.Url("/slow"))),
                             LoadTimeout);
}

void TestWindowRoads::stopDuringQuitQuestionEndsSaved()
{
    std::vector<std::unique_ptr<TKestrunSite>> Sites;
    Sites.push_back(MakeSite("Blue", FServer.Url("/page"), 1));
    auto Form = MakeForm(Sites);
    QSignalSpy Closed(Form.get(), &TfMainForm::FormClosed);
    Form->RunSite(Form->Sites[0], false);
    auto *Window = qobject_cast<TfBrowserWin *>(Form->OpenBrowsers[0].Window.data());
    Window->showNormal();
    Window->setGeometry(QRect(QPoint(60, 50), QSize(450, 320)));
    QTRY_COMPARE_WITH_TIMEOUT(Window->size(), QSize(450, 320), WmTimeout);

    // The stop signal's road, while "There are opened browsers. Are You sure to quit?" waits.
    bool Asked = false;
    QTimer::singleShot(500, Form.get(), [&] {
        for (QWidget *Top : QApplication::topLevelWidgets())
            Asked = Asked || (qobject_cast<QDialog *>(Top) && Top->isVisible());
        Form->QuitWithoutQuestions();
        for (QWidget *Top : QApplication::topLevelWidgets())
            if (auto *Dialog = qobject_cast<QDialog *>(Top); Dialog && Dialog->isVisible())
                Dialog->reject();
    });
    Form->miQuitClick();
    QVERIFY(Asked);
    QVERIFY(Form->Closed());
    QCOMPARE(Closed.size(), 1);

    // Saved with the window's placement, though the window was never closed.
    TKestrunCollection Saved;
    QVERIFY(LoadSites(FFolder->path(), Saved).Error.isEmpty());
    QCOMPARE(Saved.Count(), 1);
    QCOMPARE(Saved[0]->WindowState(), 0);
    QCOMPARE(Saved[0]->WindowRect().Right - Saved[0]->WindowRect().Left, 450);
    QCOMPARE(Saved[0]->WindowRect().Bottom - Saved[0]->WindowRect().Top, 320);
}

void TestWindowRoads::watchedPageWaitsWhileUserTypes()
{
    NeedWindowManager();
    const auto Site = MakeSite("Form", FServer.Url("/form"), 1, {100, 80, 600, 480});
    Site->SetMonitorChanges(1);
    TfBrowserWin *Window = OpenWindow(*Site);
    // Intervals long enough for a click and a few keys between two reloads on a busy machine.
    Window->Monitor().SetTimingForTests(50, {1000, 1000, 1000});
    const auto Loads = [this] {
        return std::count_if(FServer.Requests.cbegin(), FServer.Requests.cend(),
                             [](const QByteArray &Request) { return Request.startsWith("GET /form "); });
    };
    // The monitor reloads the page at its interval while nobody types.
    QTRY_VERIFY_WITH_TIMEOUT(Loads() >= 3, LoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(OnTopAndActive(Window), WmTimeout);

    // The user clicks into the text area and types, as with a keyboard.
    const auto Value = [Window] {
        QVariant Result;
        bool Done = false;
        Window->WebBrowser()->page()->runJavaScript(
            QStringLiteral("(document.getElementById('t') || {}).value || ''"), [&](const QVariant &Answer) {
                Result = Answer;
                Done = true;
            });
        if (!QTest::qWaitFor([&] { return Done; }, 5000))
            return QString();
        return Result.toString();
    };
    // A reload that the monitor decided on just before the click may still take the first text:
    // the user types again, and the text has to outlive a whole interval.
    bool Typed = false;
    for (int Attempt = 0; Attempt < 10 && !Typed; ++Attempt) {
        Typed = Click(Window->WebBrowser()->mapToGlobal(QPoint(150, 100))) &&
                QProcess::execute(QStringLiteral("xdotool"),
                                  {QStringLiteral("type"), QStringLiteral("hello")}) == 0 &&
                QTest::qWaitFor([&] { return Value().contains(QLatin1String("hello")); }, 2000);
        if (Typed) {
            QTest::qWait(1500);
            Typed = Value().contains(QLatin1String("hello"));
        }
    }
    QVERIFY2(Typed, "the typed text did not stay in the page");
    const qsizetype Before = Loads();
    QTest::qWait(3500); // several intervals
    QCOMPARE(Loads(), Before);
    QVERIFY(Value().contains(QLatin1String("hello")));

    // Once the text area has lost the focus, the checks go on.
    Window->WebBrowser()->page()->runJavaScript(QStringLiteral("document.activeElement.blur()"));
    QTRY_VERIFY_WITH_TIMEOUT(Loads() > Before, WmTimeout);
}

// A real drag with the mouse puts a site in another place: the list, the tray menu and the file.
void TestWindowRoads::rowDraggedToAnotherPlace()
{
    NeedWindowManager();
    std::vector<std::unique_ptr<TKestrunSite>> Sites;
    for (const char *Title : {"First", "Second", "Third"})
        Sites.push_back(MakeSite(Title, FServer.Url("/page"), 1));
    auto Form = MakeForm(Sites);
    Form->show();
    QTRY_VERIFY_WITH_TIMEOUT(OnTopAndActive(Form.get()), WmTimeout);
    const auto Spot = [&Form](int Row, int Dy) {
        const QRect Rect = Form->lvSites->visualItemRect(Form->lvSites->topLevelItem(Row));
        return Form->lvSites->viewport()->mapToGlobal(QPoint(Rect.left() + 30, Rect.top() + Dy));
    };
    const QPoint From = Spot(2, 6);
    const QPoint To = Spot(0, 2); // the upper edge of the first row: before it, not onto it
    const auto Coordinates = [](const QPoint &Point) {
        return QStringList{QString::number(Point.x()), QString::number(Point.y())};
    };
    QProcess Drag;
    Drag.start(QStringLiteral("xdotool"),
               QStringList{QStringLiteral("mousemove")} + Coordinates(From) +
                   QStringList{QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("sleep"),
                               QStringLiteral("0.3"), QStringLiteral("mousemove")} +
                   Coordinates(From - QPoint(0, 12)) +
                   QStringList{QStringLiteral("sleep"), QStringLiteral("0.3"), QStringLiteral("mousemove")} +
                   Coordinates(To) +
                   QStringList{QStringLiteral("sleep"), QStringLiteral("0.5"), QStringLiteral("mouseup"),
                               QStringLiteral("1")});
    // The drag runs in this process's event loop while the tool moves the mouse.
    QTRY_VERIFY_WITH_TIMEOUT(Drag.state() == QProcess::NotRunning, WmTimeout);
    QCOMPARE(Drag.exitCode(), 0);
    const auto Saved = [this] {
        TKestrunCollection Stored;
        LoadSites(FFolder->path(), Stored);
        QByteArrayList Titles;
        for (int i = 0; i < Stored.Count(); ++i)
            Titles << Stored[i]->Title();
        return Titles;
    };
    QTRY_COMPARE_WITH_TIMEOUT(Saved(), (QByteArrayList{"Third", "First", "Second"}), WmTimeout);
    QCOMPARE(Form->lvSites->topLevelItemCount(), 3);
    QCOMPARE(Form->lvSites->topLevelItem(0)->text(0), QStringLiteral("Third"));
    QCOMPARE(Form->lvSites->topLevelItem(0)->childCount(), 0);
    QCOMPARE(Form->Sites[0]->Title(), QByteArray("Third"));
}

void TestWindowRoads::zoomAndFindFromTheKeyboard()
{
    NeedWindowManager();
    const auto Site = MakeSite("Zoom", FServer.Url("/page"), 1);
    TfBrowserWin *Window = OpenWindow(*Site);
    QTRY_COMPARE_WITH_TIMEOUT(Window->windowTitle(), QStringLiteral("Kestrune: Blue page"), LoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(OnTopAndActive(Window), WmTimeout);
    const QPoint Middle = Window->mapToGlobal(QPoint(Window->width() / 2, Window->height() / 2));
    QVERIFY(Click(Middle));
    // Real keys as a US keyboard sends them: plus is Shift+=, so Ctrl+plus comes as Ctrl+Shift+plus.
    const struct
    {
        QStringList Input;
        double Zoom;
    } Steps[] = {
        {{QStringLiteral("key"), QStringLiteral("ctrl+plus")}, 1.1},
        {{QStringLiteral("key"), QStringLiteral("ctrl+equal")}, 1.25},
        {{QStringLiteral("key"), QStringLiteral("ctrl+KP_Add")}, 1.5},
        {{QStringLiteral("key"), QStringLiteral("ctrl+minus")}, 1.25},
        {{QStringLiteral("key"), QStringLiteral("ctrl+KP_Subtract")}, 1.1},
        {{QStringLiteral("key"), QStringLiteral("ctrl+0")}, 1.0},
        {{QStringLiteral("keydown"), QStringLiteral("ctrl"), QStringLiteral("click"), QStringLiteral("4"),
          QStringLiteral("keyup"), QStringLiteral("ctrl")},
         1.1},
        {{QStringLiteral("keydown"), QStringLiteral("ctrl"), QStringLiteral("click"), QStringLiteral("5"),
          QStringLiteral("click"), QStringLiteral("5"), QStringLiteral("keyup"), QStringLiteral("ctrl")},
         0.9},
    };
    for (const auto &Step : Steps) {
        QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), Step.Input), 0);
        QTRY_COMPARE_WITH_TIMEOUT(Window->Watch().Zoom, Step.Zoom, WmTimeout);
    }
    QTRY_COMPARE_WITH_TIMEOUT(Window->WebBrowser()->zoomFactor(), 0.9, WmTimeout);

    // Ctrl+F and typing reach the find bar; Escape closes it.
    TFindBar *Bar = Window->PageTools()->FindBar();
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+f")}),
             0);
    QTRY_VERIFY_WITH_TIMEOUT(Bar->isVisible() && Bar->edFind()->hasFocus(), WmTimeout);
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("page")}),
             0);
    QTRY_COMPARE_WITH_TIMEOUT(Bar->edFind()->text(), QStringLiteral("page"), WmTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(Bar->lblMatches()->text(), QStringLiteral("1 of 1"), LoadTimeout);
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")}),
             0);
    QTRY_VERIFY_WITH_TIMEOUT(Bar->isHidden(), WmTimeout);
}

int main(int argc, char **argv)
{
    // No session bus: without an address Qt would ask dbus-launch for one on the private display
    // (the first tray icon does), which can hang; the tray icons then use the X11 tray, as tested.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kestrune-test-bus");
    QProcess XServer;
    QProcess WindowManager;
    const QString Display = StartPrivateXServer(XServer);
    const bool HaveOpenbox = !QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty();
    if (!Display.isEmpty()) {
        qputenv("DISPLAY", Display.toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
        if (HaveOpenbox) {
            QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
            Environment.insert(QStringLiteral("DISPLAY"), Display);
            WindowManager.setProcessEnvironment(Environment);
            WindowManager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        }
    }
    int Result = 0;
    {
        QApplication App(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        QPixmap Icon(16, 16);
        Icon.fill(Qt::darkGreen);
        QApplication::setWindowIcon(QIcon(Icon));
        bool Managed = false;
        if (!Display.isEmpty() && HaveOpenbox && WindowManager.waitForStarted(10000)) {
            QDeadlineTimer Deadline(WmTimeout);
            while (!(Managed = WindowManagerRuns()) && !Deadline.hasExpired())
                QTest::qWait(100);
        }
        TestWindowRoads Test(Managed);
        Result = QTest::qExec(&Test, argc, argv);
    }
    if (WindowManager.state() == QProcess::Running) {
        WindowManager.terminate();
        if (!WindowManager.waitForFinished(5000))
            WindowManager.kill();
    }
    StopPrivateXServer(XServer);
    return Result;
}

#include "tst_windowroads.moc"
