#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A line diff of two texts, for the "What changed" window: the lines both have, and those only the
// text before or only the text after has, in reading order.

struct TDiffLine
{
    enum TKind
    {
        Same,
        Removed, // only before
        Added,   // only after
    };
    TKind Kind = Same;
    QString Text;

    friend bool operator==(const TDiffLine &, const TDiffLine &) = default;
};

// Beyond this many lines on a side the texts are not matched line by line (the work grows with the
// product of the two): everything before is removed and everything after added.
inline constexpr qsizetype MaxDiffLines = 2000;

// The lines of Before and After (split at line breaks) as a shortest edit: unchanged lines kept in
// order, a changed line shown as removed and then added.
QList<TDiffLine> DiffLines(const QString &Before, const QString &After);

// The diff as text: "  " for a line both have, "- " for a removed one, "+ " for an added one.
QString UnifiedDiffText(const QList<TDiffLine> &Lines);
