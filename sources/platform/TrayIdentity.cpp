#include "TrayIdentity.h"

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QMetaMethod>
#include <QPointer>
#include <QSystemTrayIcon>

// Qt keeps the D-Bus side of a tray icon to itself: the icon's platform object (QDBusTrayIcon) is
// reached through the icon's private data, and the icon pictures travel in Qt's own D-Bus types.
#include <QtGui/private/qdbustraytypes_p.h>
#include <QtWidgets/private/qsystemtrayicon_p.h>

// How it works: Qt's platform object carries an adaptor for org.kde.StatusNotifierItem that answers
// Id and Title with the application's name. QtDBus serves each interface of an object through one
// adaptor, the last one made for it; so an adaptor of ours on the same object takes the interface
// over. It answers Id and Title itself and passes every other property, every method and every
// signal through to Qt's adaptor. It belongs to the platform object, which outlives hiding the icon,
// so each new registration of the item (Qt registers it anew at every show) is served by it, from
// the host's first question on.

namespace {

constexpr char ItemInterface[] = "org.kde.StatusNotifierItem";

class TTrayItemAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString AttentionIconName READ AttentionIconName)
    Q_PROPERTY(QXdgDBusImageVector AttentionIconPixmap READ AttentionIconPixmap)
    Q_PROPERTY(QString AttentionMovieName READ AttentionMovieName)
    Q_PROPERTY(QString Category READ Category)
    Q_PROPERTY(QString IconName READ IconName)
    Q_PROPERTY(QXdgDBusImageVector IconPixmap READ IconPixmap)
    Q_PROPERTY(QString Id READ Id)
    Q_PROPERTY(bool ItemIsMenu READ ItemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ Menu)
    Q_PROPERTY(QString OverlayIconName READ OverlayIconName)
    Q_PROPERTY(QXdgDBusImageVector OverlayIconPixmap READ OverlayIconPixmap)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(QString Title READ Title)
    Q_PROPERTY(QXdgDBusToolTipStruct ToolTip READ ToolTip)

public:
    TTrayItemAdaptor(QObject *Item, QDBusAbstractAdaptor *QtAdaptor);

    void SetNames(const QString &Id, const QString &Title);

    QString AttentionIconName() const { return Forward<QString>("AttentionIconName"); }
    QXdgDBusImageVector AttentionIconPixmap() const
    {
        return Forward<QXdgDBusImageVector>("AttentionIconPixmap");
    }
    QString AttentionMovieName() const { return Forward<QString>("AttentionMovieName"); }
    QString Category() const { return Forward<QString>("Category"); }
    QString IconName() const { return Forward<QString>("IconName"); }
    QXdgDBusImageVector IconPixmap() const { return Forward<QXdgDBusImageVector>("IconPixmap"); }
    QString Id() const { return FId.isEmpty() ? Forward<QString>("Id") : FId; }
    bool ItemIsMenu() const { return Forward<bool>("ItemIsMenu"); }
    QDBusObjectPath Menu() const { return Forward<QDBusObjectPath>("Menu"); }
    QString OverlayIconName() const { return Forward<QString>("OverlayIconName"); }
    QXdgDBusImageVector OverlayIconPixmap() const
    {
        return Forward<QXdgDBusImageVector>("OverlayIconPixmap");
    }
    QString Status() const { return Forward<QString>("Status"); }
    QString Title() const { return FTitle.isEmpty() ? Forward<QString>("Title") : FTitle; }
    QXdgDBusToolTipStruct ToolTip() const { return Forward<QXdgDBusToolTipStruct>("ToolTip"); }

public slots:
    void Activate(int X, int Y) { Pass("Activate", X, Y); }
    void ContextMenu(int X, int Y) { Pass("ContextMenu", X, Y); }
    void SecondaryActivate(int X, int Y) { Pass("SecondaryActivate", X, Y); }
    void Scroll(int Delta, const QString &Orientation);
    void ProvideXdgActivationToken(const QString &Token);

signals:
    void NewAttentionIcon();
    void NewIcon();
    void NewOverlayIcon();
    void NewMenu();
    void NewStatus(const QString &Status);
    void NewTitle();
    void NewToolTip();

