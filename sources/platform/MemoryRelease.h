#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

// Closing a site window frees its page and the engine's drawing of it: for a large window, tens of
// MiB of this process. The C library keeps what is freed for its own later use, and what lies in the
// middle of its heaps it never gives back by itself, so the program would stay as large as it was
// with the most windows open. A while after the last page went, everything freed is given back.
class TMemoryRelease : public QObject
{
    Q_OBJECT

public:
    using TGiveBack = std::function<void()>;

    static constexpr std::chrono::milliseconds DefaultDelay{3000};

    // The application's own, made on first use as a child of the application object; null without
    // one, or while it is being destroyed.
    static TMemoryRelease *OfApplication();

    explicit TMemoryRelease(QObject *Parent, TGiveBack GiveBack = GiveBackFreedMemory);

    // A page has gone. Pages that go together (windows closed one after another) are followed by one
    // give-back, Delay after the last of them; by then the engine has let go of their drawing too.
    void PageGone();

    void SetDelay(std::chrono::milliseconds Delay) { FTimer.setInterval(Delay); }
    void SetGiveBack(TGiveBack GiveBack) { FGiveBack = std::move(GiveBack); }

    // Gives the free whole pages of every heap of the process back to the system.
    static void GiveBackFreedMemory();

private:
    QTimer FTimer;
    TGiveBack FGiveBack;
};
