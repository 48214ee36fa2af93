#include "FaviconRoad.h"

#include "Favicon.h"
#include "IconPreview.h"
#include "images/ImageDecoding.h"
#include "platform/Download.h"
#include "platform/MessageBoxes.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSaveFile>

namespace {

const QString NotFound = QStringLiteral("Favorite icon not found!");

bool WriteIconFile(const QString &Path, const QByteArray &Bytes, QString &Error)
{
    QSaveFile File(Path);
    if (!File.open(QIODevice::WriteOnly) || File.write(Bytes) != Bytes.size() || !File.commit()) {
        Error = File.errorString();
        return false;
    }
    return true;
}

} // namespace

QString TrimmedTitle(const QString &Title)
{
    qsizetype First = 0;
    qsizetype Last = Title.size();
    while (First < Last && Title[First].unicode() <= ' ')
        ++First;
    while (Last > First && Title[Last - 1].unicode() <= ' ')
        --Last;
    return Title.mid(First, Last - First);
}

bool SaveDownloadedIcon(QWidget *Owner, const QByteArray &IconBytes, const QIcon &Icon, const QString &URL,
                        const QString &SiteTitle, const QString &IconFolder, QString &FileName)
{
    FileName.clear();
    TfIconPreviewDlg Preview(Owner);
    Preview.edSite->setText(URL);
    Preview.edIconTitle->setText(TrimmedTitle(SiteTitle));
    Preview.imgIcon->setPixmap(Icon.pixmap(16, 16));
    Preview.SetIconFolder(IconFolder);
    if (Preview.ShowModal() != QDialog::Accepted)
        return false;
    QString Error;
    // A title names a file of the icon folder, never a way into another folder.
    bool Written = false;
    if (Preview.IconFileName.mid(IconFolder.size()).contains(QLatin1Char('/')))
        Error = QStringLiteral("The title may not contain \"/\".");
    else
        Written = WriteIconFile(Preview.IconFileName, IconBytes, Error);
    if (!Written) {
        ShowMessage(Owner, TMsgKind::Error, QStringLiteral("Can not save icon to file!\r\n") + Error);
        return false;
    }
    FileName = QFileInfo(Preview.IconFileName).fileName();
    return true;
}

std::optional<TAddedIcon> DownloadIcon(QWidget *Owner, const QString &URLText, const QString &SiteTitle,
                                       const QString &IconFolder, TImageList &SiteImages)
{
    const QString Address = QString::fromUtf8(FaviconAddress(URLText.toUtf8()));
    QByteArray Stream;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool Fetched = DownloadToStream(Address, Stream);
    QApplication::restoreOverrideCursor();
    if (!Fetched || Stream.isEmpty()) {
        ShowMessage(Owner, TMsgKind::Error, NotFound);
        return std::nullopt;
    }
    const QIcon Icon = DecodeIconFile(Stream);
    if (Icon.isNull()) {
        ShowMessage(Owner, TMsgKind::Error, NotFound);
        return std::nullopt;
    }
    QString FileName;
    if (!SaveDownloadedIcon(Owner, Stream, Icon, URLText, SiteTitle, IconFolder, FileName))
        return std::nullopt;
    TAddedIcon Added;
    Added.Icon = Icon;
    Added.ImageIndex = SiteImages.Add(Icon);
    Added.Name = FileName.chopped(4);
    return Added;
}
