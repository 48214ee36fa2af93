#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// What the change monitor compares for a site, and the site's other settings beyond what sites.dat
// holds (its page zoom): sites.dat keeps its exact format, so these settings live in a file of their
// own beside it, "sites-watch.json".

enum class TCompareMode
{
    Source,      // the page's source, as the monitor has always compared it
    VisibleText, // the text a reader sees: the main document and its same-origin frames
};

// One change the monitor saw: the visible text before and after it.
struct TChangeRecord
{
    QDateTime When;
    QString Before;
    QString After;

    friend bool operator==(const TChangeRecord &, const TChangeRecord &) = default;
};

// The last changes kept per site, and the most kept of each text (characters; the rest is cut).
inline constexpr qsizetype MaxChangeRecords = 5;
inline constexpr qsizetype MaxChangeText = 16 * 1024;

// The zoom steps a site's page goes through, as browsers offer them; 1 is the page's own size.
inline constexpr double ZoomSteps[] = {0.25, 0.33, 0.5,  0.67, 0.75, 0.8, 0.9, 1.0, 1.1,
                                       1.25, 1.5,  1.75, 2.0,  2.5,  3.0, 4.0, 5.0};
inline constexpr double MinZoom = 0.25;
inline constexpr double MaxZoom = 5.0;
// The step after (Direction > 0) or before (< 0) Zoom; Zoom itself at either end. A zoom between
// steps goes to the nearest step in that direction.
double NextZoomStep(double Zoom, int Direction);

struct TSiteWatch
{
    TCompareMode Compare = TCompareMode::Source;
    // A CSS selector: only the text of the first element it finds counts (visible text only).
    QString Selector;
    // When the monitor last saw the site change; not valid before the first change.
    QDateTime LastChanged;
    // The last changes, oldest first.
    QList<TChangeRecord> History;
    // The page's zoom in the site's window, from MinZoom to MaxZoom.
    double Zoom = 1.0;

    bool IsDefault() const
    {
        return Compare == TCompareMode::Source && Selector.isEmpty() && !LastChanged.isValid() &&
               History.isEmpty() && Zoom == 1.0;
    }
    // Notes a change seen at When: the texts cut to MaxChangeText, the oldest record dropped beyond
    // MaxChangeRecords.
    void NoteChange(const QDateTime &When, const QString &Before, const QString &After);
    friend bool operator==(const TSiteWatch &, const TSiteWatch &) = default;
};

// One entry of the file: the site it belongs to, named by its title and URL as stored in sites.dat.
struct TSiteWatchEntry
{
    QByteArray Title;
    QByteArray URL;
    TSiteWatch Watch;

    friend bool operator==(const TSiteWatchEntry &, const TSiteWatchEntry &) = default;
};

inline const QString SiteWatchFileName = QStringLiteral("sites-watch.json");
// A bigger file is not ours (a site keeps at most 5 changes of two texts of 16 Ki characters).
inline constexpr qsizetype MaxSiteWatchFileSize = 64 * 1024 * 1024;
inline constexpr qsizetype MaxSelectorLength = 1024;

// The file's entries in order. Entries that are not well formed are left out; a file that is not
// this file at all (not JSON, another shape, too big) gives no entries and Damaged true.
QList<TSiteWatchEntry> ParseSiteWatchFile(const QByteArray &Data, bool *Damaged = nullptr);
// Only the entries whose settings are not all defaults are written.
QByteArray SiteWatchFileData(const QList<TSiteWatchEntry> &Entries);

// The settings of each site (Titles and URLs in list order): an entry at the same position with the
// same title and URL first, else the first entry not yet taken with the same title and URL, else
// the defaults. So entries follow their sites when sites move or are removed, and two sites of the
// same title and URL keep their own settings by their order.
QList<TSiteWatch> MatchSiteWatches(const QList<std::pair<QByteArray, QByteArray>> &Sites,
                                   const QList<TSiteWatchEntry> &Entries);

// Folder/sites-watch.json read (missing: no entries) and written atomically, private to the user.
QList<TSiteWatchEntry> LoadSiteWatches(const QString &Folder, bool *Damaged = nullptr);
bool SaveSiteWatches(const QString &Folder, const QList<TSiteWatchEntry> &Entries);
