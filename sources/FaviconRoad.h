#pragma once

#include "images/ImageRepositoryUnit.h"

#include <QByteArray>
#include <QIcon>
#include <QString>

#include <optional>

class QWidget;

// The site dialog's favourite-icon road: fetch the icon of the host in the URL field, preview it,
// save it under a title in the icon folder and add it to the site image list.

// Shows the preview (owned by Owner) and writes IconBytes unchanged to the chosen file. True with
// FileName set (with ".ico", without the folder) when saved; false when cancelled or when the file
// could not be written (reported here).
bool SaveDownloadedIcon(QWidget *Owner, const QByteArray &IconBytes, const QIcon &Icon, const QString &URL,
                        const QString &SiteTitle, const QString &IconFolder, QString &FileName);

struct TAddedIcon
{
    QString Name;
    QIcon Icon;
    int ImageIndex = -1;
};

// URLText is the URL field as typed; the icon lands as the last image of SiteImages. Every failure
// is reported here; nothing is returned when the road ended early.
std::optional<TAddedIcon> DownloadIcon(QWidget *Owner, const QString &URLText, const QString &SiteTitle,
                                       const QString &IconFolder, TImageList &SiteImages);

// Blanks and control characters removed from both ends, as the proposed title.
QString TrimmedTitle(const QString &Title);
