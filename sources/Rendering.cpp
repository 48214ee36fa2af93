#include "Rendering.h"

#include <QDir>
#include <QFileInfo>

namespace {

bool MesaTrue(const QByteArray &Value)
{
    // Mesa's own reading of a yes/no variable.
    const QByteArray Lower = Value.trimmed().toLower();
    return Lower == "1" || Lower == "true" || Lower == "y" || Lower == "yes";
}

bool HasFlag(const QByteArray &Flags, const QByteArray &Flag)
{
    const QList<QByteArray> Words = Flags.simplified().split(' ');
    return Words.contains(Flag);
}

} // namespace

bool ParseRenderingChoice(const QByteArray &Value, TRendering &Choice)
{
    const QByteArray Lower = Value.trimmed().toLower();
    if (Lower == "software") {
        Choice = TRendering::Software;
        return true;
    }
    if (Lower == "opengl" || Lower == "gpu") {
        Choice = TRendering::OpenGL;
        return true;
    }
    return false;
}

TRendering ChooseRendering(const TRenderingFacts &Facts)
{
    TRendering Choice = TRendering::OpenGL;
    if (ParseRenderingChoice(Facts.Choice, Choice))
        return Choice;
    // The user told Qt Quick how to draw: software is ours too, any other backend needs OpenGL.
    const QByteArray Backend = Facts.QuickBackend.trimmed().toLower();
    if (!Backend.isEmpty())
        return Backend == "software" ? TRendering::Software : TRendering::OpenGL;
    if (Facts.EngineGpuOff || HasFlag(Facts.EngineFlags, "--disable-gpu") || MesaTrue(Facts.MesaSoftware))
        return TRendering::Software;
    return Facts.GraphicsDevice ? TRendering::OpenGL : TRendering::Software;
}

bool HasGraphicsDevice(const QString &DeviceFolder)
{
    const QDir Dri(DeviceFolder + QStringLiteral("/dri"));
    if (!Dri.entryList({QStringLiteral("card*"), QStringLiteral("renderD*")},
                       QDir::System | QDir::Files | QDir::NoDotAndDotDot)
             .isEmpty())
        return true;
    return QFileInfo::exists(DeviceFolder + QStringLiteral("/nvidiactl"));
}

TRenderingFacts ReadRenderingFacts()
{
    TRenderingFacts Facts;
    Facts.Choice = qgetenv("KESTRUNE_RENDERING");
    Facts.QuickBackend = qgetenv("QT_QUICK_BACKEND");
    Facts.EngineFlags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    Facts.EngineGpuOff = qEnvironmentVariableIsSet("QT_WEBENGINE_DISABLE_GPU");
    Facts.MesaSoftware = qgetenv("LIBGL_ALWAYS_SOFTWARE");
    Facts.GraphicsDevice = HasGraphicsDevice(QStringLiteral("/dev"));
    return Facts;
}

bool EngineSandboxOff(bool SandboxVariableSet, const QByteArray &EngineFlags)
{
    return SandboxVariableSet || HasFlag(EngineFlags, "--no-sandbox");
}

bool EngineSandboxOffHere()
{
    return EngineSandboxOff(qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"),
                            qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"));
}
