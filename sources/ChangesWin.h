#pragma once

#include "SiteWatch.h"

#include <QDialog>

class QComboBox;
class QListWidget;
class QStackedWidget;
class QTextEdit;

// "What changed": the last changes the monitor saw on one site, newest first, each as a unified
// diff of the page's visible text (added and removed lines marked) or as the two texts side by side.
class TfChangesWin : public QDialog
{
    Q_OBJECT

public:
    TfChangesWin(QWidget *Owner, const QString &SiteTitle, const QList<TChangeRecord> &History);

    // Shows change Index of the list (0: the newest).
    void ShowChange(int Index);

    QListWidget *lbChanges = nullptr; // the times of the changes, newest first
    QComboBox *cmbView = nullptr;     // "unified diff", "side by side"
    QTextEdit *edUnified = nullptr;
    QTextEdit *edBefore = nullptr;
    QTextEdit *edAfter = nullptr;

private:
    void Refresh();

    QList<TChangeRecord> FHistory; // newest first
    QStackedWidget *FViews = nullptr;
};
