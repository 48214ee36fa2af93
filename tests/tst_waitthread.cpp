#include "WaitThread.h"

#include <QtTest>

class TestWaitThread : public QObject
{
    Q_OBJECT

private slots:
    void waitsInStepsOf100ms_data();
    void waitsInStepsOf100ms();
    void interruptedWaitCallsNoHandler();
    void failingHandlerIsSwallowed();
};

void TestWaitThread::waitsInStepsOf100ms_data()
{
    QTest::addColumn<quint32>("delay");
    QTest::addColumn<quint64>("elapsed");
    QTest::newRow("no wait") << 0u << quint64(0);
    QTest::newRow("150 ms sleeps twice") << 150u << quint64(200);
    QTest::newRow("a whole step") << 100u << quint64(100);
}

void TestWaitThread::waitsInStepsOf100ms()
{
    QFETCH(quint32, delay);
    QFETCH(quint64, elapsed);

    std::atomic<int> Calls{0};
    std::atomic<quint64> Waited{0};
    std::atomic<bool> OnWaitThread{false};
    TWaitThread *Thread = TWaitThread::Create(delay, [&](TWaitThread *Sender) {
        Waited = Sender->Elapsed();
        OnWaitThread = QThread::currentThread() == Sender;
        ++Calls;
    });
    QPointer<TWaitThread> Watch(Thread);
    Thread->start();
    QTRY_VERIFY(Watch.isNull()); // it deletes itself once done
    QCOMPARE(Calls.load(), 1);
    QCOMPARE(Waited.load(), elapsed);
    QVERIFY(OnWaitThread);
}

void TestWaitThread::interruptedWaitCallsNoHandler()
{
    std::atomic<int> Calls{0};
    TWaitThread *Thread = TWaitThread::Create(60000, [&](TWaitThread *) { ++Calls; });
    QPointer<TWaitThread> Watch(Thread);
    Thread->start();
    Thread->requestInterruption();
    QTRY_VERIFY_WITH_TIMEOUT(Watch.isNull(), 5000);
    QCOMPARE(Calls.load(), 0);
}

void TestWaitThread::failingHandlerIsSwallowed()
{
    TWaitThread *Thread =
        TWaitThread::Create(0, [](TWaitThread *) { throw std::runtime_error("handler failed"); });
    QPointer<TWaitThread> Watch(Thread);
    Thread->start();
    QTRY_VERIFY(Watch.isNull());
}

QTEST_GUILESS_MAIN(TestWaitThread)
#include "tst_waitthread.moc"
