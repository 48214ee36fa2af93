#include "KestruneClasses.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <stdexcept>

namespace {

// Strings are read in chunks, so that a length field larger than the file never allocates more
// than the file can deliver.
constexpr qint64 ReadChunk = 64 * 1024;

bool ReadExact(QIODevice &Stream, char *Data, qint64 Size)
{
    return Stream.read(Data, Size) == Size;
}

bool ReadInt32(QIODevice &Stream, qint32 &Value)
{
    char Bytes[4];
    if (!ReadExact(Stream, Bytes, 4))
        return false;
    Value = qFromLittleEndian<qint32>(Bytes);
    return true;
}

bool ReadByte(QIODevice &Stream, quint8 &Value)
{
    char Byte;
    if (!Stream.getChar(&Byte))
        return false;
    Value = quint8(Byte);
    return true;
}

bool ReadString(QIODevice &Stream, QByteArray &Value)
{
    qint32 Length = 0;
    if (!ReadInt32(Stream, Length))
        return false;
    Value.clear();
    // Zero or negative lengths read as empty.
    qint64 Left = Length;
    while (Left > 0) {
        const qint64 Want = qMin(Left, ReadChunk);
        const qsizetype Old = Value.size();
        Value.resize(Old + Want);
        const qint64 Got = Stream.read(Value.data() + Old, Want);
        if (Got != Want) {
            Value.resize(Old + qMax<qint64>(Got, 0));
            return false;
        }
        Left -= Want;
    }
    return true;
}

bool WriteInt32(QIODevice &Stream, qint32 Value)
{
    char Bytes[4];
    qToLittleEndian<qint32>(Value, Bytes);
    return Stream.write(Bytes, 4) == 4;
}

bool WriteByte(QIODevice &Stream, quint8 Value)
{
    return Stream.putChar(char(Value));
}

bool WriteString(QIODevice &Stream, const QByteArray &Value)
{
    if (Value.size() > std::numeric_limits<qint32>::max())
        return false;
    return WriteInt32(Stream, qint32(Value.size())) &&
           (Value.isEmpty() || Stream.write(Value) == Value.size());
}

QString NativePath(const QString &Path)
{
    return QDir::toNativeSeparators(Path);
}

QString SitesPath(const QString &Folder)
{
    return QDir(Folder).filePath(SitesFileName);
}

} // namespace

void TKestrunSite::SetWindowState(quint8 Value)
{
    // A window that was minimised when it closed reopens maximised.
    FWindowState = Value == 1 ? 2 : Value;
}

void TKestrunSite::Assign(const TKestrunSite &Source)
{
    FTitle = Source.FTitle;
    FURL = Source.FURL;
    FUserName = Source.FUserName;
    FPassword = Source.FPassword;
    FBrowserChoice = Source.FBrowserChoice;
    FMonitorChanges = Source.FMonitorChanges;
    FMinimizeToTaskbar = Source.FMinimizeToTaskbar;
    FIconName = Source.FIconName;
    FMonitorInterval = Source.FMonitorInterval;
}

bool TKestrunSite::ReadFromStream(QIODevice &Stream)
{
    QByteArray UserName, Password;
    if (!ReadString(Stream, FTitle) || !ReadString(Stream, FURL) || !ReadString(Stream, FIconName) ||
        !ReadString(Stream, UserName) || !ReadString(Stream, Password))
        return false;
    FUserName = ComplementString(UserName);
    FPassword = ComplementString(Password);

    char Rect[16];
    if (!ReadByte(Stream, FMonitorChanges) || !ReadByte(Stream, FMinimizeToTaskbar) ||
        !ReadByte(Stream, FBrowserChoice) || !ReadByte(Stream, FMonitorInterval) ||
        !ReadExact(Stream, Rect, sizeof Rect))
        return false;
    FWindowRect.Left = qFromLittleEndian<qint32>(Rect);
    FWindowRect.Top = qFromLittleEndian<qint32>(Rect + 4);
    FWindowRect.Right = qFromLittleEndian<qint32>(Rect + 8);
    FWindowRect.Bottom = qFromLittleEndian<qint32>(Rect + 12);
    // Stored as read: the file keeps whatever the setter would have mapped.
    return ReadByte(Stream, FWindowState);
}

