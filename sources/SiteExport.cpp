#include "SiteExport.h"

#include "images/IconFile.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cmath>
#include <limits>

namespace {

const QString TitleKey = QStringLiteral("title");
const QString URLKey = QStringLiteral("url");
const QString Base64Suffix = QStringLiteral("Base64");
const QString IconKey = QStringLiteral("icon");
const QString IconDataKey = QStringLiteral("iconData");
const QString BrowserChoiceKey = QStringLiteral("browserChoice");
const QString MinimizeToTaskbarKey = QStringLiteral("minimizeToTaskbar");
const QString WindowStateKey = QStringLiteral("windowState");
const QString WindowRectKey = QStringLiteral("windowRect");
const QString MonitorChangesKey = QStringLiteral("monitorChanges");
const QString MonitorIntervalKey = QStringLiteral("monitorInterval");
const QString CompareKey = QStringLiteral("compare");
const QString SelectorKey = QStringLiteral("selector");
const QString ZoomKey = QStringLiteral("zoom");

const QString CompareSource = QStringLiteral("source");
const QString CompareText = QStringLiteral("text");

// Titles and URLs are bytes as sites.dat holds them: text goes as text, anything else as base64 so
// that it comes back exactly.
void PutBytes(QJsonObject &Object, const QString &Key, const QByteArray &Value)
{
    const QString Text = QString::fromUtf8(Value);
    if (Text.toUtf8() == Value)
        Object.insert(Key, Text);
    else
        Object.insert(Key + Base64Suffix, QString::fromLatin1(Value.toBase64()));
}

bool HasControlCharacter(const QByteArray &Value)
{
    for (const char C : Value) {
        if (quint8(C) < 0x20 || quint8(C) == 0x7F)
            return true;
    }
    return false;
}

// The reader of one site record; each Read... returns an empty text or what is wrong.
class TSiteReader
{
public:
    TSiteReader(const QJsonObject &Object, const TIconCheck &IconIsImage)
        : FObject(Object), FIconIsImage(IconIsImage)
    {}

    QString Read(TExportedSite &Site) const
    {
        QString Fault = ReadText(TitleKey, QStringLiteral("title"), MaxExportedTitle, Site.Title);
        if (Fault.isEmpty())
            Fault = ReadText(URLKey, QStringLiteral("URL"), MaxExportedURL, Site.URL);
        if (Fault.isEmpty())
            Fault = ReadIcon(Site);
        const std::pair<const QString *, quint8 *> Bytes[] = {
            {&BrowserChoiceKey, &Site.BrowserChoice},     {&MinimizeToTaskbarKey, &Site.MinimizeToTaskbar},
            {&WindowStateKey, &Site.WindowState},         {&MonitorChangesKey, &Site.MonitorChanges},
            {&MonitorIntervalKey, &Site.MonitorInterval},
        };
        for (const auto &[Key, Target] : Bytes) {
            if (Fault.isEmpty())
                Fault = ReadByte(*Key, *Target);
        }
        if (Fault.isEmpty())
            Fault = ReadRect(Site.WindowRect);
        if (Fault.isEmpty())
            Fault = ReadWatch(Site);
        if (Fault.isEmpty())
            Fault = ReadZoom(Site.Zoom);
        return Fault;
    }

private:
    QString ReadText(const QString &Key, const QString &What, qsizetype Limit, QByteArray &Out) const
    {
        const QJsonValue Text = FObject.value(Key);
        const QJsonValue Encoded = FObject.value(Key + Base64Suffix);
        if (Text.isUndefined() == Encoded.isUndefined())
            return Text.isUndefined() ? QStringLiteral("it has no %1.").arg(What)
                                      : QStringLiteral("it has two %1s.").arg(What);
        if (!Text.isUndefined()) {
            if (!Text.isString())
                return QStringLiteral("the %1 is not a text.").arg(What);
            Out = Text.toString().toUtf8();
        } else {
            const auto Decoded = Encoded.isString()
                                     ? QByteArray::fromBase64Encoding(Encoded.toString().toLatin1(),
                                                                      QByteArray::AbortOnBase64DecodingErrors)
                                     : QByteArray::FromBase64Result{};
            if (!Encoded.isString() || !Decoded)
                return QStringLiteral("the %1 is not valid base64.").arg(What);
            Out = *Decoded;
        }
        // What the site dialog would refuse, or could not have given: empty, endless, or with line
        // breaks and other control characters that would break its row, menus and shortcuts.
        if (Out.isEmpty())
            return QStringLiteral("the %1 is empty.").arg(What);
        if (Out.size() > Limit)
            return QStringLiteral("the %1 is longer than %2 bytes.").arg(What).arg(Limit);
        if (HasControlCharacter(Out))
            return QStringLiteral("the %1 contains a line break or another control character.").arg(What);
        return {};
    }

