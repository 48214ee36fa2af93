#include "SiteWatch.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <iterator>

namespace {

// Titles and URLs are bytes as sites.dat holds them, not always UTF-8: kept exactly.
QString Bytes(const QByteArray &Value)
{
    return QString::fromLatin1(Value.toBase64());
}

bool FromBytes(const QJsonValue &Value, QByteArray &Out)
{
    if (!Value.isString())
        return false;
    const auto Decoded =
        QByteArray::fromBase64Encoding(Value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!Decoded)
        return false;
    Out = *Decoded;
    return true;
}

} // namespace

double NextZoomStep(double Zoom, int Direction)
{
    // A little slack: a zoom read back from the engine is not always the step it was set to.
    constexpr double Slack = 0.001;
    if (Direction > 0) {
        for (const double Step : ZoomSteps)
            if (Step > Zoom + Slack)
                return Step;
        return std::max(std::min(Zoom, MaxZoom), MinZoom);
    }
    if (Direction < 0) {
        for (auto Step = std::rbegin(ZoomSteps); Step != std::rend(ZoomSteps); ++Step)
            if (*Step < Zoom - Slack)
                return *Step;
        return std::max(std::min(Zoom, MaxZoom), MinZoom);
    }
    return Zoom;
}

void TSiteWatch::NoteChange(const QDateTime &When, const QString &Before, const QString &After)
{
    LastChanged = When;
    History.append({When, Before.left(MaxChangeText), After.left(MaxChangeText)});
    while (History.size() > MaxChangeRecords)
        History.removeFirst();
}

QList<TSiteWatchEntry> ParseSiteWatchFile(const QByteArray &Data, bool *Damaged)
{
    if (Damaged)
        *Damaged = false;
    QJsonParseError Error;
    const QJsonDocument Document =
        Data.size() <= MaxSiteWatchFileSize ? QJsonDocument::fromJson(Data, &Error) : QJsonDocument();
    const QJsonValue Sites =
        Document.isObject() ? Document.object().value(QStringLiteral("sites")) : QJsonValue();
    if (!Sites.isArray()) {
        if (Damaged)
            *Damaged = true;
        return {};
    }
    QList<TSiteWatchEntry> Entries;
    for (const QJsonValue &Value : Sites.toArray()) {
        const QJsonObject Object = Value.toObject();
        TSiteWatchEntry Entry;
        if (!FromBytes(Object.value(QStringLiteral("title")), Entry.Title) ||
            !FromBytes(Object.value(QStringLiteral("url")), Entry.URL))
            continue;
        const QString Compare = Object.value(QStringLiteral("compare")).toString();
        Entry.Watch.Compare =
            Compare == QLatin1String("text") ? TCompareMode::VisibleText : TCompareMode::Source;
        Entry.Watch.Selector = Object.value(QStringLiteral("selector")).toString().left(MaxSelectorLength);
        const QString Changed = Object.value(QStringLiteral("lastChanged")).toString();
        if (!Changed.isEmpty())
            Entry.Watch.LastChanged = QDateTime::fromString(Changed, Qt::ISODate);
        const QJsonArray Changes = Object.value(QStringLiteral("changes")).toArray();
        for (const QJsonValue &Change : Changes) {
            const QJsonObject Record = Change.toObject();
            const QDateTime When =
                QDateTime::fromString(Record.value(QStringLiteral("when")).toString(), Qt::ISODate);
            if (!When.isValid() || !Record.value(QStringLiteral("before")).isString() ||
                !Record.value(QStringLiteral("after")).isString())
                continue;
            Entry.Watch.History.append(
                {When, Record.value(QStringLiteral("before")).toString().left(MaxChangeText),
                 Record.value(QStringLiteral("after")).toString().left(MaxChangeText)});
        }
        while (Entry.Watch.History.size() > MaxChangeRecords)
            Entry.Watch.History.removeFirst();
        // Anything but a number in range leaves the page at its own size.
        const double Zoom = Object.value(QStringLiteral("zoom")).toDouble(1.0);
        if (Zoom >= MinZoom && Zoom <= MaxZoom)
            Entry.Watch.Zoom = Zoom;
        Entries.append(Entry);
    }
    return Entries;
}