bool TKestrunSite::WriteToStream(QIODevice &Stream) const
{
    return WriteString(Stream, FTitle) && WriteString(Stream, FURL) && WriteString(Stream, FIconName) &&
           WriteString(Stream, ComplementString(FUserName)) &&
           WriteString(Stream, ComplementString(FPassword)) && WriteByte(Stream, FMonitorChanges) &&
           WriteByte(Stream, FMinimizeToTaskbar) && WriteByte(Stream, FBrowserChoice) &&
           WriteByte(Stream, FMonitorInterval) && WriteInt32(Stream, FWindowRect.Left) &&
           WriteInt32(Stream, FWindowRect.Top) && WriteInt32(Stream, FWindowRect.Right) &&
           WriteInt32(Stream, FWindowRect.Bottom) && WriteByte(Stream, FWindowState);
}

bool TKestrunSite::SameStoredFields(const TKestrunSite &Other) const
{
    return FTitle == Other.FTitle && FURL == Other.FURL && FIconName == Other.FIconName &&
           FUserName == Other.FUserName && FPassword == Other.FPassword &&
           FMonitorChanges == Other.FMonitorChanges && FMinimizeToTaskbar == Other.FMinimizeToTaskbar &&
           FBrowserChoice == Other.FBrowserChoice && FMonitorInterval == Other.FMonitorInterval &&
           FWindowRect == Other.FWindowRect && FWindowState == Other.FWindowState;
}

TKestrunSite *TKestrunCollection::Item(int Index) const
{
    if (Index < 0 || Index >= Count())
        return nullptr;
    return FItems[size_t(Index)].get();
}

int TKestrunCollection::IndexOf(const TKestrunSite *Site) const
{
    for (int i = 0; i < Count(); ++i)
        if (FItems[size_t(i)].get() == Site)
            return i;
    return -1;
}

int TKestrunCollection::Add(std::unique_ptr<TKestrunSite> Site)
{
    FItems.push_back(std::move(Site));
    return Count() - 1;
}

void TKestrunCollection::Delete(int Index)
{
    if (Index < 0 || Index >= Count())
        throw std::out_of_range("Index out of range.");
    FItems.erase(FItems.begin() + Index);
}

void TKestrunCollection::Move(int From, int To)
{
    if (From < 0 || From >= Count() || To < 0 || To >= Count())
        throw std::out_of_range("Index out of range.");
    if (From < To)
        std::rotate(FItems.begin() + From, FItems.begin() + From + 1, FItems.begin() + To + 1);
    else
        std::rotate(FItems.begin() + To, FItems.begin() + From, FItems.begin() + From + 1);
}

TKestrunCollection::TLoadResult TKestrunCollection::LoadFromStream(QIODevice &Stream)
{
    Clear();
    char Header[KestrunCollectionHeaderSize];
    if (!ReadExact(Stream, Header, KestrunCollectionHeaderSize) ||
        memcmp(Header, KestrunCollectionHeader, KestrunCollectionHeaderSize) != 0)
        return TLoadResult::BadHeader;
    qint32 N = 0;
    if (!ReadInt32(Stream, N))
        return TLoadResult::Truncated;
    // Sites behind a count of none are not read; whoever saves next must not lose them unnoticed.
    if (N <= 0)
        return Stream.atEnd() ? TLoadResult::Loaded : TLoadResult::UnreadData;
    for (qint32 i = 0; i < N; ++i) {
        auto Site = std::make_unique<TKestrunSite>();
        if (!Site->ReadFromStream(Stream))
            return TLoadResult::Truncated;
        Add(std::move(Site));
    }
    return TLoadResult::Loaded;
}

bool TKestrunCollection::SaveToStream(QIODevice &Stream) const
{
    if (Stream.write(KestrunCollectionHeader, KestrunCollectionHeaderSize) != KestrunCollectionHeaderSize ||
        !WriteInt32(Stream, qint32(Count())))
        return false;
    for (const auto &Site : FItems)
        if (!Site->WriteToStream(Stream))
            return false;
    return true;
}

QByteArray ComplementString(const QByteArray &Value)
{
    QByteArray Result(Value.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < Value.size(); ++i)
        Result[i] = char(~quint8(Value[i]));
    return Result;
}

TLoadSitesResult LoadSites(const QString &Folder, TKestrunCollection &Sites)
{
    TLoadSitesResult Result;
    Sites.Clear();
    QFile File(SitesPath(Folder));
    if (!File.exists())
        return Result;
    if (!File.open(QIODevice::ReadOnly)) {
        Result.Status = TLoadSitesResult::CannotOpen;
        Result.Error = QStringLiteral("Cannot open file \"%1\". %2")
                           .arg(NativePath(File.fileName()), File.errorString());
        return Result;
    }
    switch (Sites.LoadFromStream(File)) {
    case TKestrunCollection::TLoadResult::Loaded:
        Result.Status = TLoadSitesResult::Loaded;
        break;
    case TKestrunCollection::TLoadResult::BadHeader:
        Result.Status = TLoadSitesResult::BadHeader;
        break;
    case TKestrunCollection::TLoadResult::Truncated:
        Result.Status = TLoadSitesResult::Truncated;
        break;
    case TKestrunCollection::TLoadResult::UnreadData:
        Result.Status = TLoadSitesResult::UnreadData;
        break;
    }
    return Result;
}

