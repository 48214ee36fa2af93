#include "WaitThread.h"

TWaitThread *TWaitThread::Create(quint32 Delay, TElapsedEvent OnElapsed)
{
    return new TWaitThread(Delay, std::move(OnElapsed));
}

TWaitThread::TWaitThread(quint32 Delay, TElapsedEvent OnElapsed)
    : FDelay(Delay), FOnElapsed(std::move(OnElapsed))
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TWaitThread::run()
{
    FElapsed = 0;
    while (!isInterruptionRequested() && FElapsed < FDelay) {
        msleep(100);
        FElapsed += 100;
    }
    if (isInterruptionRequested() || !FOnElapsed)
        return;
    try {
        FOnElapsed(this);
    } catch (...) {
        // A failing handler must not take the program down with the thread.
    }
}
