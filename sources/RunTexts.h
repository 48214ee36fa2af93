#pragma once

#include <QByteArray>
#include <QString>

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
