#pragma once

#include <QByteArray>

#include <optional>

// The program's version as one 32-bit number (major in the top byte, then minor, release, build),
// its texts, and the reading of the product server's update reply.

// The product's web server: the update check asks it, the Help menu and the about box open it.
// The one place that names it. Asked over https only: whoever answers the check chooses the page
// the user is invited to open.
inline constexpr char KestruneServer[] = "https://kestrune.brinmoor.com";
QByteArray KestruneHomePage();
// The update request for a server address (no trailing '/'), carrying the full own version.
QByteArray UpdateRequestUrl(const QByteArray &Server);

quint32 MakeVersionNumber(quint32 Major, quint32 Minor, quint32 Release, quint32 Build);
quint32 OwnVersionNumber();
// "1.0" when Short, else "1.0.1.0".
QByteArray VersionText(bool Short);
// Four decimal parts joined by '.', each part keeping its lowest 8 bits; 0 when the text has fewer
// than four parts or an empty last part. A part that is not a whole number counts as 0.
quint32 ParseVersionNumber(const QByteArray &Text);

struct TUpdateReply
{
    QByteArray Version;
    QByteArray URL;
};

// Lines end in CR LF, CR or LF; "NAME=value" with the name in any letter case, the value being
// everything after the first '='; the first line of a name counts.
TUpdateReply ParseUpdateReply(const QByteArray &Reply);
// The download page to offer when the reply names a version above Own; nothing otherwise.
std::optional<QByteArray> NewVersionPage(const QByteArray &Reply, quint32 Own);
