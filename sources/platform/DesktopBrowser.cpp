#include "platform/DesktopBrowser.h"

#include <QRegularExpression>
#include <QUrl>

bool IsWebAddress(const QByteArray &Address)
{
    const QUrl Url = QUrl::fromEncoded(Address.trimmed(), QUrl::TolerantMode);
    const QString Scheme = Url.scheme().toLower();
    return Url.isValid() && !Url.host().isEmpty() &&
           (Scheme == QLatin1String("http") || Scheme == QLatin1String("https"));
}

QUrl SiteAddress(const QByteArray &Address)
{
    const QString Text = QString::fromUtf8(Address).trimmed();
    if (Text.isEmpty())
        return {};
    QUrl Url(Text, QUrl::TolerantMode);
    // "host:8080" reads as the scheme "host": a scheme is followed by something other than a port.
    static const QRegularExpression HostAndPort(QStringLiteral("^[^/:?#]+:[0-9]+([/?#].*)?$"));
    if (Url.scheme().isEmpty() || HostAndPort.match(Text).hasMatch())
        Url = QUrl(QStringLiteral("http://") + Text, QUrl::TolerantMode);
    return Url.isValid() ? Url : QUrl();
}
