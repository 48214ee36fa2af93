#include "DesktopEntry.h"

#include <QString>

namespace {

QByteArray ValidUtf8(const QByteArray &Value)
{
    return QString::fromUtf8(Value).toUtf8();
}

} // namespace

QByteArray EscapeDesktopString(const QByteArray &Value)
{
    const QByteArray Text = ValidUtf8(Value);
    QByteArray Result;
    Result.reserve(Text.size() + 8);
    for (qsizetype I = 0; I < Text.size(); ++I) {
        const char C = Text.at(I);
        switch (C) {
        case '\\':
            Result += "\\\\";
            break;
        case '\n':
            Result += "\\n";
            break;
        case '\t':
            Result += "\\t";
            break;
        case '\r':
            Result += "\\r";
            break;
        case ' ':
            Result += I == 0 ? QByteArray("\\s") : QByteArray(" ");
            break;
        default:
            if (quint8(C) < 0x20 || C == 0x7F)
                break;
            Result += C;
        }
    }
    return Result;
}

QByteArray UnescapeDesktopString(const QByteArray &Value)
{
    QByteArray Result;
    Result.reserve(Value.size());
    for (qsizetype I = 0; I < Value.size(); ++I) {
        const char C = Value.at(I);
        if (C != '\\' || I + 1 >= Value.size()) {
            Result += C;
            continue;
        }
        const char Next = Value.at(++I);
        switch (Next) {
        case 's':
            Result += ' ';
            break;
        case 'n':
            Result += '\n';
            break;
        case 't':
            Result += '\t';
            break;
        case 'r':
            Result += '\r';
            break;
        case '\\':
            Result += '\\';
            break;
        default:
            Result += '\\';
            Result += Next;
        }
    }
    return Result;
}

QByteArray QuoteExecArgument(const QByteArray &Argument)
{
    QByteArray Result("\"");
    for (const char C : Argument) {
        if (C == '"' || C == '`' || C == '$' || C == '\\')
            Result += '\\';
        if (C == '%')
            Result += '%';
        Result += C;
    }
    Result += '"';
    return Result;
}

QByteArray BuildExecLine(const QByteArray &Program, const QByteArrayList &Arguments)
{
    QByteArray Line = QuoteExecArgument(Program);
    for (const QByteArray &Argument : Arguments) {
        Line += ' ';
        Line += QuoteExecArgument(Argument);
    }
    return Line;
}

std::optional<QByteArrayList> SplitExecLine(const QByteArray &Exec)
{
    // Field codes are expanded before the quoting is read, as launchers do.
    QByteArray Line;
    for (qsizetype I = 0; I < Exec.size(); ++I) {
        if (Exec.at(I) != '%') {
            Line += Exec.at(I);
            continue;
        }
        if (I + 1 < Exec.size() && Exec.at(I + 1) == '%') {
            Line += '%';
            ++I;
            continue;
        }
        return std::nullopt;
    }

    QByteArrayList Arguments;
    QByteArray Current;
    bool InArgument = false;
    for (qsizetype I = 0; I < Line.size(); ++I) {
        const char C = Line.at(I);
        if (C == ' ' || C == '\t' || C == '\n') {
            if (InArgument)
                Arguments += Current;
            Current.clear();
            InArgument = false;
            continue;
        }
        InArgument = true;
        if (C != '"') {
            Current += C;
            continue;
        }
        bool Closed = false;
        for (++I; I < Line.size(); ++I) {
            const char Q = Line.at(I);
            if (Q == '"') {
                Closed = true;
                break;
            }
            if (Q == '\\' && I + 1 < Line.size()) {
                const char E = Line.at(I + 1);
                if (E == '"' || E == '`' || E == '$' || E == '\\') {
                    Current += E;
                    ++I;
                    continue;
                }
            }
            Current += Q;
        }
        if (!Closed)
            return std::nullopt;
    }
    if (InArgument)
        Arguments += Current;
    return Arguments;
}

QByteArray BuildDesktopEntry(const TDesktopEntry &Entry)
{
    QByteArray Text("[Desktop Entry]\n"
                    "Type=Application\n"
                    "Version=1.0\n");
    Text += "Name=" + EscapeDesktopString(Entry.Name) + '\n';
    if (!Entry.Comment.isEmpty())
        Text += "Comment=" + EscapeDesktopString(Entry.Comment) + '\n';
    Text += "Exec=" + EscapeDesktopString(BuildExecLine(Entry.Program, Entry.Arguments)) + '\n';
    if (!Entry.WorkingDirectory.isEmpty())
        Text += "Path=" + EscapeDesktopString(Entry.WorkingDirectory) + '\n';
    if (!Entry.Icon.isEmpty())
        Text += "Icon=" + EscapeDesktopString(Entry.Icon) + '\n';
    Text += "Terminal=false\n";
    if (!Entry.StartupWMClass.isEmpty())
        Text += "StartupWMClass=" + EscapeDesktopString(Entry.StartupWMClass) + '\n';
    if (Entry.SiteMark)
        Text += QByteArray(SiteMarkKey) + "=true\n";
    return Text;
}

QMap<QByteArray, QByteArray> ReadDesktopEntryGroup(const QByteArray &Text)
{
    QMap<QByteArray, QByteArray> Keys;
    bool InGroup = false;
    for (QByteArray Line : Text.split('\n')) {
        if (Line.endsWith('\r'))
            Line.chop(1);
        if (Line.isEmpty() || Line.startsWith('#'))
            continue;
        if (Line.startsWith('[')) {
            InGroup = Line == "[Desktop Entry]";
            continue;
        }
        const qsizetype Equals = Line.indexOf('=');
        if (!InGroup || Equals <= 0)
            continue;
        const QByteArray Key = Line.left(Equals).trimmed();
        if (!Keys.contains(Key))
            Keys.insert(Key, UnescapeDesktopString(Line.mid(Equals + 1).trimmed()));
    }
    return Keys;
}
