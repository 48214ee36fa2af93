#include "Main.h"

// The steps of the main window that arrive with later work. Each block is taken out of this file
// when its own file defines the functions; until then they do nothing (or the least they can).

// ---- Running sites (MainRun.cpp) -----------------------------------------------------------------

void TfMainForm::tbRunClick() {}

void TfMainForm::miRunDefaultBrowserClick() {}

void TfMainForm::miClosewindowClick() {}

void TfMainForm::pmSitePopup()
{
    miSitePopupRun->setEnabled(SelectedSite() != nullptr);
    miClosewindow->setEnabled(false);
}

void TfMainForm::TraySiteClick(QAction *) {}

void TfMainForm::RunSite(TKestrunSite *, bool) {}

void TfMainForm::OpenInSystemBrowser(const QByteArray &, bool) {}