bool SaveSites(const QString &Folder, const TKestrunCollection &Sites, QString *Error)
{
    const QString Path = SitesPath(Folder);
    QSaveFile File(Path);
    QString Reason;
    if (!File.open(QIODevice::WriteOnly)) {
        Reason = File.errorString();
    } else {
        // The file holds user names and passwords: the owner alone reads it.
        File.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (!Sites.SaveToStream(File)) {
            Reason = File.errorString();
            File.cancelWriting();
        } else if (!File.commit()) {
            Reason = File.errorString();
        }
    }
    if (Reason.isNull())
        return true;
    if (Error)
        *Error = QStringLiteral("Cannot create file \"%1\". %2").arg(NativePath(Path), Reason);
    return false;
}

QString KeepUnusableSitesFile(const QString &Folder)
{
    return KeepFileAside(SitesPath(Folder));
}

QString KeepFileAside(const QString &Path)
{
    for (int i = 0; i < 1000; ++i) {
        const QString Target =
            i == 0 ? Path + QStringLiteral(".unreadable") : Path + QStringLiteral(".unreadable-%1").arg(i);
        if (QFileInfo::exists(Target))
            continue;
        return QFile::rename(Path, Target) ? Target : QString();
    }
    return QString();
}

QByteArray ByteToHex(quint8 Value)
{
    static const char Digits[] = "0123456789abcdef";
    const char Pair[2] = {Digits[Value >> 4], Digits[Value & 0x0F]};
    return QByteArray(Pair, 2);
}

QByteArray BytesToHex(const char *Data, qsizetype Count)
{
    QByteArray Result;
    Result.reserve(Count * 2);
    for (qsizetype i = 0; i < Count; ++i)
        Result.append(ByteToHex(quint8(Data[i])));
    return Result;
}

QByteArray EncodeLinkParameter(const TKestrunSite &Site, bool OpenMinimized)
{
    QByteArray Record("KRLP");
    Record.append(char(OpenMinimized ? 1 : 0));
    for (const QByteArray *Text : {&Site.Title(), &Site.URL()}) {
        // Lengths travel modulo 256: a 300-byte URL is carried as its first 44 bytes.
        const quint8 Length = quint8(Text->size() & 0xFF);
        Record.append(char(Length));
        Record.append(Text->constData(), Length);
    }
    Record.append('\0');
    return BytesToHex(Record.constData(), Record.size());
}

namespace {

int HexDigit(char C)
{
    if (C >= '0' && C <= '9')
        return C - '0';
    if (C >= 'a' && C <= 'f')
        return C - 'a' + 10;
    if (C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    return -1;
}

} // namespace

bool DecodeLinkParameter(const QByteArray &Text, TLinkParameter &Result)
{
    Result = TLinkParameter();
    const qsizetype N = Text.size() / 2;
    QByteArray Bytes(N, Qt::Uninitialized);
    for (qsizetype i = 0; i < N; ++i) {
        const int High = HexDigit(Text[2 * i]);
        const int Low = HexDigit(Text[2 * i + 1]);
        // A pair that is not a hex number gives 0; it is not an error.
        Bytes[i] = (High < 0 || Low < 0) ? '\0' : char(High * 16 + Low);
    }
    if (!Bytes.startsWith("KRLP"))
        return false;
    qsizetype Pos = 4;
    if (Pos >= Bytes.size())
        return false;
    const bool OpenMinimized = Bytes[Pos++] != 0;
    QByteArray Parts[2];
    for (QByteArray &Part : Parts) {
        // A record that ends inside the title or the URL is damaged: never read past its end.
        if (Pos >= Bytes.size())
            return false;
        const qsizetype Length = quint8(Bytes[Pos++]);
        if (Pos + Length > Bytes.size())
            return false;
        Part = Bytes.mid(Pos, Length);
        Pos += Length;
    }
    Result.OpenMinimized = OpenMinimized;
    Result.Title = Parts[0];
    Result.URL = Parts[1];
    return true;
}

bool LinkCarriesURL(const QByteArray &Carried, const QByteArray &SiteURL)
{
    if (SiteURL.size() < 256)
        return Carried == SiteURL;
    return Carried == SiteURL.left(SiteURL.size() % 256);
}