QByteArray SiteWatchFileData(const QList<TSiteWatchEntry> &Entries)
{
    QJsonArray Sites;
    for (const TSiteWatchEntry &Entry : Entries) {
        if (Entry.Watch.IsDefault())
            continue;
        QJsonObject Object{{QStringLiteral("title"), Bytes(Entry.Title)},
                           {QStringLiteral("url"), Bytes(Entry.URL)}};
        Object.insert(QStringLiteral("compare"), Entry.Watch.Compare == TCompareMode::VisibleText
                                                     ? QStringLiteral("text")
                                                     : QStringLiteral("source"));
        if (!Entry.Watch.Selector.isEmpty())
            Object.insert(QStringLiteral("selector"), Entry.Watch.Selector);
        if (Entry.Watch.LastChanged.isValid())
            Object.insert(QStringLiteral("lastChanged"), Entry.Watch.LastChanged.toString(Qt::ISODate));
        QJsonArray Changes;
        for (const TChangeRecord &Record : Entry.Watch.History)
            Changes.append(QJsonObject{{QStringLiteral("when"), Record.When.toString(Qt::ISODate)},
                                       {QStringLiteral("before"), Record.Before},
                                       {QStringLiteral("after"), Record.After}});
        if (!Changes.isEmpty())
            Object.insert(QStringLiteral("changes"), Changes);
        if (Entry.Watch.Zoom != 1.0)
            Object.insert(QStringLiteral("zoom"), Entry.Watch.Zoom);
        Sites.append(Object);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("sites"), Sites}}).toJson();
}

QList<TSiteWatch> MatchSiteWatches(const QList<std::pair<QByteArray, QByteArray>> &Sites,
                                   const QList<TSiteWatchEntry> &Entries)
{
    QList<TSiteWatch> Result(Sites.size());
    QList<bool> Taken(Entries.size(), false);
    QList<bool> Done(Sites.size(), false);
    const auto Same = [&](qsizetype Site, qsizetype Entry) {
        return Entries[Entry].Title == Sites[Site].first && Entries[Entry].URL == Sites[Site].second;
    };
    for (qsizetype I = 0; I < Sites.size() && I < Entries.size(); ++I) {
        if (Same(I, I)) {
            Result[I] = Entries[I].Watch;
            Taken[I] = Done[I] = true;
        }
    }
    for (qsizetype I = 0; I < Sites.size(); ++I) {
        for (qsizetype E = 0; !Done[I] && E < Entries.size(); ++E) {
            if (!Taken[E] && Same(I, E)) {
                Result[I] = Entries[E].Watch;
                Taken[E] = Done[I] = true;
            }
        }
    }
    return Result;
}

QList<TSiteWatchEntry> LoadSiteWatches(const QString &Folder, bool *Damaged)
{
    if (Damaged)
        *Damaged = false;
    QFile File(QDir(Folder).filePath(SiteWatchFileName));
    if (!File.exists())
        return {};
    if (!File.open(QIODevice::ReadOnly) || File.size() > MaxSiteWatchFileSize) {
        if (Damaged)
            *Damaged = true;
        return {};
    }
    return ParseSiteWatchFile(File.read(MaxSiteWatchFileSize + 1), Damaged);
}

bool SaveSiteWatches(const QString &Folder, const QList<TSiteWatchEntry> &Entries)
{
    QSaveFile File(QDir(Folder).filePath(SiteWatchFileName));
    if (!File.open(QIODevice::WriteOnly))
        return false;
    File.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    File.write(SiteWatchFileData(Entries));
    return File.commit();
}
