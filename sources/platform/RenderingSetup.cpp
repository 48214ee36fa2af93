#include "platform/RenderingSetup.h"

#include <QCoreApplication>
#include <QQuickWindow>

namespace {
const char XcbIntegration[] = "QT_XCB_GL_INTEGRATION";
}

TRenderingSetup::TRenderingSetup(TRendering Rendering) : FRendering(Rendering)
{
    if (Rendering == TRendering::OpenGL) {
        // The web engine shares its OpenGL contexts with the windows.
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        return;
    }
    // The engine composes in memory when Qt Quick draws in software, and the web views hand the
    // frames to their windows without OpenGL.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // The engine still asks for an OpenGL context while the application object is created; on X11
    // that would load the OpenGL driver for nothing. Without an integration the request fails at once.
    if (!qEnvironmentVariableIsSet(XcbIntegration)) {
        qputenv(XcbIntegration, "none");
        FRestoreXcbIntegration = true;
    }
}

void TRenderingSetup::ApplicationCreated()
{
    if (std::exchange(FRestoreXcbIntegration, false))
        qunsetenv(XcbIntegration);
}
