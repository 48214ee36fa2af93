#include "TextDiff.h"

#include <vector>

namespace {

QStringList LinesOf(const QString &Text)
{
    if (Text.isEmpty())
        return {};
    QStringList Lines = Text.split(QLatin1Char('\n'));
    for (QString &Line : Lines) {
        if (Line.endsWith(QLatin1Char('\r')))
            Line.chop(1);
    }
    return Lines;
}

} // namespace

QList<TDiffLine> DiffLines(const QString &Before, const QString &After)
{
    const QStringList A = LinesOf(Before);
    const QStringList B = LinesOf(After);
    // What both begin and end with needs no table.
    qsizetype Head = 0;
    while (Head < A.size() && Head < B.size() && A[Head] == B[Head])
        ++Head;
    qsizetype Tail = 0;
    while (Tail < A.size() - Head && Tail < B.size() - Head &&
           A[A.size() - 1 - Tail] == B[B.size() - 1 - Tail])
        ++Tail;
    const qsizetype N = A.size() - Head - Tail;
    const qsizetype M = B.size() - Head - Tail;

    QList<TDiffLine> Result;
    for (qsizetype I = 0; I < Head; ++I)
        Result.append({TDiffLine::Same, A[I]});
    if (N > MaxDiffLines || M > MaxDiffLines) {
        for (qsizetype I = 0; I < N; ++I)
            Result.append({TDiffLine::Removed, A[Head + I]});
        for (qsizetype J = 0; J < M; ++J)
            Result.append({TDiffLine::Added, B[Head + J]});
    } else {
        // Longest common subsequence of the middle parts, from the end, then walked from the start.
        std::vector<std::vector<quint16>> Common(size_t(N + 1), std::vector<quint16>(size_t(M + 1), 0));
        for (qsizetype I = N - 1; I >= 0; --I)
            for (qsizetype J = M - 1; J >= 0; --J)
                Common[size_t(I)][size_t(J)] =
                    A[Head + I] == B[Head + J]
                        ? quint16(Common[size_t(I + 1)][size_t(J + 1)] + 1)
                        : qMax(Common[size_t(I + 1)][size_t(J)], Common[size_t(I)][size_t(J + 1)]);
        qsizetype I = 0;
        qsizetype J = 0;
        while (I < N && J < M) {
            if (A[Head + I] == B[Head + J]) {
                Result.append({TDiffLine::Same, A[Head + I]});
                ++I;
                ++J;
            } else if (Common[size_t(I + 1)][size_t(J)] >= Common[size_t(I)][size_t(J + 1)]) {
                // On a tie the removed line goes first: it comes before the line that replaces it.
                Result.append({TDiffLine::Removed, A[Head + I]});
                ++I;
            } else {
                Result.append({TDiffLine::Added, B[Head + J]});
                ++J;
            }
        }
        for (; I < N; ++I)
            Result.append({TDiffLine::Removed, A[Head + I]});
        for (; J < M; ++J)
            Result.append({TDiffLine::Added, B[Head + J]});
    }
    for (qsizetype I = A.size() - Tail; I < A.size(); ++I)
        Result.append({TDiffLine::Same, A[I]});
    return Result;
}

QString UnifiedDiffText(const QList<TDiffLine> &Lines)
{
    QString Text;
    for (const TDiffLine &Line : Lines) {
        Text += Line.Kind == TDiffLine::Same      ? QStringLiteral("  ")
                : Line.Kind == TDiffLine::Removed ? QStringLiteral("- ")
                                                  : QStringLiteral("+ ");
        Text += Line.Text + QLatin1Char('\n');
    }
    return Text;
}
