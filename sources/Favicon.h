#pragma once

#include <QByteArray>

// The address of a site's favourite icon: the root of the site's host followed by "favicon.ico",
// derived from what the user typed in the URL field. Letters A-Z are lowered and blanks and control
// characters around the text dropped; an address without "http://" or "https://" gets "http://".
QByteArray FaviconAddress(const QByteArray &Text);

// Replies larger than this are no icon: the download ends as a failure.
inline constexpr qint64 FaviconBodyCap = 1024 * 1024;
