#include "RunTexts.h"

#include <QList>
#include <QLocale>
#include <QStringList>

QString ShortenTitle(const QString &Text, int Max)
{
    const QList<uint> Chars = Text.toUcs4();
    if (Max < 0)
        Max = 0;
    if (Chars.size() <= Max)
        return Text;
    qsizetype Keep = Max;
    for (qsizetype i = Max - 1; i >= 0; --i) {
        const uint c = Chars[i];
        if (c == ' ' || c == '!' || c == ',' || c == '.' || c == ':' || c == '?') {
            Keep = i + 1;
            break;
        }
    }
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(Chars.constData()), Keep) +
           QStringLiteral("...");
}

QString OpenBrowsersText(int Count)
{
    if (Count == 0)
        return QStringLiteral("No open browsers");
    return QStringLiteral("Open browsers: ") + QString::number(Count);
}

QString ChangeBalloonTitle(const QByteArray &SiteTitle)
{
    return QStringLiteral("%1 has changed!").arg(QString::fromUtf8(SiteTitle));
}

QString ChangeBalloonText(const QByteArray &SiteTitle)
{
    return QStringLiteral("The content of site \"%1\" has been changed. Take a look at them.")
        .arg(QString::fromUtf8(SiteTitle));
}

QString SiteNotificationTitle(const QByteArray &SiteTitle, const QString &Title)
{
    const QString Site = QString::fromUtf8(SiteTitle);
    if (Title.isEmpty())
        return Site;
    return Site.isEmpty() ? Title : Site + QStringLiteral(": ") + Title;
}

QString BrowserCaption(const QString &PageTitle)
{
    return QStringLiteral("Kestrune: ") + PageTitle;
}

QString PageTitleOf(const QString &EngineTitle, const QUrl &Address)
{
    if (EngineTitle.isEmpty() || Address.isEmpty())
        return EngineTitle;
    const QString Full = Address.toDisplayString(QUrl::RemoveUserInfo);
    QStringList Forms{Full, Address.toString(QUrl::RemoveUserInfo)};
    const qsizetype SchemeEnd = Full.indexOf(QStringLiteral("://"));
    if (SchemeEnd > 0)
        Forms.append(Full.mid(SchemeEnd + 3));
    for (qsizetype i = 0, Count = Forms.size(); i < Count; ++i) {
        if (Forms[i].endsWith(QLatin1Char('/')))
            Forms.append(Forms[i].chopped(1));
    }
    return Forms.contains(EngineTitle) ? QString() : EngineTitle;
}

int UnreadCountOf(const QString &Title)
{
    qsizetype At = 0;
    while (At < Title.size() && Title.at(At).isSpace())
        ++At;
    if (At >= Title.size() || Title.at(At) != QLatin1Char('('))
        return 0;
    ++At;
    const qsizetype DigitsStart = At;
    int Count = 0;
    for (; At < Title.size() && Title.at(At) >= QLatin1Char('0') && Title.at(At) <= QLatin1Char('9'); ++At)
        Count = qMin(Count * 10 + (Title.at(At).unicode() - u'0'), MaxUnreadCount + 1);
    if (At == DigitsStart)
        return 0;
    if (At < Title.size() && Title.at(At) == QLatin1Char('+'))
        ++At;
    if (At >= Title.size() || Title.at(At) != QLatin1Char(')'))
        return 0;
    ++At;
    if (At < Title.size() && !Title.at(At).isSpace())
        return 0;
    return qMin(Count, MaxUnreadCount);
}

QString OpeningPageStatus(const QString &Address, int Percent)
{
    QString Text = QStringLiteral("Opening page %1...").arg(Address);
    if (Percent >= 0 && Percent < 100)
        Text += QStringLiteral(" %1%").arg(Percent);
    return Text;
}

const QStringList &MonitorIntervalCaptions()
{
    static const QStringList Captions{QStringLiteral("once per minute"), QStringLiteral("each 3 minutes"),
                                      QStringLiteral("each 5 minutes")};
    return Captions;
}

QString WatchedCaption(quint8 MonitorChanges, quint8 MonitorInterval)
{
    if (MonitorChanges == 0)
        return QString();
    const QStringList &Captions = MonitorIntervalCaptions();
    return Captions[qMin<qsizetype>(MonitorInterval, Captions.size() - 1)];
}

QString ChangedEntryCaption(const QString &Caption, const QDateTime &Changed, const QDateTime &Now)
{
    if (!Changed.isValid())
        return Caption;
    const QLocale Locale;
    const QString When = Changed.date() == Now.date() ? Locale.toString(Changed.time(), QLocale::ShortFormat)
                                                      : Locale.toString(Changed, QLocale::ShortFormat);
    return Caption + QStringLiteral(" \u2014 changed ") + When;
}
