#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QPointer>
#include <QString>

#include <memory>
#include <vector>

// Texts of the model are byte strings (UTF-8 here) kept exactly as entered and stored byte for byte.

struct TWindowRect
{
    qint32 Left = 0;
    qint32 Top = 0;
    qint32 Right = 0;
    qint32 Bottom = 0;

    friend bool operator==(const TWindowRect &, const TWindowRect &) = default;
};

class TKestrunSite
{
public:
    TKestrunSite() = default;
    TKestrunSite(const TKestrunSite &) = delete;
    TKestrunSite &operator=(const TKestrunSite &) = delete;

    quint8 MinimizeToTaskbar() const { return FMinimizeToTaskbar; }
    quint8 MonitorChanges() const { return FMonitorChanges; }
    const QByteArray &Title() const { return FTitle; }
    const QByteArray &Password() const { return FPassword; }
    quint8 BrowserChoice() const { return FBrowserChoice; }
    const QByteArray &UserName() const { return FUserName; }
    const QByteArray &URL() const { return FURL; }
    const QByteArray &IconName() const { return FIconName; }
    quint8 IsOpen() const { return FIsOpen; }
    const TWindowRect &WindowRect() const { return FWindowRect; }
    quint8 WindowState() const { return FWindowState; }
    quint8 MonitorInterval() const { return FMonitorInterval; }
    // The site's entry in the tray menu; the site does not own it.
    QObject *MenuItem() const { return FMenuItem; }

    void SetMinimizeToTaskbar(quint8 Value) { FMinimizeToTaskbar = Value; }
    void SetMonitorChanges(quint8 Value) { FMonitorChanges = Value; }
    void SetTitle(const QByteArray &Value) { FTitle = Value; }
    void SetPassword(const QByteArray &Value) { FPassword = Value; }
    void SetBrowserChoice(quint8 Value) { FBrowserChoice = Value; }
    void SetUserName(const QByteArray &Value) { FUserName = Value; }
    void SetURL(const QByteArray &Value) { FURL = Value; }
    void SetIconName(const QByteArray &Value) { FIconName = Value; }
    void SetIsOpen(quint8 Value) { FIsOpen = Value; }
    void SetWindowRect(const TWindowRect &Value) { FWindowRect = Value; }
    void SetWindowState(quint8 Value);
    void SetMonitorInterval(quint8 Value) { FMonitorInterval = Value; }
    void SetMenuItem(QObject *Value) { FMenuItem = Value; }

    // Copies what the site dialog edits; placement, open flag and tray entry stay.
    void Assign(const TKestrunSite &Source);

    // One record of the collection file. ReadFromStream returns false when the stream ends
    // inside the record; the fields read so far are then not to be trusted.
    bool ReadFromStream(QIODevice &Stream);
    bool WriteToStream(QIODevice &Stream) const;

    // Equal in every stored field (IsOpen and MenuItem are not stored).
    bool SameStoredFields(const TKestrunSite &Other) const;

private:
    quint8 FMinimizeToTaskbar = 1;
    quint8 FMonitorChanges = 0;
    QByteArray FTitle;
    QByteArray FPassword;
    quint8 FBrowserChoice = 1;
    QByteArray FUserName;
    QByteArray FURL = QByteArrayLiteral("http://");
    QByteArray FIconName = QByteArrayLiteral("web");
    quint8 FIsOpen = 0;
    TWindowRect FWindowRect;
    quint8 FWindowState = 2;
    quint8 FMonitorInterval = 0;
    QPointer<QObject> FMenuItem;
};

class TKestrunCollection
{
public:
    TKestrunCollection() = default;
    TKestrunCollection(const TKestrunCollection &) = delete;
    TKestrunCollection &operator=(const TKestrunCollection &) = delete;

    int Count() const { return int(FItems.size()); }
    TKestrunSite *Item(int Index) const;
    TKestrunSite *operator[](int Index) const { return Item(Index); }
    int IndexOf(const TKestrunSite *Site) const;

    // Takes ownership of Site and returns its index.
    int Add(std::unique_ptr<TKestrunSite> Site);
    // Frees the site at Index. Throws std::out_of_range("Index out of range.") and changes
    // nothing when Index is not a valid index.
    void Delete(int Index);
    // Moves the site at From to To, the sites between shifting by one. Throws
    // std::out_of_range("Index out of range.") and changes nothing when either is not a valid index.
    void Move(int From, int To);
    void Clear() { FItems.clear(); }

    enum class TLoadResult
    {
        Loaded,    // the header matched; every record was whole
        BadHeader, // shorter than the header or a different header: nothing was read
        Truncated, // the file ends inside a record: the whole sites before it were read
        // the count says none (0 or negative), yet bytes follow it: loaded as empty, the bytes unread
        UnreadData,
    };
    TLoadResult LoadFromStream(QIODevice &Stream);
    bool SaveToStream(QIODevice &Stream) const;

private:
    std::vector<std::unique_ptr<TKestrunSite>> FItems;
};

// The header that begins every collection file.
inline constexpr char KestrunCollectionHeader[] = "Kestrune. Site collection file.";
inline constexpr int KestrunCollectionHeaderSize = 31;
inline const QString SitesFileName = QStringLiteral("sites.dat");

// Every byte b becomes 255 - b. Applying it twice gives back the text.
QByteArray ComplementString(const QByteArray &Value);

// What LoadSites found. Error holds the message for the user when the file could not be opened.
struct TLoadSitesResult
{
    enum TStatus
    {
        NoFile,
        Loaded,
        CannotOpen,
        BadHeader,
        Truncated,
        UnreadData
    } Status = NoFile;
    QString Error;
    // An existing file whose content was not (or not all) read: keep it before the next save.
    bool Unusable() const
    {
        return Status == CannotOpen || Status == BadHeader || Status == Truncated || Status == UnreadData;
    }
};

// Folder is the data folder, with or without a trailing '/'.
TLoadSitesResult LoadSites(const QString &Folder, TKestrunCollection &Sites);
// Replaces Folder/sites.dat atomically, readable and writable by the owner only. On failure
// returns false with "Cannot create file "<path>". <reason>" in Error; the old file stays.
bool SaveSites(const QString &Folder, const TKestrunCollection &Sites, QString *Error = nullptr);
// Moves an unusable sites.dat aside under a name that does not exist yet; returns the new path
// or an empty string when it could not be moved.
QString KeepUnusableSitesFile(const QString &Folder);
// Moves the file at Path to "<Path>.unreadable" (or "-N" behind it when taken); the new path, or
// an empty string when it could not be moved.
QString KeepFileAside(const QString &Path);

// Link parameter: the hex text a shortcut carries.
QByteArray ByteToHex(quint8 Value);
QByteArray BytesToHex(const char *Data, qsizetype Count);

struct TLinkParameter
{
    bool OpenMinimized = false;
    QByteArray Title;
    QByteArray URL;
};

QByteArray EncodeLinkParameter(const TKestrunSite &Site, bool OpenMinimized);
// Fails (with empty title and URL) when the magic is missing or the record ends inside the title
// or the URL.
bool DecodeLinkParameter(const QByteArray &Text, TLinkParameter &Result);
// Whether a link's URL is the site's URL as a link made today would carry it. A link holds a URL's
// length modulo 256, so a URL of 256 bytes or more travels cut short: only that part can be compared.
bool LinkCarriesURL(const QByteArray &Carried, const QByteArray &SiteURL);
