#pragma once

#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <functional>

// A process and its descendants as /proc shows them, and their memory.

inline QList<qint64> Children(qint64 Parent)
{
    QList<qint64> Result;
    const QStringList Entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &Entry : Entries) {
        bool Ok = false;
        const qint64 Pid = Entry.toLongLong(&Ok);
        if (!Ok)
            continue;
        QFile Stat(QStringLiteral("/proc/%1/stat").arg(Pid));
        if (!Stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray Text = Stat.readAll();
        const QList<QByteArray> Fields = Text.mid(Text.lastIndexOf(')') + 2).split(' ');
        if (Fields.value(1).toLongLong() == Parent)
            Result << Pid;
    }
    return Result;
}

inline QList<qint64> Tree(qint64 Root)
{
    QList<qint64> All{Root};
    for (qsizetype i = 0; i < All.size(); ++i)
        All += Children(All[i]);
    return All;
}

// One line of a process's memory summary (/proc/<pid>/smaps_rollup: "Rss", "Pss", "Pss_Anon", ...),
// KiB; 0 when the process has gone.
inline qint64 ProcessMemoryKb(qint64 Pid, const QByteArray &Field)
{
    QFile Rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(Pid));
    if (!Rollup.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &Line : Rollup.readAll().split('\n'))
        if (Line.startsWith(Field + ':'))
            return Line.mid(Field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

inline qint64 ProcessPssKb(qint64 Pid)
{
    return ProcessMemoryKb(Pid, "Pss");
}

// The sum of one line of the memory summary over the tree, MiB.
inline double TreeMemoryMiB(qint64 Root, const QByteArray &Field)
{
    qint64 Kb = 0;
    for (const qint64 Pid : Tree(Root))
        Kb += ProcessMemoryKb(Pid, Field);
    return Kb / 1024.0;
}

inline double TreePssMiB(qint64 Root)
{
    return TreeMemoryMiB(Root, "Pss");
}

inline qint64 ParentOf(qint64 Pid)
{
    QFile Stat(QStringLiteral("/proc/%1/stat").arg(Pid));
    if (!Stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray Text = Stat.readAll();
    return Text.mid(Text.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
}

// Where the memory (or another measure) of the tree lies: per kind of process (the engine's --type=,
// or the program), each process's Value in Unit. What a zygote forks keeps the zygote's command
// line; with Qt's engine those are the pages' renderers.
inline QString TreeBreakdown(qint64 Root, const std::function<double(qint64 Pid)> &Value, const QString &Unit,
                             int Decimals)
{
    QMap<QString, QList<double>> Kinds; // kind -> Value of each process
    QHash<qint64, QString> KindOf;
    for (const qint64 Pid : Tree(Root)) {
        QFile CommandLine(QStringLiteral("/proc/%1/cmdline").arg(Pid));
        if (!CommandLine.open(QIODevice::ReadOnly))
            continue;
        // Chromium rewrites its helpers' command lines as one text with blanks.
        QByteArray Text = CommandLine.readAll();
        Text.replace('\0', ' ');
        QString Kind = QStringLiteral("main");
        for (const QByteArray &Argument : Text.split(' '))
            if (Argument.startsWith("--type="))
                Kind = QString::fromLatin1(Argument.mid(7));
            else if (Argument.startsWith("--utility-sub-type="))
                Kind += QLatin1Char(' ') + QString::fromLatin1(Argument.mid(19));
        KindOf.insert(Pid, Kind);
        if (Kind == QLatin1String("zygote") && KindOf.value(ParentOf(Pid)) == QLatin1String("zygote"))
            Kind = QStringLiteral("renderer (forked by the zygote)");
        Kinds[Kind] << Value(Pid);
    }
    QStringList Parts;
    for (auto It = Kinds.cbegin(); It != Kinds.cend(); ++It) {
        QList<double> Each = *It;
        std::sort(Each.begin(), Each.end(), std::greater<>());
        QStringList Sizes;
        double Sum = 0;
        for (const double One : Each) {
            Sum += One;
            Sizes << QString::number(One, 'f', Decimals);
        }
        Parts << QStringLiteral("%1 x%2 %3 %4 (%5)")
                     .arg(It.key())
                     .arg(Each.size())
                     .arg(Sum, 0, 'f', Decimals)
                     .arg(Unit, Sizes.join(QStringLiteral(" ")));
    }
    return Parts.join(QStringLiteral("; "));
}

inline QString TreeBreakdown(qint64 Root)
{
    return TreeBreakdown(
        Root, [](qint64 Pid) { return ProcessPssKb(Pid) / 1024.0; }, QStringLiteral("MiB"), 1);
}

inline double Median(QList<double> Values)
{
    if (Values.isEmpty())
        return -1;
    std::sort(Values.begin(), Values.end());
    const qsizetype Middle = Values.size() / 2;
    return Values.size() % 2 ? Values[Middle] : (Values[Middle - 1] + Values[Middle]) / 2;
}
