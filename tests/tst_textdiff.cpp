#include "TextDiff.h"

#include <QtTest>

// The line diff of the "What changed" window, as its unified text.

class TestTextDiff : public QObject
{
    Q_OBJECT

private slots:
    void diff_data();
    void diff();
    void hugeTextsStayBounded();
};

void TestTextDiff::diff_data()
{
    QTest::addColumn<QString>("Before");
    QTest::addColumn<QString>("After");
    QTest::addColumn<QString>("Unified");
    QTest::newRow("same") << QStringLiteral("a\nb") << QStringLiteral("a\nb") << QStringLiteral("  a\n  b\n");
    QTest::newRow("both empty") << QString() << QString() << QString();
    QTest::newRow("from nothing") << QString() << QStringLiteral("a\nb") << QStringLiteral("+ a\n+ b\n");
    QTest::newRow("to nothing") << QStringLiteral("a") << QString() << QStringLiteral("- a\n");
    QTest::newRow("line added in the middle")
        << QStringLiteral("a\nc") << QStringLiteral("a\nb\nc") << QStringLiteral("  a\n+ b\n  c\n");
    QTest::newRow("line removed at the end")
        << QStringLiteral("a\nb\nc") << QStringLiteral("a\nb") << QStringLiteral("  a\n  b\n- c\n");
    QTest::newRow("line changed: removed, then added")
        << QStringLiteral("Inbox (2)\nNews\nEnd") << QStringLiteral("Inbox (3)\nNews\nEnd")
        << QStringLiteral("- Inbox (2)\n+ Inbox (3)\n  News\n  End\n");
    QTest::newRow("several changes keep the common lines in order")
        << QStringLiteral("1\n2\n3\n4\n5") << QStringLiteral("0\n1\n3\n4x\n5\n6")
        << QStringLiteral("+ 0\n  1\n- 2\n  3\n- 4\n+ 4x\n  5\n+ 6\n");
    QTest::newRow("repeated lines") << QStringLiteral("x\nx\ny") << QStringLiteral("x\ny\nx")
                                    << QStringLiteral("  x\n- x\n  y\n+ x\n");
    QTest::newRow("carriage returns are line ends")
        << QStringLiteral("a\r\nb") << QStringLiteral("a\nb") << QStringLiteral("  a\n  b\n");
}

void TestTextDiff::diff()
{
    QFETCH(QString, Before);
    QFETCH(QString, After);
    QFETCH(QString, Unified);
    QCOMPARE(UnifiedDiffText(DiffLines(Before, After)), Unified);
}

void TestTextDiff::hugeTextsStayBounded()
{
    // Far beyond the table's limit: every line differs, so nothing is matched line by line.
    QStringList A, B;
    for (int i = 0; i < 50000; ++i) {
        A << QStringLiteral("old %1").arg(i);
        B << QStringLiteral("new %1").arg(i);
    }
    A.prepend(QStringLiteral("head"));
    B.prepend(QStringLiteral("head"));
    const QList<TDiffLine> Lines = DiffLines(A.join(u'\n'), B.join(u'\n'));
    QCOMPARE(Lines.size(), 1 + 50000 + 50000);
    QCOMPARE(Lines.first(), (TDiffLine{TDiffLine::Same, QStringLiteral("head")}));
    QCOMPARE(Lines[1].Kind, TDiffLine::Removed);
    QCOMPARE(Lines.last(), (TDiffLine{TDiffLine::Added, QStringLiteral("new 49999")}));

    // Long texts that differ in one line: the common head and tail need no table at all.
    QStringList C = A;
    C[25000] = QStringLiteral("changed");
    const QList<TDiffLine> One = DiffLines(A.join(u'\n'), C.join(u'\n'));
    QCOMPARE(One.size(), A.size() + 1);
    QCOMPARE(One[25000], (TDiffLine{TDiffLine::Removed, A[25000]}));
    QCOMPARE(One[25001], (TDiffLine{TDiffLine::Added, QStringLiteral("changed")}));
}

QTEST_GUILESS_MAIN(TestTextDiff)
#include "tst_textdiff.moc"
