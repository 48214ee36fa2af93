#pragma once

#include <QThread>

#include <functional>

// Waits Delay milliseconds off the GUI thread, in steps of 100 ms, then calls OnElapsed on the wait
// thread itself (so a handler that touches windows hands its work to the GUI thread, e.g. with
// QMetaObject::invokeMethod(Window, ...)). An interruption request ends the wait within 100 ms
// without calling the handler. The thread deletes itself when it has finished.
class TWaitThread : public QThread
{
    Q_OBJECT

public:
    using TElapsedEvent = std::function<void(TWaitThread *Sender)>;

    // Created suspended: call start().
    static TWaitThread *Create(quint32 Delay, TElapsedEvent OnElapsed);

    quint32 Delay() const { return FDelay; }
    // The time actually waited: the smallest multiple of 100 ms that is not below Delay.
    quint64 Elapsed() const { return FElapsed; }

protected:
    void run() override;

private:
    TWaitThread(quint32 Delay, TElapsedEvent OnElapsed);

    quint32 FDelay;
    quint64 FElapsed = 0; // wide, so that a Delay near the top of its range cannot wrap it
    TElapsedEvent FOnElapsed;
};
