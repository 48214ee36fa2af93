#include "SiteDlg.h"

// The site dialog's pictures and its favicon button. The icons arrive with the site icons; until
// then the shortcut boxes show no picture and the button does nothing.

void TfSiteDlg::LoadShortcutImages() {}

void TfSiteDlg::sbDownloadIconClick() {}
