#include "platform/EmbeddedWB.h"

#include "RunTexts.h"
#include "StepTimes.h"
#include "platform/MemoryRelease.h"
#include "platform/MessageBoxes.h"
#include "platform/WebProfile.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMenu>
#include <QPointer>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>

#include <optional>

namespace {

QString FeatureText(QWebEnginePage::Feature Feature)
{
    switch (Feature) {
    case QWebEnginePage::Notifications:
        return QStringLiteral("show notifications");
    case QWebEnginePage::Geolocation:
        return QStringLiteral("know your location");
    case QWebEnginePage::MediaAudioCapture:
        return QStringLiteral("use your microphone");
    case QWebEnginePage::MediaVideoCapture:
        return QStringLiteral("use your camera");
    case QWebEnginePage::MediaAudioVideoCapture:
        return QStringLiteral("use your camera and microphone");
    case QWebEnginePage::MouseLock:
        return QStringLiteral("take over the mouse pointer");
    case QWebEnginePage::DesktopVideoCapture:
        return QStringLiteral("see your screen");
    case QWebEnginePage::DesktopAudioVideoCapture:
        return QStringLiteral("see your screen and hear its sound");
    }
    return QStringLiteral("use a feature of this computer");
}

} // namespace

TNewWindowRoute RouteNewWindow(QWebEngineNewWindowRequest::DestinationType Destination, const QUrl &Requested,
                               const QUrl &Current)
{
    // A script's window with its own size, or one it fills itself, belongs to the page that opened it;
    // so does the engine's own view of the page source.
    if (Destination == QWebEngineNewWindowRequest::InNewDialog || Requested.isEmpty() ||
        Requested.scheme() == QLatin1String("about") || Requested.scheme() == QLatin1String("view-source"))
        return TNewWindowRoute::Popup;
    const QString Scheme = Requested.scheme().toLower();
    if (Scheme != QLatin1String("http") && Scheme != QLatin1String("https"))
        return TNewWindowRoute::Ignore;
    if (Requested.host().compare(Current.host(), Qt::CaseInsensitive) == 0)
        return TNewWindowRoute::Popup;
    return TNewWindowRoute::SystemBrowser;
}

TEmbeddedWB::TEmbeddedWB(QWidget *Parent, TWebProfile &Profile, TPageUse Use)
    : QWebEngineView(Parent), FProfile(Profile), FPageTaken(Use == TPageUse::SiteWindow)
{
    auto *Page = FPageTaken ? FProfile.TakePage(this) : new QWebEnginePage(FProfile.Engine(), this);
    setPage(Page);

    // What the site window asks of the engine: images, video and sound load; scripts and plug-ins run.
    QWebEngineSettings *Settings = Page->settings();
    Settings->setAttribute(QWebEngineSettings::AutoLoadImages, true);
    Settings->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    Settings->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    Settings->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    Settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    Settings->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);

    connect(Page, &QWebEnginePage::titleChanged, this, [this](const QString &Title) {
        if (FOnTitleChange)
            FOnTitleChange(PageTitleOf(Title, url()));
    });
    // The engine reports no status texts of its own but hovered links: the load is shown as well,
    // so that a slow page does not sit as a blank window.
    connect(Page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo &Info) {
        if (Info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
            FLoadingAddress = Info.url().toDisplayString(QUrl::RemoveUserInfo);
            ShowStatus(OpeningPageStatus(FLoadingAddress, -1));
        }
    });
    connect(Page, &QWebEnginePage::loadProgress, this, [this](int Percent) {
        if (FOutstanding > 0)
            ShowStatus(OpeningPageStatus(FLoadingAddress, Percent));
    });
    connect(Page, &QWebEnginePage::linkHovered, this, [this](const QString &Url) {
        if (FOnStatusTextChange)
            FOnStatusTextChange(Url);
    });
    connect(Page, &QWebEnginePage::loadStarted, this, &TEmbeddedWB::LoadStarted);
    connect(Page, &QWebEnginePage::loadFinished, this, &TEmbeddedWB::LoadFinished);
    connect(Page, &QWebEnginePage::newWindowRequested, this, &TEmbeddedWB::NewWindowRequested);
    connect(Page, &QWebEnginePage::featurePermissionRequested, this, &TEmbeddedWB::PermissionRequested);

    auto AddKey = [this](QKeySequence Key, QWebEnginePage::WebAction Action) {
        auto *Shortcut = new QAction(this);
        Shortcut->setShortcut(Key);
        Shortcut->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(Shortcut, &QAction::triggered, this, [this, Action] { page()->triggerAction(Action); });
        addAction(Shortcut);
    };
    AddKey(QKeySequence(Qt::ALT | Qt::Key_Left), QWebEnginePage::Back);
    AddKey(QKeySequence(Qt::ALT | Qt::Key_Right), QWebEnginePage::Forward);
    AddKey(QKeySequence(Qt::Key_F5), QWebEnginePage::Reload);
    AddKey(QKeySequence(Qt::CTRL | Qt::Key_R), QWebEnginePage::Reload);

    FForgetPermissions = new QAction(QStringLiteral("Forget site permissions"), this);
    connect(FForgetPermissions, &QAction::triggered, this, &TEmbeddedWB::ForgetPermissions);
}

