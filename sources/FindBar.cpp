#include "FindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QWebEngineFindTextResult>
#include <QWebEnginePage>
#include <QWebEngineView>

QString MatchCountText(const QString &Searched, int Active, int Count)
{
    if (Searched.isEmpty())
        return QString();
    if (Count <= 0)
        return QStringLiteral("No matches");
    return QStringLiteral("%1 of %2").arg(Active).arg(Count);
}

TFindBar::TFindBar(QWidget *Parent, QWebEngineView *View) : QWidget(Parent), FView(View)
{
    setObjectName(QStringLiteral("FindBar"));
    auto *Layout = new QHBoxLayout(this);
    Layout->setContentsMargins(4, 2, 4, 2);
    Layout->setSpacing(4);
    Layout->addWidget(new QLabel(QStringLiteral("Find:"), this));
    FedFind = new QLineEdit(this);
    FedFind->setObjectName(QStringLiteral("edFind"));
    FedFind->setClearButtonEnabled(true);
    FedFind->setMinimumWidth(200);
    FedFind->installEventFilter(this);
    Layout->addWidget(FedFind);
    const auto Button = [this, Layout](const QString &Name, QStyle::StandardPixmap Picture,
                                       const QString &Tip) {
        auto *Made = new QToolButton(this);
        Made->setObjectName(Name);
        Made->setIcon(style()->standardIcon(Picture));
        Made->setToolTip(Tip);
        Made->setAutoRaise(true);
        Layout->addWidget(Made);
        return Made;
    };
    FbtnPrevious = Button(QStringLiteral("btnPrevious"), QStyle::SP_ArrowUp,
                          QStringLiteral("Previous match (Shift+Return)"));
    FbtnNext = Button(QStringLiteral("btnNext"), QStyle::SP_ArrowDown, QStringLiteral("Next match (Return)"));
    FlblMatches = new QLabel(this);
    FlblMatches->setObjectName(QStringLiteral("lblMatches"));
    Layout->addWidget(FlblMatches);
    Layout->addStretch(1);
    FbtnClose =
        Button(QStringLiteral("btnClose"), QStyle::SP_DialogCloseButton, QStringLiteral("Close (Escape)"));

    // Looked for once the typing pauses: searches that overtake each other in the engine can end
    // with the answer of one it gave up.
    FTyping = new QTimer(this);
    FTyping->setSingleShot(true);
    FTyping->setInterval(TypingPause);
    connect(FTyping, &QTimer::timeout, this, [this] { Find(false); });
    connect(FedFind, &QLineEdit::textChanged, FTyping, qOverload<>(&QTimer::start));
    connect(FedFind, &QLineEdit::returnPressed, this, &TFindBar::FindNext);
    connect(FbtnNext, &QToolButton::clicked, this, &TFindBar::FindNext);
    connect(FbtnPrevious, &QToolButton::clicked, this, &TFindBar::FindPrevious);
    connect(FbtnClose, &QToolButton::clicked, this, &TFindBar::Close);
    // A new page has other matches, if any: the count would tell of the old one.
    connect(FView, &QWebEngineView::loadStarted, this, [this] { FlblMatches->clear(); });
    hide();
}

void TFindBar::Open()
{
    show();
    FedFind->setFocus(Qt::ShortcutFocusReason);
    FedFind->selectAll();
    if (!FedFind->text().isEmpty())
        Find(false);
}

void TFindBar::Close()
{
    hide();
    // An empty search takes every highlight away.
    ++FRequest;
    FView->findText(QString());
    FlblMatches->clear();
    FView->setFocus(Qt::OtherFocusReason);
}

void TFindBar::FindNext()
{
    Find(false);
}

void TFindBar::FindPrevious()
{
    Find(true);
}

void TFindBar::Find(bool Backward)
{
    FTyping->stop();
    const QString Text = FedFind->text();
    if (Text.isEmpty()) {
        ++FRequest;
        FView->findText(QString());
        FlblMatches->clear();
        return;
    }
    // While the text is typed, searches overtake each other: only the last one's answer counts (the
    // engine answers one it gave up with no matches at all).
    const int Request = ++FRequest;
    FView->findText(Text, Backward ? QWebEnginePage::FindBackward : QWebEnginePage::FindFlags(),
                    [Bar = QPointer<TFindBar>(this), Request](const QWebEngineFindTextResult &Result) {
                        if (Bar && Request == Bar->FRequest)
                            Bar->ShowResult(Result);
                    });
}

void TFindBar::ShowResult(const QWebEngineFindTextResult &Result)
{
    // The answer to a search the bar no longer shows (it was closed, the text was emptied).
    if (isHidden() || FedFind->text().isEmpty())
        return;
    FlblMatches->setText(MatchCountText(FedFind->text(), Result.activeMatch(), Result.numberOfMatches()));
    emit MatchesCounted(Result.activeMatch(), Result.numberOfMatches());
}

bool TFindBar::eventFilter(QObject *Watched, QEvent *Event)
{
    if (Watched == FedFind &&
        (Event->type() == QEvent::KeyPress || Event->type() == QEvent::ShortcutOverride)) {
        const auto *Key = static_cast<QKeyEvent *>(Event);
        const bool Escape = Key->key() == Qt::Key_Escape;
        const bool ShiftReturn = (Key->key() == Qt::Key_Return || Key->key() == Qt::Key_Enter) &&
                                 (Key->modifiers() & Qt::ShiftModifier);
        if (Escape || ShiftReturn) {
            // The bar's own keys, before any shortcut of the window (Escape leaves full screen).
            Event->accept();
            if (Event->type() == QEvent::KeyPress) {
                if (Escape)
                    Close();
                else
                    FindPrevious();
            }
            return true;
        }
    }
    return QWidget::eventFilter(Watched, Event);
}
