#pragma once

#include "KestruneClasses.h"
#include "SiteWatch.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

// The site list as a JSON file the user keeps or takes to another machine: what each site is, how
// its window opens, what the monitor compares, and its icon as the icon file's bytes. User names and
// passwords never go into it. sites.dat keeps its own format; this is a file beside the program's.
//
//   {"format": "kestrune-sites", "version": 1, "sites": [
//     {"title": "Mail", "url": "https://mail.example/", "icon": "mail", "iconData": "<base64>",
//      "browserChoice": 1, "minimizeToTaskbar": 1, "windowState": 2, "windowRect": [0, 0, 0, 0],
//      "monitorChanges": 0, "monitorInterval": 0, "compare": "source", "selector": "", "zoom": 1}]}
//
// A title or URL whose bytes are not UTF-8 text goes as "titleBase64" / "urlBase64" instead.

struct TExportedSite
{
    QByteArray Title;
    QByteArray URL;
    QByteArray IconName = QByteArrayLiteral("web");
    // The icon file's bytes when the site's icon is a file of the icon folder; empty when the name
    // names no file there (the receiving list shows the picture only if it has one of that name).
    QByteArray IconData;
    quint8 BrowserChoice = 1;
    quint8 MinimizeToTaskbar = 1;
    quint8 WindowState = 2;
    TWindowRect WindowRect;
    quint8 MonitorChanges = 0;
    quint8 MonitorInterval = 0;
    TCompareMode Compare = TCompareMode::Source;
    QString Selector;
    double Zoom = 1.0; // the page's zoom in the site's window

    friend bool operator==(const TExportedSite &, const TExportedSite &) = default;
};

inline const QString SiteExportFormat = QStringLiteral("kestrune-sites");
inline constexpr int SiteExportVersion = 1;

// Limits of a file that is read in: anything beyond them is no list of ours.
inline constexpr qsizetype MaxSiteExportFileSize = 64 * 1024 * 1024;
inline constexpr qsizetype MaxExportedSites = 10000;
inline constexpr qsizetype MaxExportedTitle = 4096;       // bytes
inline constexpr qsizetype MaxExportedURL = 64 * 1024;    // bytes
inline constexpr qsizetype MaxExportedIconName = 251;     // bytes: with ".ico" a file name of 255
inline constexpr qsizetype MaxExportedIcon = 1024 * 1024; // bytes, as a downloaded favourite icon

// What a site and its monitor settings give the file (user name and password left out).
TExportedSite ExportedSiteOf(const TKestrunSite &Site, const TSiteWatch &Watch, const QByteArray &IconData);
// Gives a site the imported fields, its placement included; user name and password are not touched.
void ApplyExportedSite(const TExportedSite &Exported, TKestrunSite &Site);
// The monitor settings an imported site comes with (no history: that stays where it was seen).
TSiteWatch ExportedWatch(const TExportedSite &Exported);

QByteArray SiteExportData(const QList<TExportedSite> &Sites);

// Whether icon bytes are a picture the program shows. The windows pass their decoder; without one,
// the icon-file check of images/IconFile.h decides.
using TIconCheck = std::function<bool(const QByteArray &Data)>;

// The whole file is checked before anything is used: on the first fault Sites stays empty, and Error
// says what is wrong and, for a site, which (counted from 1).
bool ParseSiteExport(const QByteArray &Data, QList<TExportedSite> &Sites, QString &Error,
                     const TIconCheck &IconIsImage = {});

// An icon an imported site uses: a new file to write, or a file of the icon folder with these very
// bytes already.
struct TImportedIcon
{
    QString Name; // the file name without ".ico"
    QByteArray Data;
    bool NewFile = false;
};

struct TSiteImportPlan
{
    // The sites to append, in file order; an icon that comes as data names the file it will be in.
    QList<TExportedSite> NewSites;
    // Sites whose title and URL the list has already (or that the file lists twice).
    int Existing = 0;
    QList<TImportedIcon> Icons;
};

// Existing: the title and URL of every listed site. KnownIconNames: the icon names the program holds;
// with the files of IconFolder they are taken, compared without regard to letter case. An imported
// icon goes to the file of its own name when that is free, reuses a file of that name with the very
// same bytes, and otherwise gets a free name "<name> (2)", "<name> (3)"...: no file is ever replaced.
TSiteImportPlan PlanSiteImport(const QList<std::pair<QByteArray, QByteArray>> &Existing,
                               const QList<TExportedSite> &Imported, const QString &IconFolder,
                               const QStringList &KnownIconNames);

// Writes the plan's new icon files into IconFolder (made when missing), each as a file that did not
// exist. On failure the files written so far are removed again and Error says what failed.
bool WriteImportedIcons(const QList<TImportedIcon> &Icons, const QString &IconFolder, QString &Error);
