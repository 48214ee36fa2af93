#include "ChangesWin.h"

#include "TextDiff.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QSplitter>
#include <QStackedWidget>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

// One line of a view, marked as the diff marks it: removed lines red, added lines green.
QString LineHtml(const TDiffLine &Line, bool Sign)
{
    static const char *Backgrounds[] = {"transparent", "#ffd7d5", "#d5f5d5"};
    static const char *Signs[] = {"&nbsp;&nbsp;", "-&nbsp;", "+&nbsp;"};
    return QStringLiteral("<div style=\"background:%1;white-space:pre-wrap\">%2%3</div>")
        .arg(QLatin1String(Backgrounds[Line.Kind]), Sign ? QLatin1String(Signs[Line.Kind]) : QLatin1String(),
             Line.Text.toHtmlEscaped());
}

QTextEdit *MakeView(QWidget *Parent, const QString &Name)
{
    auto *View = new QTextEdit(Parent);
    View->setObjectName(Name);
    View->setReadOnly(true);
    View->setLineWrapMode(QTextEdit::WidgetWidth);
    return View;
}

} // namespace

TfChangesWin::TfChangesWin(QWidget *Owner, const QString &SiteTitle, const QList<TChangeRecord> &History)
    : QDialog(Owner), FHistory(History.crbegin(), History.crend())
{
    setObjectName(QStringLiteral("fChangesWin"));
    setWindowTitle(QStringLiteral("What changed: %1").arg(SiteTitle));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(860, 520);

    lbChanges = new QListWidget(this);
    lbChanges->setObjectName(QStringLiteral("lbChanges"));
    const QLocale Locale;
    for (const TChangeRecord &Record : std::as_const(FHistory))
        lbChanges->addItem(Locale.toString(Record.When.toLocalTime(), QLocale::ShortFormat));
    cmbView = new QComboBox(this);
    cmbView->setObjectName(QStringLiteral("cmbView"));
    cmbView->addItems({QStringLiteral("unified diff"), QStringLiteral("side by side")});

    edUnified = MakeView(this, QStringLiteral("edUnified"));
    edBefore = MakeView(this, QStringLiteral("edBefore"));
    edAfter = MakeView(this, QStringLiteral("edAfter"));
    auto *Sides = new QSplitter(Qt::Horizontal, this);
    Sides->addWidget(edBefore);
    Sides->addWidget(edAfter);
    FViews = new QStackedWidget(this);
    FViews->addWidget(edUnified);
    FViews->addWidget(Sides);

    auto *Left = new QVBoxLayout;
    Left->addWidget(new QLabel(QStringLiteral("Changes"), this));
    Left->addWidget(lbChanges);
    Left->addWidget(cmbView);
    auto *Layout = new QHBoxLayout(this);
    Layout->addLayout(Left, 1);
    Layout->addWidget(FViews, 4);

    connect(lbChanges, &QListWidget::currentRowChanged, this, &TfChangesWin::Refresh);
    connect(cmbView, &QComboBox::currentIndexChanged, this, &TfChangesWin::Refresh);
    ShowChange(0);
}

void TfChangesWin::ShowChange(int Index)
{
    if (Index >= 0 && Index < lbChanges->count())
        lbChanges->setCurrentRow(Index);
    Refresh();
}

void TfChangesWin::Refresh()
{
    FViews->setCurrentIndex(cmbView->currentIndex() == 1 ? 1 : 0);
    const int Index = lbChanges->currentRow();
    if (Index < 0 || Index >= FHistory.size()) {
        edUnified->setPlainText(QStringLiteral("No change has been seen yet."));
        edBefore->clear();
        edAfter->clear();
        return;
    }
    const QList<TDiffLine> Lines = DiffLines(FHistory[Index].Before, FHistory[Index].After);
    QString Unified, Before, After;
    for (const TDiffLine &Line : Lines) {
        Unified += LineHtml(Line, true);
        if (Line.Kind != TDiffLine::Added)
            Before += LineHtml(Line, false);
        if (Line.Kind != TDiffLine::Removed)
            After += LineHtml(Line, false);
    }
    edUnified->setHtml(Unified);
    edBefore->setHtml(Before);
    edAfter->setHtml(After);
}