    QString ReadIcon(TExportedSite &Site) const
    {
        const QJsonValue Name = FObject.value(IconKey);
        const QJsonValue Data = FObject.value(IconDataKey);
        if (!Name.isUndefined()) {
            if (!Name.isString())
                return QStringLiteral("the icon name is not a text.");
            Site.IconName = Name.toString().toUtf8();
        }
        // The name becomes a file name of the icon folder: never a way into another folder.
        if (Site.IconName.size() > MaxExportedIconName)
            return QStringLiteral("the icon name is longer than %1 bytes.").arg(MaxExportedIconName);
        if (HasControlCharacter(Site.IconName) || Site.IconName.contains('/') || Site.IconName == "." ||
            Site.IconName == "..")
            return QStringLiteral("the icon name is not a file name.");
        if (Data.isUndefined())
            return {};
        if (Name.isUndefined() || Site.IconName.isEmpty())
            return QStringLiteral("its icon has no name.");
        if (!Data.isString())
            return QStringLiteral("the icon data is not valid base64.");
        // Base64 of the largest icon and a little: a longer text is not decoded at all.
        if (Data.toString().size() > (MaxExportedIcon + 2) / 3 * 4 + 4)
            return QStringLiteral("the icon is larger than %1 bytes.").arg(MaxExportedIcon);
        const auto Decoded = QByteArray::fromBase64Encoding(Data.toString().toLatin1(),
                                                            QByteArray::AbortOnBase64DecodingErrors);
        if (!Decoded)
            return QStringLiteral("the icon data is not valid base64.");
        if (Decoded.decoded.size() > MaxExportedIcon)
            return QStringLiteral("the icon is larger than %1 bytes.").arg(MaxExportedIcon);
        const bool Image = FIconIsImage ? FIconIsImage(*Decoded) : IsWellFormedIconFile(*Decoded);
        if (Decoded.decoded.isEmpty() || !Image)
            return QStringLiteral("the icon data is not an icon.");
        Site.IconData = *Decoded;
        return {};
    }

    // A whole number between Low and High, or NaN for anything else.
    static double WholeNumber(const QJsonValue &Value, double Low, double High)
    {
        const double Number = Value.isDouble() ? Value.toDouble() : std::nan("");
        return Number >= Low && Number <= High && std::floor(Number) == Number ? Number : std::nan("");
    }

    QString ReadByte(const QString &Key, quint8 &Out) const
    {
        const QJsonValue Value = FObject.value(Key);
        if (Value.isUndefined())
            return {};
        const double Number = WholeNumber(Value, 0, 255);
        if (std::isnan(Number))
            return QStringLiteral("\"%1\" is not a whole number from 0 to 255.").arg(Key);
        Out = quint8(Number);
        return {};
    }

