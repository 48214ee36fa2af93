#pragma once

#include <QByteArray>
#include <QList>
#include <QUrl>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineView>

#include <functional>
#include <memory>

class QAction;
class TWebProfile;

// Where a page's request for a new window goes.
enum class TNewWindowRoute
{
    Popup,         // a new window of ours on the same profile (sign-in windows need their opener)
    SystemBrowser, // a link to another site
    Ignore,        // nothing the program may hand on
};
TNewWindowRoute RouteNewWindow(QWebEngineNewWindowRequest::DestinationType Destination, const QUrl &Requested,
                               const QUrl &Current);

// The site page: a web view with the operations and the five events that the site window and its
// change monitor need. Each event holds one handler; setting one replaces the previous one.
class TEmbeddedWB : public QWebEngineView
{
    Q_OBJECT

public:
    using TTextEvent = std::function<void(const QString &Text)>;
    using TNotifyEvent = std::function<void()>;
    using TSourceReady = std::function<void(bool Ok, const QByteArray &Text)>;

    // What the page is for: a site window takes the page its profile made ahead; the page that a
    // window request of another page fills (a popup) must be new and not yet started.
    enum class TPageUse
    {
        SiteWindow,
        WindowRequest
    };

    // The page is made on Profile, which must outlive this control.
    TEmbeddedWB(QWidget *Parent, TWebProfile &Profile, TPageUse Use);
    ~TEmbeddedWB() override;

    TWebProfile &Profile() const { return FProfile; }

    void Navigate(const QByteArray &Url);
    void Refresh();
    // The serialised current document, in UTF-8. Done runs later, and never once this control is
    // being destroyed.
    void GetDocumentSource(TSourceReady Done);
    // The text a reader sees, line by line, each line's runs of white space made one blank and empty
    // lines left out: the main document's and that
    // of its frames of the same origin, or only the first element Selector finds (an empty text
    // when none matches, or the selector is not one). Ok false when the page gave no answer.
    void GetVisibleText(const QString &Selector, TSourceReady Done);
    // Whether the element with the keyboard focus takes text (a text field, a text area, an editable
    // part, or a frame of another origin, which cannot be looked into). Done runs later, and never
    // once this control is being destroyed.
    void AskFocusTakesText(std::function<void(bool Editing)> Done);

    void SetOnTitleChange(TTextEvent Handler) { FOnTitleChange = std::move(Handler); }
    void SetOnStatusTextChange(TTextEvent Handler) { FOnStatusTextChange = std::move(Handler); }
    void SetOnBeforeNavigate2(TNotifyEvent Handler) { FOnBeforeNavigate2 = std::move(Handler); }
    void SetOnNavigateComplete2(TNotifyEvent Handler) { FOnNavigateComplete2 = std::move(Handler); }
    void SetOnDocumentComplete(TNotifyEvent Handler) { FOnDocumentComplete = std::move(Handler); }

    // Entries added at the end of the page's context menu.
    void SetExtraContextActions(const QList<QAction *> &Actions) { FExtraActions = Actions; }
    // "Forget site permissions" of the context menu: the answers given for the page's origin are
    // forgotten, in this run and in those to come, and the status bar says so.
    QAction *ForgetPermissionsAction() const { return FForgetPermissions; }

    static TEmbeddedWB *ForPage(const QWebEnginePage *Page);

signals:
    // A page asked for a new window that should open as a window of ours. Handle it at once: the
    // request lives only while the signal is delivered.
    void PopupRequested(QWebEngineNewWindowRequest &Request);
    // Download progress and the like, for the window's status bar.
    void StatusMessage(const QString &Text);
    // A link to another site that the page wanted in a new window: for the system's browser.
    void SystemBrowserRequested(const QByteArray &Url);
    // A web notification the user allowed for this page. Shown learns whether it showed; whoever
    // does not show it may leave it (it then did not show).
    void WebNotification(const QString &Title, const QString &Message,
                         const std::function<void(bool)> &Shown);

protected:
    void contextMenuEvent(QContextMenuEvent *Event) override;

private:
    void LoadStarted();
    void LoadFinished();
    void ShowStatus(const QString &Text);
    void NewWindowRequested(QWebEngineNewWindowRequest &Request);
    void PermissionRequested(const QUrl &Origin, QWebEnginePage::Feature Feature);
    void ForgetPermissions();
    static void Raise(const TNotifyEvent &Event);

    TWebProfile &FProfile;
    const bool FPageTaken; // taken from the profile, and given back when it goes
    TTextEvent FOnTitleChange;
    TTextEvent FOnStatusTextChange;
    TNotifyEvent FOnBeforeNavigate2;
    TNotifyEvent FOnNavigateComplete2;
    TNotifyEvent FOnDocumentComplete;
    QList<QAction *> FExtraActions;
    QAction *FForgetPermissions;
    // Loads the engine started and has not finished yet. A load that another one replaces is
    // finished together with it, so that every counted pass can complete.
    int FOutstanding = 0;
    QString FLoadingAddress;
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};
