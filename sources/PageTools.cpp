#include "PageTools.h"

#include "FindBar.h"
#include "SiteWatch.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QChildEvent>
#include <QKeyEvent>
#include <QPrintDialog>
#include <QPrinter>
#include <QWebEngineView>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

// One notch of a mouse wheel.
constexpr int WheelStep = 120;

QAction *Action(QWidget *Window, const QString &Text, const QList<QKeySequence> &Keys)
{
    auto *Made = new QAction(Text, Window);
    Made->setShortcuts(Keys);
    Made->setShortcutContext(Qt::WindowShortcut);
    Window->addAction(Made);
    return Made;
}

// The page claims some keys for itself before the window's shortcuts see them (Ctrl+plus, which
// comes as Ctrl+Shift+plus), and it asks through the object that has the focus inside the engine,
// which is no widget of ours: the whole application is watched while the window is active.
class TOwnKeysFilter : public QObject
{
public:
    TOwnKeysFilter(QWidget *Window, QList<QAction *> Keys)
        : QObject(Window), FWindow(Window), FKeys(std::move(Keys))
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override
    {
        if (Event->type() == QEvent::ShortcutOverride && QApplication::activeWindow() == FWindow) {
            const QKeySequence Pressed(static_cast<QKeyEvent *>(Event)->keyCombination());
            for (const QAction *Own : std::as_const(FKeys)) {
                if (Own->isEnabled() && Own->shortcuts().contains(Pressed)) {
                    // Not taken by the page: the window's shortcut fires.
                    Event->ignore();
                    return true;
                }
            }
        }
        return QObject::eventFilter(Watched, Event);
    }

private:
    QWidget *FWindow;
    QList<QAction *> FKeys;
};

} // namespace

QString ZoomText(double Zoom)
{
    return QStringLiteral("Zoom %1%").arg(qRound(Zoom * 100));
}

TPageTools::TPageTools(QWidget *Window, QWebEngineView *View, QBoxLayout *Layout, int Index)
    : QObject(Window), FWindow(Window), FView(View), FLayout(Layout), FFindBarIndex(Index)
{
    FFind = Action(Window, QStringLiteral("Find in page..."), QKeySequence::keyBindings(QKeySequence::Find));
    connect(FFind, &QAction::triggered, this, [this] { FindBar()->Open(); });
    auto *Next =
        Action(Window, QStringLiteral("Find next"), QKeySequence::keyBindings(QKeySequence::FindNext));
    connect(Next, &QAction::triggered, this, [this] { FindAgain(false); });
    auto *Previous = Action(Window, QStringLiteral("Find previous"),
                            QKeySequence::keyBindings(QKeySequence::FindPrevious));
    connect(Previous, &QAction::triggered, this, [this] { FindAgain(true); });

    // Ctrl+plus is Ctrl+Shift+= on many layouts, which comes as Ctrl+Shift+plus; Ctrl+= zooms in too,
    // as in browsers. (Ctrl+Shift+= as well would make the key ambiguous.)
    FZoomIn = Action(Window, QStringLiteral("Zoom in"),
                     {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal),
                      QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Plus)});
    FZoomOut = Action(
        Window, QStringLiteral("Zoom out"),
        {QKeySequence(Qt::CTRL | Qt::Key_Minus), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Underscore)});
    FResetZoom = Action(Window, QStringLiteral("Actual size"), {QKeySequence(Qt::CTRL | Qt::Key_0)});
    connect(FZoomIn, &QAction::triggered, this, [this] { StepZoom(1); });
    connect(FZoomOut, &QAction::triggered, this, [this] { StepZoom(-1); });
    connect(FResetZoom, &QAction::triggered, this, &TPageTools::ResetZoom);

    FPrint = Action(Window, QStringLiteral("Print..."), QKeySequence::keyBindings(QKeySequence::Print));
    new TOwnKeysFilter(Window, {FFind, Next, Previous, FZoomIn, FZoomOut, FResetZoom, FPrint});
    connect(FPrint, &QAction::triggered, this, &TPageTools::Print);
    connect(View, &QWebEngineView::printRequested, this, &TPageTools::Print);
    connect(View, &QWebEngineView::printFinished, this, [this](bool Ok) {
        FPrinter.reset();
        emit StatusMessage(Ok ? QStringLiteral("Printed") : QStringLiteral("Printing failed"), 5000);
        emit PrintFinished(Ok);
    });

    // The engine may go back to its own zoom with a new page: the window keeps the site's.
    connect(View, &QWebEngineView::loadFinished, this, [this] { ApplyZoom(); });
    connect(View, &QWebEngineView::loadStarted, this, [this] { ApplyZoom(); });

    // The page draws into a child widget that the view makes and may replace: Ctrl with the wheel
    // is taken there, before the page scrolls.
    View->installEventFilter(this);
    const QList<QObject *> Children = View->children();
    for (QObject *Child : Children)
        WatchWheelOf(Child);
}

