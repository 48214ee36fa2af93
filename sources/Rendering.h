#pragma once

#include <QByteArray>
#include <QString>

// How the windows and the web engine put pages on the screen.
enum class TRendering
{
    // Through the system's OpenGL: the engine composes on the graphics card.
    OpenGL,
    // Everything in memory, drawn straight into the windows: no OpenGL driver is ever loaded.
    Software,
};

// What the choice depends on, read from the environment and the device folder.
struct TRenderingFacts
{
    QByteArray Choice;           // KESTRUNE_RENDERING: "software", "opengl", or empty for the machine's
    QByteArray QuickBackend;     // QT_QUICK_BACKEND
    QByteArray EngineFlags;      // QTWEBENGINE_CHROMIUM_FLAGS
    bool EngineGpuOff = false;   // QT_WEBENGINE_DISABLE_GPU is set
    QByteArray MesaSoftware;     // LIBGL_ALWAYS_SOFTWARE
    bool GraphicsDevice = false; // a graphics card's device node exists
};

// The user's choice first, then what Qt and the engine were told; otherwise OpenGL where a graphics
// card can run it. Without one, OpenGL would be Mesa's software rasteriser: a large driver in the
// program and a copy of every frame through it, for pictures the engine has drawn in memory anyway.
TRendering ChooseRendering(const TRenderingFacts &Facts);

// True when Value names a known choice; Choice is then set.
bool ParseRenderingChoice(const QByteArray &Value, TRendering &Choice);

// Whether the device folder (normally /dev) has a graphics card: a DRM card or render node, or the
// device of NVIDIA's own driver.
bool HasGraphicsDevice(const QString &DeviceFolder);

TRenderingFacts ReadRenderingFacts();

// Whether the web engine was told to run without its sandbox: QTWEBENGINE_DISABLE_SANDBOX is set
// (SandboxVariableSet), or --no-sandbox is among its flags. As root the engine starts only so.
bool EngineSandboxOff(bool SandboxVariableSet, const QByteArray &EngineFlags);
// The same, read from this process's environment.
bool EngineSandboxOffHere();
