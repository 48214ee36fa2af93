#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>

class TKestrunSite;

// What the monitor needs of its browser window: one timer, the page's reload, the page's source
// (which the engine hands over later) and the two ways out, the trace and the change report.
class TSiteMonitorHost
{
public:
    virtual ~TSiteMonitorHost() = default;
    virtual void StartTimer(int Milliseconds) = 0;
    virtual void StopTimer() = 0;
    virtual void RefreshPage() = 0;
    // Must answer later (or at once) with TSiteMonitor::PageSourceReady.
    virtual void RequestPageSource() = 0;
    virtual void ContentChanged() = 0;
    virtual void Trace(const QString &Text) = 0;
};

// The change monitor of one browser window: counts the navigation events of a load pass, waits for
// the page to settle, takes a checksum and, at the site's interval, reloads and compares.
class TSiteMonitor
{
public:
    enum class THandlerSet
    {
        WatchUserNavigation,
        WatchFirstLoad,
        WatchRefresh
    };
    enum class TTimerHandler
    {
        None,
        TakeBaseline,
        RefreshPage,
        CheckTimer
    };

    static constexpr int SettleDelay = 2000;
    static constexpr std::array<int, 3> MonitorIntervals = {20, 180, 300};

    // Site must outlive the monitor; its flag and interval are read when the monitor needs them.
    TSiteMonitor(const TKestrunSite &Site, TSiteMonitorHost &Host);

    // The window's first navigation is about to be requested.
    void Start();

    void BeforeNavigate();
    void NavigateComplete();
    void DocumentComplete();
    void TimerFired();
    // The answer to TSiteMonitorHost::RequestPageSource. An empty text gives checksum 0. Ok false (no
    // source came) is no reading at all: nothing is reported, and the baseline stays as it was;
    // without one, the next pass that reads the page takes it.
    void PageSourceReady(bool Ok, const QByteArray &Text);
    // The window did not reload for this pass (the user is typing into the page): the check waits
    // for the next interval.
    void RefreshPostponed();

    // Interval in milliseconds for an interval index; an index past the table takes its last entry.
    int IntervalFor(int Index) const;

    // Test seam: shorter waits so that tests need not sit through minutes. The program never calls it.
    void SetTimingForTests(int SettleMilliseconds, const std::array<int, 3> &IntervalMilliseconds);

    bool Watching() const { return FWatching; }
    qint32 ExpectedCount() const { return FExpectedCount; }
    qint32 NavigateCount() const { return FNavigateCount; }
    qint32 DocumentCount() const { return FDocumentCount; }
    quint32 StoredChecksum() const { return FStoredChecksum; }
    THandlerSet InstalledSet() const { return FSet; }
    TTimerHandler TimerHandler() const { return FTimerHandler; }
    bool TimerActive() const { return FTimerActive; }
    int TimerInterval() const { return FTimerInterval; }
    bool SourcePending() const { return FPending != TPending::None; }

private:
    enum class TEvent
    {
        Before,
        Navigate,
        Document
    };
    enum class TPending
    {
        None,
        Baseline,
        Check
    };

    void Install(THandlerSet Set);
    void ArmTimer(TTimerHandler Handler, int Milliseconds);
    void Stop();
    void ArmInterval();
    void Handle(TEvent Event);
    void TakeBaseline();
    void DoRefreshPage();
    void CheckTimer();
    void UserNavigation();

    const TKestrunSite &FSite;
    TSiteMonitorHost &FHost;
    THandlerSet FSet = THandlerSet::WatchUserNavigation;
    TTimerHandler FTimerHandler = TTimerHandler::None;
    bool FTimerActive = false;
    int FTimerInterval = 0;
    bool FWatching = false;
    qint32 FExpectedCount = 0;
    qint32 FNavigateCount = 0;
    qint32 FDocumentCount = 0;
    quint32 FStoredChecksum = 0;
    bool FHaveBaseline = false; // FStoredChecksum was read from the page
    int FSettle = SettleDelay;
    std::array<int, 3> FIntervals = {MonitorIntervals[0] * 1000, MonitorIntervals[1] * 1000,
                                     MonitorIntervals[2] * 1000};
    // The engine hands the page source over later. Until it has, navigation events wait here so
    // that they are seen in the same order as if the source had been read at once.
    TPending FPending = TPending::None;
    QList<TEvent> FDeferred;
};
