#include "platform/DesktopBrowser.h"

#include <QUrl>

bool IsWebAddress(const QByteArray &Address)
{
    const QUrl Url = QUrl::fromEncoded(Address.trimmed(), QUrl::TolerantMode);
    const QString Scheme = Url.scheme().toLower();
    return Url.isValid() && !Url.host().isEmpty() &&
           (Scheme == QLatin1String("http") || Scheme == QLatin1String("https"));
}