private:
    template <typename T> T Forward(const char *Name) const
    {
        return FQt ? qvariant_cast<T>(FQt->property(Name)) : T();
    }
    void Pass(const char *Method, int X, int Y);

    QPointer<QDBusAbstractAdaptor> FQt;
    QString FId;
    QString FTitle;
};

TTrayItemAdaptor::TTrayItemAdaptor(QObject *Item, QDBusAbstractAdaptor *QtAdaptor)
    : QDBusAbstractAdaptor(Item), FQt(QtAdaptor)
{
    // Qt's adaptor hears of every change of the icon; what it says goes out as ours now.
    const QMetaObject *Own = metaObject();
    const QMetaObject *Theirs = QtAdaptor->metaObject();
    for (int i = Own->methodOffset(); i < Own->methodCount(); ++i) {
        const QMetaMethod Signal = Own->method(i);
        if (Signal.methodType() != QMetaMethod::Signal)
            continue;
        const int Index = Theirs->indexOfSignal(Signal.methodSignature().constData());
        if (Index >= 0)
            connect(QtAdaptor, Theirs->method(Index), this, Signal);
    }
}

void TTrayItemAdaptor::SetNames(const QString &Id, const QString &Title)
{
    FId = Id;
    if (FTitle == Title)
        return;
    FTitle = Title;
    // Queued: QtDBus takes this adaptor in only on its next turn, and a signal before would go
    // nowhere while the item is already shown.
    QMetaObject::invokeMethod(this, &TTrayItemAdaptor::NewTitle, Qt::QueuedConnection);
}

void TTrayItemAdaptor::Pass(const char *Method, int X, int Y)
{
    if (FQt)
        QMetaObject::invokeMethod(FQt.data(), Method, Q_ARG(int, X), Q_ARG(int, Y));
}

void TTrayItemAdaptor::Scroll(int Delta, const QString &Orientation)
{
    if (FQt)
        QMetaObject::invokeMethod(FQt.data(), "Scroll", Q_ARG(int, Delta), Q_ARG(QString, Orientation));
}

void TTrayItemAdaptor::ProvideXdgActivationToken(const QString &Token)
{
    if (FQt)
        QMetaObject::invokeMethod(FQt.data(), "ProvideXdgActivationToken", Q_ARG(QString, Token));
}

bool ServesItemInterface(const QObject &Adaptor)
{
    const QMetaObject *Meta = Adaptor.metaObject();
    const int Index = Meta->indexOfClassInfo("D-Bus Interface");
    return Index >= 0 && qstrcmp(Meta->classInfo(Index).value(), ItemInterface) == 0;
}

// D-Bus strings carry neither: on the bus a NUL cuts the text short there and a lone surrogate half
// comes out as '?'.
QString DBusText(const QString &Text)
{
    QString Safe;
    Safe.reserve(Text.size());
    for (qsizetype i = 0; i < Text.size(); ++i) {
        const QChar Char = Text[i];
        if (Char.isHighSurrogate() && i + 1 < Text.size() && Text[i + 1].isLowSurrogate()) {
            Safe += Char;
            Safe += Text[++i];
        } else if (!Char.isSurrogate() && !Char.isNull()) {
            Safe += Char;
        }
    }
    return Safe;
}

} // namespace

bool SetTrayIconIdentity(QSystemTrayIcon &Icon, const QString &Id, const QString &Title)
{
    // Made with the icon, kept until it goes; none where the icon is an XEmbed one.
    const auto *Private = static_cast<const QSystemTrayIconPrivate *>(QObjectPrivate::get(&Icon));
    QObject *Item = Private->qpa_sys;
    if (!Item)
        return false;
    TTrayItemAdaptor *Ours = nullptr;
    QDBusAbstractAdaptor *Qts = nullptr;
    const auto Adaptors = Item->findChildren<QDBusAbstractAdaptor *>(Qt::FindDirectChildrenOnly);
    for (QDBusAbstractAdaptor *Adaptor : Adaptors) {
        if (!ServesItemInterface(*Adaptor))
            continue;
        if (auto *Mine = qobject_cast<TTrayItemAdaptor *>(Adaptor))
            Ours = Mine;
        else
            Qts = Adaptor;
    }
    if (!Ours) {
        if (!Qts)
            return false;
        Ours = new TTrayItemAdaptor(Item, Qts);
    }
    Ours->SetNames(DBusText(Id), DBusText(Title));
    return true;
}

#include "TrayIdentity.moc"