TFindBar *TPageTools::FindBar()
{
    if (!FFindBar) {
        FFindBar = new TFindBar(FWindow, FView);
        FLayout->insertWidget(FFindBarIndex, FFindBar);
    }
    return FFindBar;
}

void TPageTools::FindAgain(bool Backwards)
{
    TFindBar *Bar = FindBar();
    if (Bar->isHidden())
        Bar->Open();
    else if (Backwards)
        Bar->FindPrevious();
    else
        Bar->FindNext();
}

TPageTools::~TPageTools()
{
    // The dialog works on the printer: it goes first.
    delete FPrintDialog.data();
}

void TPageTools::WatchWheelOf(QObject *Child)
{
    if (Child && Child->isWidgetType())
        Child->installEventFilter(this);
}

bool TPageTools::eventFilter(QObject *Watched, QEvent *Event)
{
    if (Watched == FView && Event->type() == QEvent::ChildAdded)
        WatchWheelOf(static_cast<QChildEvent *>(Event)->child());
    if (Event->type() == QEvent::Wheel) {
        auto *Wheel = static_cast<QWheelEvent *>(Event);
        if (Wheel->modifiers() & Qt::ControlModifier) {
            FWheelDelta += Wheel->angleDelta().y();
            // Bounded: a flood of events from a broken device moves at most a few steps at a time.
            FWheelDelta = std::clamp(FWheelDelta, -4 * WheelStep, 4 * WheelStep);
            while (std::abs(FWheelDelta) >= WheelStep) {
                const int Direction = FWheelDelta > 0 ? 1 : -1;
                FWheelDelta -= Direction * WheelStep;
                StepZoom(Direction);
            }
            Wheel->accept();
            return true;
        }
    }
    return QObject::eventFilter(Watched, Event);
}

void TPageTools::SetZoom(double Zoom)
{
    FZoom = std::isfinite(Zoom) ? std::clamp(Zoom, MinZoom, MaxZoom) : 1.0;
    ApplyZoom();
}

void TPageTools::ApplyZoom()
{
    if (std::abs(FView->zoomFactor() - FZoom) > 0.001)
        FView->setZoomFactor(FZoom);
}

void TPageTools::ChangeZoom(double Zoom)
{
    const double Before = FZoom;
    SetZoom(Zoom);
    emit StatusMessage(ZoomText(FZoom), 3000);
    if (FZoom != Before)
        emit ZoomChanged(FZoom);
}

void TPageTools::StepZoom(int Direction)
{
    ChangeZoom(NextZoomStep(FZoom, Direction));
}

void TPageTools::ResetZoom()
{
    ChangeZoom(1.0);
}

void TPageTools::Print()
{
    if (FPrinter)
        return;
    FPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
    FPrinter->setDocName(FView->title());
    auto *Dialog = new QPrintDialog(FPrinter.get(), FWindow);
    FPrintDialog = Dialog;
    Dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(Dialog, &QDialog::finished, this, [this](int Result) {
        if (Result != QDialog::Accepted || !FView) {
            FPrinter.reset();
            return;
        }
        emit StatusMessage(QStringLiteral("Printing..."), 0);
        FView->print(FPrinter.get());
    });
    Dialog->open();
    emit PrintDialogShown(Dialog);
}
