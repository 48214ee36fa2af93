#pragma once

#include <QWidget>

class QLabel;
class QTimer;
class QLineEdit;
class QToolButton;
class QWebEngineFindTextResult;
class QWebEngineView;

// The bar that finds text in a site's page, as browsers have it: the text is looked for while it
// is typed, every match is highlighted, Return and the arrows go to the next and previous match,
// the label counts them, and Escape closes the bar and takes the highlight away.
class TFindBar : public QWidget
{
    Q_OBJECT

public:
    // View: the page searched; the bar goes with Parent and starts hidden.
    TFindBar(QWidget *Parent, QWebEngineView *View);
    static constexpr int TypingPause = 150;

    // Shows the bar with its text selected, the keyboard in it, and looks for the text again.
    void Open();
    // Hides the bar, takes the highlight away and gives the keyboard back to the page.
    void Close();
    void FindNext();
    void FindPrevious();

    QLineEdit *edFind() const { return FedFind; }
    QLabel *lblMatches() const { return FlblMatches; }
    QToolButton *btnPrevious() const { return FbtnPrevious; }
    QToolButton *btnNext() const { return FbtnNext; }
    QToolButton *btnClose() const { return FbtnClose; }

signals:
    // The engine's answer to the last search: Active is the match in view, from 1; 0 with no match.
    void MatchesCounted(int Active, int Count);

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    void Find(bool Backward);
    void ShowResult(const QWebEngineFindTextResult &Result);

    QWebEngineView *FView;
    QLineEdit *FedFind = nullptr;
    QLabel *FlblMatches = nullptr;
    QToolButton *FbtnPrevious = nullptr;
    QToolButton *FbtnNext = nullptr;
    QToolButton *FbtnClose = nullptr;
    int FRequest = 0; // the last search asked for
    QTimer *FTyping = nullptr;
};

// The label's text for a search's result: empty before anything is looked for.
QString MatchCountText(const QString &Searched, int Active, int Count);
