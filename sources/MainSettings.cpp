#include "Main.h"

#include "About.h"
#include "Settings.h"
#include "SetupDlg.h"
#include "UpdateCheck.h"
#include "platform/DesktopBrowser.h"
#include "platform/DesktopServices.h"
#include "platform/Download.h"
#include "platform/ShellLinks.h"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QSettings>
#include <QTimer>

void TfMainForm::ReadSettings()
{
    QSettings Store(SettingsOrganization, SettingsApplication);
    bool Minimized = RunMinimized;
    QDateTime Last = DaysToDateTime(LastUpdateCheck).value_or(DateTimeOrigin());
    switch (ReadStoredSettings(Store, Minimized, Last)) {
    case TSettingsRead::NotOpened:
        return;
    case TSettingsRead::Read:
        RunMinimized = Minimized;
        LastUpdateCheck = DateTimeToDays(Last);
        return;
    case TSettingsRead::WrongType:
        ApplySettingsDefaults();
        return;
    }
}

void TfMainForm::ApplySettingsDefaults()
{
    RunMinimized = true;
    LastUpdateCheck = DateTimeToDays(QDateTime::currentDateTime()) - 8;
}

bool TfMainForm::IsRunAtStartup()
{
    return FServices.IsProgramAutostartEntry(ExecutableFile());
}

void TfMainForm::SetRunAtStartup(bool On)
{
    QString Error;
    if (!FServices.SetProgramAutostartEntry(On, ExecutableFile(), &Error))
        ShowMessage(this, TMsgKind::Error, Error);
}

void TfMainForm::WriteRunMinimized()
{
    QSettings Store(SettingsOrganization, SettingsApplication);
    QString Error;
    if (!WriteStoredRunMinimized(Store, RunMinimized, &Error))
        ShowMessage(this, TMsgKind::Error, Error);
}

void TfMainForm::WriteLastUpdateCheck()
{
    QSettings Store(SettingsOrganization, SettingsApplication);
    QString Error;
    const QDateTime When = DaysToDateTime(LastUpdateCheck).value_or(DateTimeOrigin());
    if (!WriteStoredLastUpdateCheck(Store, When, &Error))
        ShowMessage(this, TMsgKind::Error, Error);
}

void TfMainForm::ShowOptions()
{
    TfSetupDlg Dialog(this);
    Dialog.cbWinStartup->setChecked(RunAtStartup);
    Dialog.cbRunMinimized->setChecked(RunMinimized);
    const bool OldRunAtStartup = RunAtStartup;
    // The dialog's loop lets other events run: the program may have ended meanwhile.
    if (Dialog.exec() != QDialog::Accepted || Closed())
        return;
    RunAtStartup = Dialog.cbWinStartup->isChecked();
    RunMinimized = Dialog.cbRunMinimized->isChecked();
    if (RunAtStartup != OldRunAtStartup)
        SetRunAtStartup(RunAtStartup);
    WriteRunMinimized();
}

void TfMainForm::miOptionsClick()
{
    ShowOptions();
}

void TfMainForm::miAboutClick()
{
    TfAboutDlg Dialog(FServices, this);
    Dialog.lbVersion->setText(QString::fromLatin1(VersionText(true)));
    Dialog.exec();
}

void TfMainForm::miKestrunewebsiteClick()
{
    FServices.OpenInDefaultBrowser(KestruneHomePage());
}

void TfMainForm::ScheduleUpdateCheck()
{
    const QDateTime Last = DaysToDateTime(LastUpdateCheck).value_or(DateTimeOrigin());
    if (!UpdateCheckDue(Last, QDateTime::currentDateTime()))
        return;
    // The wait runs on the GUI thread's timer: what follows it touches the window, and a timer
    // owned by the window cannot fire after the window is gone.
    QTimer::singleShot(2000, this, &TfMainForm::StartUpdateCheck);
}

void TfMainForm::StartUpdateCheck()
{
    const QByteArray Url = UpdateRequestUrl(UpdateSource.Server);
    QPointer<TfMainForm> Self(this);
    TDownloadThread *Download =
        TDownloadThread::Create(QString::fromLatin1(Url), [Self](TDownloadThread *Sender) {
            if (Self)
                Self->UpdateDownloadDone(Sender);
        });
    // A reply over plain http, or from a server whose certificate does not hold, is no reply.
    Download->SetSecureOnly(UpdateSource.ExtraAuthorities);
    Download->start();
}

void TfMainForm::UpdateDownloadDone(TDownloadThread *Sender)
{
    if (!Sender || !Sender->HasData() || Closed())
        return;
    QByteArray Reply;
    Sender->CopyData(Reply);
    HandleUpdateReply(Reply);
}

void TfMainForm::HandleUpdateReply(const QByteArray &Reply)
{
    const std::optional<QByteArray> Page = NewVersionPage(Reply, OwnVersionNumber());
    // The page comes from the network: anything but a web address is not offered at all.
    if (!Page || !IsWebAddress(*Page))
        return;
    LastUpdateCheck = DateTimeToDays(QDateTime::currentDateTime());
    WriteLastUpdateCheck();
    const TMsgResult Answer = ShowMessage(
        this, TMsgKind::Information,
        QStringLiteral(
            "New version of Kestrune is available for download.\nWould You like to download new version?"),
        TMsgButtons::YesNo);
    if (Answer == TMsgResult::Yes)
        FServices.OpenInDefaultBrowser(*Page);
}
