#include "SiteDlg.h"

#include "DataModuleUnit.h"
#include "FaviconRoad.h"

#include <QLabel>
#include <QLineEdit>

// The site dialog's pictures and its favicon button.

void TfSiteDlg::LoadShortcutImages()
{
    const TImageRepository &Images = TdmMain::Current()->ImageRepository;
    const auto Show = [&Images](QLabel *Target, const QByteArray &Name) {
        QIcon Picture;
        Images.GetImage(Picture, Name);
        Target->setPixmap(Picture.pixmap(16, 16));
    };
    Show(imgDesktop, QByteArrayLiteral("DESKTOP"));
    Show(imgStartup, QByteArrayLiteral("STARTUP"));
    Show(imgStart, QByteArrayLiteral("START"));
    Show(imgQuick, QByteArrayLiteral("QUICK"));
}

void TfSiteDlg::sbDownloadIconClick()
{
    const std::optional<TAddedIcon> Added =
        DownloadIcon(this, edURL->text(), edTitle->text(), IconFolder(), TdmMain::Current()->ilSites);
    if (Added)
        IconDownloaded(Added->Name, Added->Icon);
}
