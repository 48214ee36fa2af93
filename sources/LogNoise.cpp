#include "LogNoise.h"

#include <cstring>

bool IsStartupChatter(QtMsgType Type, const char *Category, const QString &Message, bool SoftwareDrawing)
{
    const bool Default = !Category || std::strcmp(Category, "default") == 0;
    if (!Default)
        return false;
    // Some come with line breaks of their own around them.
    const QString Text = Message.trimmed();
    if (Type == QtInfoMsg && Text == QLatin1String("Sandboxing disabled by user."))
        return true;
    // Without OpenGL, which the program turned off itself, both are the expected outcome.
    if (SoftwareDrawing && Type == QtWarningMsg)
        return Text == QLatin1String("QXcbIntegration: Cannot create platform OpenGL context, neither GLX "
                                     "nor EGL are enabled") ||
               Text == QLatin1String("No suitable graphics backend found");
    return false;
}
