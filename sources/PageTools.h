#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

class QAction;
class QBoxLayout;
class QPrintDialog;
class QPrinter;
class QWebEngineView;
class QWidget;
class TFindBar;

// What a browser offers for the page in a window beyond showing it: find in page (Ctrl+F), zoom
// (Ctrl+plus, Ctrl+minus, Ctrl+0 and Ctrl with the mouse wheel) and printing (Ctrl+P, and a page's
// own print request) through the desktop's print dialog.
class TPageTools : public QObject
{
    Q_OBJECT

public:
    // The keys go to Window; the find bar goes into Layout at Index (below the page). All three
    // must outlive this object, which is a child of Window.
    TPageTools(QWidget *Window, QWebEngineView *View, QBoxLayout *Layout, int Index);
    ~TPageTools() override;

    // Made, hidden, when first asked for: most windows are never searched, and a window opens
    // sooner without it.
    TFindBar *FindBar();
    QAction *FindAction() const { return FFind; }
    QAction *ZoomInAction() const { return FZoomIn; }
    QAction *ZoomOutAction() const { return FZoomOut; }
    QAction *ResetZoomAction() const { return FResetZoom; }
    QAction *PrintAction() const { return FPrint; }

    double Zoom() const { return FZoom; }
    // Sets the zoom without telling of it (a stored zoom); out-of-range values are brought in range.
    void SetZoom(double Zoom);
    // One step in (Direction > 0) or out; each tells of the new zoom when it changed.
    void StepZoom(int Direction);
    void ResetZoom();
    // The print dialog, then the page to the printer chosen; nothing while a print is under way.
    void Print();
    bool Printing() const { return FPrinter != nullptr; }

signals:
    void ZoomChanged(double Zoom);
    // For the window's status bar.
    void StatusMessage(const QString &Text, int Milliseconds);
    // The print dialog is shown (tests answer it).
    void PrintDialogShown(QWidget *Dialog);
    void PrintFinished(bool Ok);

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    // F3 and Shift+F3: the next or previous match, or the bar opened when it is not shown.
    void FindAgain(bool Backwards);
    void ApplyZoom();
    void ChangeZoom(double Zoom);
    void WatchWheelOf(QObject *Child);

    QWidget *FWindow;
    QWebEngineView *FView;
    QBoxLayout *FLayout;
    int FFindBarIndex;
    TFindBar *FFindBar = nullptr;
    QAction *FFind = nullptr;
    QAction *FZoomIn = nullptr;
    QAction *FZoomOut = nullptr;
    QAction *FResetZoom = nullptr;
    QAction *FPrint = nullptr;
    double FZoom = 1.0;
    // A touchpad scrolls in small steps: they add up to one step of the wheel.
    int FWheelDelta = 0;
    std::unique_ptr<QPrinter> FPrinter;
    QPointer<QPrintDialog> FPrintDialog;
};

// The zoom as the status bar tells it: "Zoom 125%".
QString ZoomText(double Zoom);
