#pragma once

#include <QByteArray>
#include <QString>

// The icon a page declares (its <link rel="icon">), kept as the icon file of a site that has none.

// The name the icon is saved under in the icon folder: the site's title made a plain file name
// ('/' and control characters become '_', no leading '.', at most MaxPageIconName bytes); "site"
// for a title that leaves nothing.
QString PageIconName(const QByteArray &Title);
inline constexpr qsizetype MaxPageIconName = 200;

// The bytes of the icon file for bytes fetched from a page's declared icon: an icon file as it came
// (the program's own decoder must take it, as for a favourite icon), a PNG picture as an icon file
// of its own (at most MaxPageIconSide pixels a side). Empty for anything else.
QByteArray PageIconFileData(const QByteArray &Fetched);
inline constexpr int MaxPageIconSide = 256;
