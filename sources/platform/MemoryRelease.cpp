#include "platform/MemoryRelease.h"

#include <QCoreApplication>

#include <malloc.h>

namespace {
const char ApplicationObjectName[] = "KestruneMemoryRelease";
}

TMemoryRelease *TMemoryRelease::OfApplication()
{
    QCoreApplication *App = QCoreApplication::instance();
    // Nothing is given back while the application object goes: the process ends soon after.
    if (!App || QCoreApplication::closingDown())
        return nullptr;
    auto *Release =
        App->findChild<TMemoryRelease *>(QLatin1String(ApplicationObjectName), Qt::FindDirectChildrenOnly);
    if (!Release) {
        Release = new TMemoryRelease(App);
        Release->setObjectName(QLatin1String(ApplicationObjectName));
    }
    return Release;
}

TMemoryRelease::TMemoryRelease(QObject *Parent, TGiveBack GiveBack)
    : QObject(Parent), FGiveBack(std::move(GiveBack))
{
    FTimer.setSingleShot(true);
    FTimer.setInterval(DefaultDelay);
    connect(&FTimer, &QTimer::timeout, this, [this] {
        if (FGiveBack)
            FGiveBack();
    });
}

void TMemoryRelease::PageGone()
{
    FTimer.start();
}

void TMemoryRelease::GiveBackFreedMemory()
{
    // Every arena, not only the end of the main heap: threads of the engine have heaps of their own.
    ::malloc_trim(0);
}
