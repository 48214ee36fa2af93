#include "platform/MessageBoxes.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace {

struct TSeam
{
    bool Enabled = false;
    QList<TMsgResult> Answers;
    QList<MessageBoxTest::TRecord> Records;
};

TSeam &Seam()
{
    static TSeam Instance;
    return Instance;
}

TMsgResult DefaultAnswer(TMsgButtons Buttons)
{
    switch (Buttons) {
    case TMsgButtons::Ok:
        return TMsgResult::Ok;
    case TMsgButtons::YesNo:
        return TMsgResult::No;
    case TMsgButtons::YesNoCancel:
    case TMsgButtons::YesNoOrClose:
        return TMsgResult::Cancel;
    }
    return TMsgResult::Ok;
}

} // namespace

QString MessageCaption(TMsgKind Kind)
{
    switch (Kind) {
    case TMsgKind::Error:
        return QStringLiteral("Error");
    case TMsgKind::Information:
        return QStringLiteral("Information");
    case TMsgKind::Confirm:
        return QStringLiteral("Confirm");
    case TMsgKind::Plain:
        break;
    }
    return QStringLiteral("Kestrune");
}

TMsgResult ShowMessage(QWidget *Parent, TMsgKind Kind, const QString &Text, TMsgButtons Buttons)
{
    TSeam &S = Seam();
    if (S.Enabled) {
        S.Records.append({Kind, Text, Buttons});
        return S.Answers.isEmpty() ? DefaultAnswer(Buttons) : S.Answers.takeFirst();
    }

    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    switch (Kind) {
    case TMsgKind::Error:
        Icon = QMessageBox::Critical;
        break;
    case TMsgKind::Information:
        Icon = QMessageBox::Information;
        break;
    case TMsgKind::Confirm:
        Icon = QMessageBox::Question;
        break;
    case TMsgKind::Plain:
        break;
    }
    QMessageBox::StandardButtons Standard = QMessageBox::Ok;
    if (Buttons == TMsgButtons::YesNo)
        Standard = QMessageBox::Yes | QMessageBox::No;
    else if (Buttons == TMsgButtons::YesNoCancel || Buttons == TMsgButtons::YesNoOrClose)
        Standard = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;

    QMessageBox Box(Icon, MessageCaption(Kind), Text, Standard, Parent);
    if (Buttons == TMsgButtons::YesNo)
        Box.setEscapeButton(QMessageBox::No);
    if (Buttons == TMsgButtons::YesNoOrClose) {
        // Closing such a box is no answer: a Cancel that is not shown takes Escape and the close box.
        Box.button(QMessageBox::Cancel)->hide();
        Box.setEscapeButton(QMessageBox::Cancel);
    }
    switch (Box.exec()) {
    case QMessageBox::Yes:
        return TMsgResult::Yes;
    case QMessageBox::No:
        return TMsgResult::No;
    case QMessageBox::Cancel:
        return TMsgResult::Cancel;
    default:
        return DefaultAnswer(Buttons) == TMsgResult::Ok ? TMsgResult::Ok : DefaultAnswer(Buttons);
    }
}

namespace MessageBoxTest {

void Enable(bool On)
{
    Seam().Enabled = On;
    Seam().Answers.clear();
    Seam().Records.clear();
}

void QueueAnswer(TMsgResult Answer)
{
    Seam().Answers.append(Answer);
}

QList<TRecord> TakeRecords()
{
    return std::exchange(Seam().Records, {});
}

} // namespace MessageBoxTest
