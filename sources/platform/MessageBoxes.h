#pragma once

#include <QList>
#include <QString>

class QWidget;

// Every message box of the program goes through here, so that the captions stay the program's own
// and tests can answer the boxes and read their texts.

enum class TMsgKind
{
    Error,       // caption "Error"
    Information, // caption "Information"
    Confirm,     // caption "Confirm"
    Plain,       // caption "Kestrune"
};

enum class TMsgButtons
{
    Ok,
    YesNo,
    YesNoCancel,
    // Yes and No; Escape or the close box answer Cancel, which is no answer at all.
    YesNoOrClose
};

enum class TMsgResult
{
    Ok,
    Yes,
    No,
    Cancel
};

// Shows a modal box and returns the button pressed. Closing the box with Escape or its close button
// answers Cancel where the box has it, No for Yes/No boxes, and Ok otherwise.
TMsgResult ShowMessage(QWidget *Parent, TMsgKind Kind, const QString &Text,
                       TMsgButtons Buttons = TMsgButtons::Ok);

QString MessageCaption(TMsgKind Kind);

// Test seam: while enabled, no box is shown; each call is recorded and answered with the next queued
// answer (or the box's default: Ok, or No for a question, when the queue is empty).
namespace MessageBoxTest {

struct TRecord
{
    TMsgKind Kind;
    QString Text;
    TMsgButtons Buttons;
};

void Enable(bool On = true);
void QueueAnswer(TMsgResult Answer);
QList<TRecord> TakeRecords();

} // namespace MessageBoxTest