    QString ReadRect(TWindowRect &Out) const
    {
        const QJsonValue Value = FObject.value(WindowRectKey);
        if (Value.isUndefined())
            return {};
        const QJsonArray Sides = Value.toArray();
        double Numbers[4] = {};
        bool Good = Value.isArray() && Sides.size() == 4;
        for (qsizetype I = 0; Good && I < 4; ++I) {
            Numbers[I] =
                WholeNumber(Sides[I], std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
            Good = !std::isnan(Numbers[I]);
        }
        if (!Good)
            return QStringLiteral("\"%1\" is not four whole numbers.").arg(WindowRectKey);
        Out.Left = qint32(Numbers[0]);
        Out.Top = qint32(Numbers[1]);
        Out.Right = qint32(Numbers[2]);
        Out.Bottom = qint32(Numbers[3]);
        return {};
    }

    QString ReadWatch(TExportedSite &Site) const
    {
        const QJsonValue Compare = FObject.value(CompareKey);
        if (!Compare.isUndefined()) {
            if (Compare == QJsonValue(CompareText))
                Site.Compare = TCompareMode::VisibleText;
            else if (Compare == QJsonValue(CompareSource))
                Site.Compare = TCompareMode::Source;
            else
                return QStringLiteral("\"%1\" is neither \"%2\" nor \"%3\".")
                    .arg(CompareKey, CompareSource, CompareText);
        }
        const QJsonValue Selector = FObject.value(SelectorKey);
        if (Selector.isUndefined())
            return {};
        if (!Selector.isString())
            return QStringLiteral("the selector is not a text.");
        Site.Selector = Selector.toString();
        if (Site.Selector.size() > MaxSelectorLength)
            return QStringLiteral("the selector is longer than %1 characters.").arg(MaxSelectorLength);
        if (HasControlCharacter(Site.Selector.toUtf8()))
            return QStringLiteral("the selector contains a line break or another control character.");
        return {};
    }

    QString ReadZoom(double &Out) const
    {
        const QJsonValue Zoom = FObject.value(ZoomKey);
        if (Zoom.isUndefined())
            return {};
        if (!Zoom.isDouble() || !(Zoom.toDouble() >= MinZoom && Zoom.toDouble() <= MaxZoom))
            return QStringLiteral("the zoom is not a number from %1 to %2.").arg(MinZoom).arg(MaxZoom);
        Out = Zoom.toDouble();
        return {};
    }

    const QJsonObject &FObject;
    const TIconCheck &FIconIsImage;
};

bool SameText(const QString &A, const QString &B)
{
    return A.compare(B, Qt::CaseInsensitive) == 0;
}

// Name followed by Suffix, the name cut (never inside a character) so that the file name fits.
QString FittedName(QString Name, const QString &Suffix)
{
    while (!Name.isEmpty() && (Name + Suffix).toUtf8().size() > MaxExportedIconName)
        Name.chop(Name.size() >= 2 && Name.back().isLowSurrogate() ? 2 : 1);
    return Name + Suffix;
}

QByteArray ReadIconFile(const QString &Path)
{
    QFile File(Path);
    if (!File.open(QIODevice::ReadOnly) || File.size() > MaxExportedIcon)
        return {};
    return File.read(MaxExportedIcon + 1);
}

const QString IconExtension = QStringLiteral(".ico");

} // namespace

TExportedSite ExportedSiteOf(const TKestrunSite &Site, const TSiteWatch &Watch, const QByteArray &IconData)
{
    TExportedSite Exported;
    Exported.Title = Site.Title();
    Exported.URL = Site.URL();
    Exported.IconName = Site.IconName();
    Exported.IconData = IconData;
    Exported.BrowserChoice = Site.BrowserChoice();
    Exported.MinimizeToTaskbar = Site.MinimizeToTaskbar();
    Exported.WindowState = Site.WindowState();
    Exported.WindowRect = Site.WindowRect();
    Exported.MonitorChanges = Site.MonitorChanges();
    Exported.MonitorInterval = Site.MonitorInterval();
    Exported.Compare = Watch.Compare;
    Exported.Selector = Watch.Selector;
    Exported.Zoom = Watch.Zoom;
    return Exported;
}

void ApplyExportedSite(const TExportedSite &Exported, TKestrunSite &Site)
{
    Site.SetTitle(Exported.Title);
    Site.SetURL(Exported.URL);
    Site.SetIconName(Exported.IconName);
    Site.SetBrowserChoice(Exported.BrowserChoice);
    Site.SetMinimizeToTaskbar(Exported.MinimizeToTaskbar);
    Site.SetWindowState(Exported.WindowState);
    Site.SetWindowRect(Exported.WindowRect);
    Site.SetMonitorChanges(Exported.MonitorChanges);
    Site.SetMonitorInterval(Exported.MonitorInterval);
}

TSiteWatch ExportedWatch(const TExportedSite &Exported)
{
    TSiteWatch Watch;
    Watch.Compare = Exported.Compare;
    // As the site dialog keeps it: a selector counts for the visible text only.
    if (Exported.Compare == TCompareMode::VisibleText)
        Watch.Selector = Exported.Selector;
    Watch.Zoom = Exported.Zoom;
    return Watch;
}

QByteArray SiteExportData(const QList<TExportedSite> &Sites)
{
    QJsonArray List;
    for (const TExportedSite &Site : Sites) {
        QJsonObject Object;
        PutBytes(Object, TitleKey, Site.Title);
        PutBytes(Object, URLKey, Site.URL);
        Object.insert(IconKey, QString::fromUtf8(Site.IconName));
        if (!Site.IconData.isEmpty())
            Object.insert(IconDataKey, QString::fromLatin1(Site.IconData.toBase64()));
        Object.insert(BrowserChoiceKey, int(Site.BrowserChoice));
        Object.insert(MinimizeToTaskbarKey, int(Site.MinimizeToTaskbar));
        Object.insert(WindowStateKey, int(Site.WindowState));
        Object.insert(WindowRectKey, QJsonArray{Site.WindowRect.Left, Site.WindowRect.Top,
                                                Site.WindowRect.Right, Site.WindowRect.Bottom});
        Object.insert(MonitorChangesKey, int(Site.MonitorChanges));
        Object.insert(MonitorIntervalKey, int(Site.MonitorInterval));
        Object.insert(CompareKey, Site.Compare == TCompareMode::VisibleText ? CompareText : CompareSource);
        Object.insert(SelectorKey, Site.Selector);
        Object.insert(ZoomKey, Site.Zoom);
        List.append(Object);
    }
    const QJsonObject Root{{QStringLiteral("format"), SiteExportFormat},
                           {QStringLiteral("version"), SiteExportVersion},
                           {QStringLiteral("sites"), List}};
    return QJsonDocument(Root).toJson(QJsonDocument::Indented);
}

bool ParseSiteExport(const QByteArray &Data, QList<TExportedSite> &Sites, QString &Error,
                     const TIconCheck &IconIsImage)
{
    Sites.clear();
    Error.clear();
    const QString NotOurs = QStringLiteral("The file is not a Kestrune site list.");
    if (Data.size() > MaxSiteExportFileSize) {
        Error = QStringLiteral("The file is too big for a Kestrune site list (more than %1 MiB).")
                    .arg(MaxSiteExportFileSize / (1024 * 1024));
        return false;
    }
    QJsonParseError Parse;
    const QJsonDocument Document = QJsonDocument::fromJson(Data, &Parse);
    if (Parse.error != QJsonParseError::NoError) {
        Error = NotOurs +
                QStringLiteral(" It is not JSON: %1 at byte %2.").arg(Parse.errorString()).arg(Parse.offset);
        return false;
    }
    const QJsonObject Root = Document.object();
    if (!Document.isObject() || Root.value(QStringLiteral("format")) != QJsonValue(SiteExportFormat)) {
        Error = NotOurs;
        return false;
    }
    const QJsonValue Version = Root.value(QStringLiteral("version"));
    if (!Version.isDouble() || Version.toDouble() != SiteExportVersion) {
        Error = QStringLiteral(
                    "The site list is of a version (%1) this Kestrune does not read; it reads version %2.")
                    .arg(Version.isDouble() ? QString::number(Version.toDouble()) : QStringLiteral("unknown"))
                    .arg(SiteExportVersion);
        return false;
    }
    const QJsonValue List = Root.value(QStringLiteral("sites"));
    if (!List.isArray()) {
        Error = NotOurs + QStringLiteral(" It holds no list of sites.");
        return false;
    }
    const QJsonArray Array = List.toArray();
    if (Array.size() > MaxExportedSites) {
        Error = QStringLiteral("The file lists %1 sites; at most %2 are imported at once.")
                    .arg(Array.size())
                    .arg(MaxExportedSites);
        return false;
    }
    QList<TExportedSite> Read;
    Read.reserve(Array.size());
    for (qsizetype I = 0; I < Array.size(); ++I) {
        const QJsonValue Value = Array[I];
        TExportedSite Site;
        const QJsonObject Object = Value.toObject();
        const QString Fault = Value.isObject() ? TSiteReader(Object, IconIsImage).Read(Site)
                                               : QStringLiteral("it is no site record.");
        if (!Fault.isEmpty()) {
            Error = QStringLiteral("Site %1 of the file: %2").arg(I + 1).arg(Fault);
            return false;
        }
        Read.append(Site);
    }
    Sites = Read;
    return true;
}

TSiteImportPlan PlanSiteImport(const QList<std::pair<QByteArray, QByteArray>> &Existing,
                               const QList<TExportedSite> &Imported, const QString &IconFolder,
                               const QStringList &KnownIconNames)
{
    TSiteImportPlan Plan;
    QSet<std::pair<QByteArray, QByteArray>> Listed(Existing.cbegin(), Existing.cend());
    const QDir Folder(IconFolder);
    const QStringList Files =
        Folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    // File names (lower case) that an icon may not take.
    QSet<QString> Taken;
    for (const QString &File : Files)
        Taken.insert(File.toLower());
    for (const QString &Name : KnownIconNames)
        Taken.insert((Name + IconExtension).toLower());
    // The name asked for and the bytes of every icon placed so far, and where it went.
    QList<std::pair<QString, qsizetype>> Placed;

    const auto PlaceIcon = [&](const QString &Asked, const QByteArray &Data) -> QString {
        for (const auto &[Name, Index] : Placed) {
            if (SameText(Name, Asked) && Plan.Icons[Index].Data == Data)
                return Plan.Icons[Index].Name;
        }
        const QString FileName = Asked + IconExtension;
        QStringList Matches;
        for (const QString &File : Files) {
            if (SameText(File, FileName))
                Matches.append(File);
        }
        TImportedIcon Icon;
        Icon.Data = Data;
        if (Matches.size() == 1 && ReadIconFile(Folder.filePath(Matches[0])) == Data) {
            Icon.Name = Matches[0].chopped(IconExtension.size());
        } else {
            Icon.Name = Asked;
            for (int N = 2; Taken.contains((Icon.Name + IconExtension).toLower()); ++N)
                Icon.Name = FittedName(Asked, QStringLiteral(" (%1)").arg(N));
            Icon.NewFile = true;
            Taken.insert((Icon.Name + IconExtension).toLower());
        }
        Placed.append({Asked, Plan.Icons.size()});
        Plan.Icons.append(Icon);
        return Icon.Name;
    };

    for (const TExportedSite &Site : Imported) {
        const std::pair<QByteArray, QByteArray> Key{Site.Title, Site.URL};
        if (Listed.contains(Key)) {
            ++Plan.Existing;
            continue;
        }
        Listed.insert(Key);
        TExportedSite New = Site;
        if (!New.IconData.isEmpty())
            New.IconName = PlaceIcon(QString::fromUtf8(Site.IconName), Site.IconData).toUtf8();
        Plan.NewSites.append(New);
    }
    return Plan;
}

bool WriteImportedIcons(const QList<TImportedIcon> &Icons, const QString &IconFolder, QString &Error)
{
    Error.clear();
    if (!QDir().mkpath(IconFolder)) {
        Error = QStringLiteral("Can not create the icon folder \"%1\".")
                    .arg(QDir::toNativeSeparators(IconFolder));
        return false;
    }
    QStringList Written;
    for (const TImportedIcon &Icon : Icons) {
        if (!Icon.NewFile)
            continue;
        const QString Path = QDir(IconFolder).filePath(Icon.Name + IconExtension);
        QFile File(Path);
        // NewOnly: a file that appeared meanwhile is the user's, and is never written over.
        const bool Opened = File.open(QIODevice::WriteOnly | QIODevice::NewOnly);
        const bool Saved = Opened && File.write(Icon.Data) == Icon.Data.size() && File.flush();
        if (!Saved) {
            Error = QStringLiteral("Can not save icon to file \"%1\". %2")
                        .arg(QDir::toNativeSeparators(Path), File.errorString());
            File.close();
            if (Opened)
                File.remove();
            for (const QString &Done : std::as_const(Written))
                QFile::remove(Done);
            return false;
        }
        File.close();
        Written.append(Path);
    }
    return true;
}
