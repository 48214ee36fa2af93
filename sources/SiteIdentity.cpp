#include "SiteIdentity.h"

#include "CRC32unit.h"

QByteArray SiteDesktopName(const QByteArray &Title)
{
    if (Title.isEmpty() || Title.contains('/') || Title.contains('\0'))
        return QByteArray();
    return SiteIdPrefix + Title;
}

QByteArray SiteWindowClass(const QByteArray &Title)
{
    QByteArray Class = SiteIdPrefix;
    bool Replaced = Title.isEmpty();
    for (const char C : Title) {
        const bool Kept = (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') ||
                          C == '-' || C == '_' || C == '.';
        Class += Kept ? C : '_';
        Replaced = Replaced || !Kept;
    }
    if (Replaced)
        Class += '-' + QByteArray::number(CRC32(Title), 16).rightJustified(8, '0');
    return Class;
}
