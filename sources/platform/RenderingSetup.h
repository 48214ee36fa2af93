#pragma once

#include "Rendering.h"

// Sets up the chosen rendering. Made before the application object, told when that object exists.
class TRenderingSetup
{
public:
    explicit TRenderingSetup(TRendering Rendering);
    TRenderingSetup(const TRenderingSetup &) = delete;
    TRenderingSetup &operator=(const TRenderingSetup &) = delete;

    // The application object exists: what was only needed to create it is taken back, so that
    // programs we start (the system's browser) do not inherit it.
    void ApplicationCreated();

    TRendering Rendering() const { return FRendering; }

private:
    TRendering FRendering;
    bool FRestoreXcbIntegration = false;
};