TEmbeddedWB::~TEmbeddedWB()
{
    // The engine may answer pending requests while its page goes: nobody must hear of it.
    *FAlive = false;
    delete page();
    if (FPageTaken)
        FProfile.PageClosed();
    if (TMemoryRelease *Release = TMemoryRelease::OfApplication())
        Release->PageGone();
}

TEmbeddedWB *TEmbeddedWB::ForPage(const QWebEnginePage *Page)
{
    return Page ? qobject_cast<TEmbeddedWB *>(QWebEngineView::forPage(Page)) : nullptr;
}

void TEmbeddedWB::Navigate(const QByteArray &Url)
{
    const QString Text = QString::fromUtf8(Url).trimmed();
    QUrl Address(Text, QUrl::TolerantMode);
    if (Address.scheme().isEmpty())
        Address = QUrl::fromUserInput(Text);
    load(Address);
}

void TEmbeddedWB::Refresh()
{
    page()->triggerAction(QWebEnginePage::Reload);
}

void TEmbeddedWB::GetDocumentSource(TSourceReady Done)
{
    std::weak_ptr<bool> Alive = FAlive;
    page()->toHtml([Alive, Done = std::move(Done)](const QString &Html) {
        const auto Flag = Alive.lock();
        if (!Flag || !*Flag)
            return;
        Done(true, Html.toUtf8());
    });
}

void TEmbeddedWB::GetVisibleText(const QString &Selector, TSourceReady Done)
{
    static const QString Script = QStringLiteral(R"js(
(function (selector) {
  function docs(doc, all) {
    all.push(doc);
    var frames = doc.querySelectorAll('iframe, frame');
    for (var i = 0; i < frames.length; ++i) {
      try { if (frames[i].contentDocument) docs(frames[i].contentDocument, all); } catch (x) {}
    }
    return all;
  }
  var all = docs(document, []);
  var parts = [];
  for (var i = 0; i < all.length; ++i) {
    var doc = all[i];
    if (selector) {
      var found = null;
      try { found = doc.querySelector(selector); } catch (x) { return ''; }
      if (found) { parts.push(found.innerText || found.textContent || ''); break; }
    } else if (doc.body) {
      parts.push(doc.body.innerText || '');
    }
  }
  return parts.join('\n').split('\n').map(function (line) { return line.replace(/\s+/g, ' ').trim(); })
      .filter(function (line) { return line.length > 0; }).join('\n');
})(%1))js");
    // The selector goes in as a JSON string: never as script of its own.
    const QString Literal =
        QString::fromUtf8(QJsonDocument(QJsonArray{Selector}).toJson(QJsonDocument::Compact))
            .mid(1)
            .chopped(1);
    std::weak_ptr<bool> Alive = FAlive;
    page()->runJavaScript(Script.arg(Literal), QWebEngineScript::ApplicationWorld,
                          [Alive, Done = std::move(Done)](const QVariant &Answer) {
                              const auto Flag = Alive.lock();
                              if (!Flag || !*Flag)
                                  return;
                              Done(Answer.typeId() == QMetaType::QString, Answer.toString().toUtf8());
                          });
}

void TEmbeddedWB::AskFocusTakesText(std::function<void(bool Editing)> Done)
{
    static const QString Script = QStringLiteral(R"js(
(function () {
  var plain = ['button', 'submit', 'reset', 'checkbox', 'radio', 'image', 'file', 'range', 'color', 'hidden'];
  function takesText(doc) {
    var e = doc.activeElement;
    while (e && e.shadowRoot && e.shadowRoot.activeElement) e = e.shadowRoot.activeElement;
    if (!e) return false;
    if (e.tagName === 'IFRAME' || e.tagName === 'FRAME') {
      try { return takesText(e.contentDocument); } catch (x) { return true; }
    }
    if (e.isContentEditable || e.tagName === 'TEXTAREA' || e.tagName === 'SELECT') return true;
    if (e.tagName === 'INPUT') return plain.indexOf((e.type || 'text').toLowerCase()) < 0;
    return false;
  }
  return takesText(document);
})())js");
    std::weak_ptr<bool> Alive = FAlive;
    page()->runJavaScript(Script, QWebEngineScript::ApplicationWorld,
                          [Alive, Done = std::move(Done)](const QVariant &Answer) {
                              const auto Flag = Alive.lock();
                              if (!Flag || !*Flag)
                                  return;
                              Done(Answer.toBool());
                          });
}

