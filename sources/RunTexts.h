#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

// Texts shared by the main window and the browser windows when sites run.

// Text cut to at most Max characters, at the last break character (space ! , . : ?) among them
// when there is one, followed by "..."; a text of at most Max characters comes back unchanged.
// Counts characters (code points), so a character is never cut in two.
QString ShortenTitle(const QString &Text, int Max);

// "Open browsers: N", or "No open browsers" for 0.
QString OpenBrowsersText(int Count);

// The change balloon's title and text for a site title.
QString ChangeBalloonTitle(const QByteArray &SiteTitle);
QString ChangeBalloonText(const QByteArray &SiteTitle);
// The title of a desktop notification that passes on a page's own notification: it names the site.
QString SiteNotificationTitle(const QByteArray &SiteTitle, const QString &Title);

// The caption of a browser window before and after the page reports a title.
QString BrowserCaption(const QString &PageTitle);
inline const QString OpeningCaption = QStringLiteral("Kestrune: openning site... ");

// The engine titles a page that has no title of its own with its address (shortened as a browser
// shows it: without "http://", without the slash of a bare host name): such a title is empty here.
QString PageTitleOf(const QString &EngineTitle, const QUrl &Address);

// The unread count a page announces at the start of its title, as mail and chat sites do:
// "(3) Inbox" or "(3)" gives 3; "(99+) Inbox" gives 99, the count the page names. White space may
// come before the parentheses; after them comes white space or the title's end. Only ASCII digits
// count. 0 when the title starts with no such count ("(abc) x", "(-3) x", "(3x) x", "((3)) x",
// "(3)Inbox"); a count beyond MaxUnreadCount gives MaxUnreadCount, however many digits it has.
inline constexpr int MaxUnreadCount = 9999;
int UnreadCountOf(const QString &Title);

// The status bar while a page loads: "Opening page <address>..." with the progress in percent
// once the engine reports one (0-99), and "Done" when the load has ended.
QString OpeningPageStatus(const QString &Address, int Percent);
inline const QString DoneStatus = QStringLiteral("Done");

// The monitor's intervals as the site dialog lists them, by interval index.
const QStringList &MonitorIntervalCaptions();

// What the site list shows of a site's change monitor: the interval's caption of the site dialog
// when the monitor is on (any value but 0; an interval past the list is the last one), else nothing.
QString WatchedCaption(quint8 MonitorChanges, quint8 MonitorInterval);

// A watched site's tray entry after a change was seen: the caption and " \u2014 changed <time>"
// (with the date when it was not today, Now's day); the caption alone when Changed is not valid.
QString ChangedEntryCaption(const QString &Caption, const QDateTime &Changed, const QDateTime &Now);
