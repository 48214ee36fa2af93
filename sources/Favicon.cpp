#include "Favicon.h"

QByteArray FaviconAddress(const QByteArray &Text)
{
    QByteArray Address = Text;
    for (char &C : Address)
        if (C >= 'A' && C <= 'Z')
            C = char(C - 'A' + 'a');
    qsizetype First = 0;
    qsizetype Last = Address.size();
    while (First < Last && quint8(Address[First]) <= ' ')
        ++First;
    while (Last > First && quint8(Address[Last - 1]) <= ' ')
        --Last;
    Address = Address.mid(First, Last - First);

    static const QByteArray Http = QByteArrayLiteral("http://");
    static const QByteArray Https = QByteArrayLiteral("https://");
    // A secure address keeps its scheme: "http://https://..." would name no host at all.
    qsizetype SchemeLength = Https.size();
    if (!Address.startsWith(Https)) {
        if (!Address.startsWith(Http))
            Address.prepend(Http);
        SchemeLength = Http.size();
    }
    // The first slash after the scheme and at least one host character ends the host.
    const qsizetype Slash = Address.indexOf('/', SchemeLength + 1);
    if (Slash >= 0)
        return Address.left(Slash + 1) + "favicon.ico";
    return Address + "/favicon.ico";
}
