#include "UpdateCheck.h"

#include "KestruneVersion.h"

#include <QByteArrayList>

QByteArray KestruneHomePage()
{
    return QByteArray(KestruneServer) + '/';
}

QByteArray UpdateRequestUrl(const QByteArray &Server)
{
    return Server + "/update.php?myversion=" + VersionText(false);
}

quint32 MakeVersionNumber(quint32 Major, quint32 Minor, quint32 Release, quint32 Build)
{
    return ((Major & 0xFF) << 24) | ((Minor & 0xFF) << 16) | ((Release & 0xFF) << 8) | (Build & 0xFF);
}

quint32 OwnVersionNumber()
{
    return MakeVersionNumber(KESTRUNE_VERSION_MAJOR, KESTRUNE_VERSION_MINOR, KESTRUNE_VERSION_RELEASE,
                             KESTRUNE_VERSION_BUILD);
}

QByteArray VersionText(bool Short)
{
    QByteArrayList Parts{QByteArray::number(KESTRUNE_VERSION_MAJOR),
                         QByteArray::number(KESTRUNE_VERSION_MINOR)};
    if (!Short)
        Parts << QByteArray::number(KESTRUNE_VERSION_RELEASE) << QByteArray::number(KESTRUNE_VERSION_BUILD);
    return Parts.join('.');
}

namespace {

// A 32-bit whole number in decimal with an optional sign, else 0.
quint32 VersionPart(const QByteArray &Text)
{
    qsizetype I = 0;
    if (I < Text.size() && (Text.at(I) == '-' || Text.at(I) == '+'))
        ++I;
    if (I == Text.size())
        return 0;
    for (qsizetype J = I; J < Text.size(); ++J) {
        if (Text.at(J) < '0' || Text.at(J) > '9')
            return 0;
    }
    bool Ok = false;
    const int Value = Text.toInt(&Ok);
    return Ok ? quint32(Value) & 0xFF : 0;
}

} // namespace

quint32 ParseVersionNumber(const QByteArray &Text)
{
    quint32 Parts[3] = {};
    QByteArray Rest = Text;
    for (quint32 &Part : Parts) {
        const qsizetype Dot = Rest.indexOf('.');
        if (Dot < 0)
            return 0;
        Part = VersionPart(Rest.left(Dot));
        Rest.remove(0, Dot + 1);
    }
    if (Rest.isEmpty())
        return 0;
    return MakeVersionNumber(Parts[0], Parts[1], Parts[2], VersionPart(Rest));
}

TUpdateReply ParseUpdateReply(const QByteArray &Reply)
{
    TUpdateReply Result;
    bool HaveVersion = false;
    bool HaveUrl = false;
    qsizetype Start = 0;
    while (Start <= Reply.size() && !(HaveVersion && HaveUrl)) {
        qsizetype End = Start;
        while (End < Reply.size() && Reply.at(End) != '\r' && Reply.at(End) != '\n')
            ++End;
        const QByteArray Line = Reply.mid(Start, End - Start);
        const qsizetype Equals = Line.indexOf('=');
        if (Equals >= 0) {
            const QByteArray Name = Line.left(Equals).toUpper();
            if (Name == "VERSION" && !HaveVersion) {
                Result.Version = Line.mid(Equals + 1);
                HaveVersion = true;
            } else if (Name == "URL" && !HaveUrl) {
                Result.URL = Line.mid(Equals + 1);
                HaveUrl = true;
            }
        }
        if (End < Reply.size() && Reply.at(End) == '\r' && End + 1 < Reply.size() &&
            Reply.at(End + 1) == '\n')
            ++End;
        Start = End + 1;
    }
    return Result;
}

std::optional<QByteArray> NewVersionPage(const QByteArray &Reply, quint32 Own)
{
    const TUpdateReply Values = ParseUpdateReply(Reply);
    if (Values.Version.isEmpty() || Values.URL.isEmpty())
        return std::nullopt;
    if (Own < ParseVersionNumber(Values.Version))
        return Values.URL;
    return std::nullopt;
}