void TEmbeddedWB::Raise(const TNotifyEvent &Event)
{
    if (Event)
        Event();
}

void TEmbeddedWB::LoadStarted()
{
    NoteStep("load-started");
    ++FOutstanding;
    Raise(FOnBeforeNavigate2);
}

void TEmbeddedWB::ShowStatus(const QString &Text)
{
    if (FOnStatusTextChange)
        FOnStatusTextChange(Text);
}

void TEmbeddedWB::LoadFinished()
{
    NoteStep("load-finished");
    // The next window's page is made once this one has drawn, not while it loads.
    if (FPageTaken)
        FProfile.PrepareNextPage();
    if (FOutstanding > 0)
        ShowStatus(DoneStatus);
    // Failed loads (a refused connection, an error page) finish their navigations too.
    const int Finished = std::exchange(FOutstanding, 0);
    QPointer<TEmbeddedWB> Self(this);
    for (int i = 0; i < Finished && Self; ++i)
        Raise(FOnNavigateComplete2);
    for (int i = 0; i < Finished && Self; ++i)
        Raise(FOnDocumentComplete);
}

void TEmbeddedWB::NewWindowRequested(QWebEngineNewWindowRequest &Request)
{
    switch (RouteNewWindow(Request.destination(), Request.requestedUrl(), url())) {
    case TNewWindowRoute::Popup:
        emit PopupRequested(Request);
        break;
    case TNewWindowRoute::SystemBrowser:
        emit SystemBrowserRequested(Request.requestedUrl().toEncoded());
        break;
    case TNewWindowRoute::Ignore:
        break;
    }
}

void TEmbeddedWB::PermissionRequested(const QUrl &Origin, QWebEnginePage::Feature Feature)
{
    if (const std::optional<bool> Known = FProfile.PermissionAnswer(Origin, Feature)) {
        page()->setFeaturePermission(Origin, Feature,
                                     *Known ? QWebEnginePage::PermissionGrantedByUser
                                            : QWebEnginePage::PermissionDeniedByUser);
        return;
    }
    // Asked outside the engine's own call, which must not wait for the user. The profile outlives
    // the box; this control may not.
    QMetaObject::invokeMethod(
        this,
        [this, Profile = &FProfile, Origin, Feature] {
            QPointer<TEmbeddedWB> Self(this);
            std::optional<bool> Granted = Profile->PermissionAnswer(Origin, Feature);
            if (!Granted) {
                const QString Text =
                    QStringLiteral("The site %1 wants to %2. Allow it?")
                        .arg(Origin.adjusted(QUrl::RemovePath).toDisplayString(), FeatureText(Feature));
                Granted =
                    ShowMessage(window(), TMsgKind::Confirm, Text, TMsgButtons::YesNo) == TMsgResult::Yes;
                Profile->SetPermissionAnswer(Origin, Feature, *Granted);
                if (!Self)
                    return;
            }
            page()->setFeaturePermission(Origin, Feature,
                                         *Granted ? QWebEnginePage::PermissionGrantedByUser
                                                  : QWebEnginePage::PermissionDeniedByUser);
        },
        Qt::QueuedConnection);
}

void TEmbeddedWB::ForgetPermissions()
{
    const QUrl Page = url();
    const QUrl Origin =
        Page.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo);
    const int Forgotten = FProfile.ForgetPermissions(Page);
    // The engine remembers answers for as long as the profile lives: it must ask us again too.
    for (const QWebEnginePage::Feature Feature :
         {QWebEnginePage::Notifications, QWebEnginePage::Geolocation, QWebEnginePage::MediaAudioCapture,
          QWebEnginePage::MediaVideoCapture, QWebEnginePage::MediaAudioVideoCapture,
          QWebEnginePage::MouseLock, QWebEnginePage::DesktopVideoCapture,
          QWebEnginePage::DesktopAudioVideoCapture})
        page()->setFeaturePermission(Origin, Feature, QWebEnginePage::PermissionUnknown);
    emit StatusMessage(Forgotten > 0
                           ? QStringLiteral("Permissions of %1 forgotten: the site will be asked again.")
                                 .arg(Origin.toDisplayString())
                           : QStringLiteral("No permissions of %1 were kept.").arg(Origin.toDisplayString()));
}

void TEmbeddedWB::contextMenuEvent(QContextMenuEvent *Event)
{
    QMenu *Menu = createStandardContextMenu();
    Menu->addSeparator();
    Menu->addAction(FForgetPermissions);
    if (!FExtraActions.isEmpty()) {
        Menu->addSeparator();
        Menu->addActions(FExtraActions);
    }
    Menu->setAttribute(Qt::WA_DeleteOnClose);
    Menu->popup(Event->globalPos());
}
