#include "SiteMonitor.h"

#include "CRC32unit.h"
#include "KestruneClasses.h"

#include <algorithm>
#include <utility>

TSiteMonitor::TSiteMonitor(const TKestrunSite &Site, TSiteMonitorHost &Host) : FSite(Site), FHost(Host) {}

void TSiteMonitor::SetTimingForTests(int SettleMilliseconds, const std::array<int, 3> &IntervalMilliseconds)
{
    FSettle = SettleMilliseconds;
    FIntervals = IntervalMilliseconds;
}

int TSiteMonitor::IntervalFor(int Index) const
{
    return FIntervals[std::clamp(Index, 0, int(FIntervals.size()) - 1)];
}

void TSiteMonitor::Install(THandlerSet Set)
{
    FSet = Set;
    if (Set != THandlerSet::WatchUserNavigation) {
        FExpectedCount = 0;
        FNavigateCount = 0;
        FDocumentCount = 0;
    }
}

void TSiteMonitor::ArmTimer(TTimerHandler Handler, int Milliseconds)
{
    FTimerHandler = Handler;
    FTimerInterval = Milliseconds;
    FTimerActive = true;
    FHost.StartTimer(Milliseconds);
}

void TSiteMonitor::Stop()
{
    FTimerActive = false;
    FHost.StopTimer();
}

void TSiteMonitor::ArmInterval()
{
    ArmTimer(TTimerHandler::RefreshPage, IntervalFor(FSite.MonitorInterval()));
}

void TSiteMonitor::Start()
{
    FExpectedCount = 0;
    FNavigateCount = 0;
    FDocumentCount = 0;
    if (FSite.MonitorChanges()) {
        Install(THandlerSet::WatchFirstLoad);
        FWatching = true;
    } else {
        Install(THandlerSet::WatchUserNavigation);
    }
}

void TSiteMonitor::BeforeNavigate()
{
    Handle(TEvent::Before);
}

void TSiteMonitor::NavigateComplete()
{
    Handle(TEvent::Navigate);
}

void TSiteMonitor::DocumentComplete()
{
    Handle(TEvent::Document);
}

void TSiteMonitor::Handle(TEvent Event)
{
    if (FPending != TPending::None) {
        // Bounded: the engine answers a source request within moments.
        if (FDeferred.size() < 4096)
            FDeferred.append(Event);
        return;
    }
    if (FSet == THandlerSet::WatchUserNavigation) {
        if (Event == TEvent::Before)
            UserNavigation();
        return;
    }
    if (!FWatching)
        return;
    const QString Word =
        FSet == THandlerSet::WatchFirstLoad ? QStringLiteral("First: ") : QStringLiteral("Second: ");
    switch (Event) {
    case TEvent::Before:
        ++FExpectedCount;
        FHost.Trace(QStringLiteral("BeforeNavigarte ") + Word + QString::number(FExpectedCount));
        break;
    case TEvent::Navigate:
        ++FNavigateCount;
        FHost.Trace(QStringLiteral("NavigateComplete ") + Word + QString::number(FNavigateCount));
        break;
    case TEvent::Document:
        Stop();
        ++FDocumentCount;
        FHost.Trace(QStringLiteral("DocumentComplete ") + Word + QString::number(FDocumentCount));
        if (FNavigateCount >= FExpectedCount && FDocumentCount >= FExpectedCount) {
            FWatching = false;
            ArmTimer(FSet == THandlerSet::WatchFirstLoad ? TTimerHandler::TakeBaseline
                                                         : TTimerHandler::CheckTimer,
                     FSettle);
        }
        break;
    }
}

void TSiteMonitor::UserNavigation()
{
    if (!FSite.MonitorChanges())
        return;
    FHost.Trace(QStringLiteral("User start own navigation"));
    Install(THandlerSet::WatchFirstLoad);
    FExpectedCount = 1;
    FNavigateCount = 0;
    FDocumentCount = 0;
    FWatching = true;
}

void TSiteMonitor::TimerFired()
{
    if (!FTimerActive)
        return;
    switch (FTimerHandler) {
    case TTimerHandler::TakeBaseline:
        TakeBaseline();
        break;
    case TTimerHandler::RefreshPage:
        DoRefreshPage();
        break;
    case TTimerHandler::CheckTimer:
        CheckTimer();
        break;
    case TTimerHandler::None:
        Stop();
        break;
    }
}

void TSiteMonitor::TakeBaseline()
{
    Stop();
    Install(THandlerSet::WatchUserNavigation);
    FHost.Trace(QStringLiteral("Timer Zero"));
    FPending = TPending::Baseline;
    FHost.RequestPageSource();
}

void TSiteMonitor::DoRefreshPage()
{
    Stop();
    FHost.Trace(QStringLiteral("Refreshing..."));
    Install(THandlerSet::WatchRefresh);
    FWatching = true;
    FHost.RefreshPage();
}

void TSiteMonitor::RefreshPostponed()
{
    if (FSet != THandlerSet::WatchRefresh || !FWatching)
        return;
    FHost.Trace(QStringLiteral("Refresh postponed"));
    Install(THandlerSet::WatchUserNavigation);
    FWatching = false;
    ArmInterval();
}

void TSiteMonitor::CheckTimer()
{
    Stop();
    Install(THandlerSet::WatchUserNavigation);
    FHost.Trace(QStringLiteral("Check timer"));
    FPending = TPending::Check;
    FHost.RequestPageSource();
}

void TSiteMonitor::PageSourceReady(bool Ok, const QByteArray &Text)
{
    const TPending Pending = FPending;
    if (Pending == TPending::None)
        return;
    FPending = TPending::None;
    const quint32 Checksum = Ok && !Text.isEmpty() ? CRC32(Text) : 0;
    if (!Ok) {
        // Nothing was read: neither a change nor a new baseline. A failed first reading of a page
        // leaves it without one.
        if (Pending == TPending::Baseline)
            FHaveBaseline = false;
        FHost.Trace(QStringLiteral("No page source"));
    } else if (Pending == TPending::Baseline || !FHaveBaseline) {
        FStoredChecksum = Checksum;
        FHaveBaseline = true;
        FHost.Trace(QStringLiteral("First CRC=") + QString::number(FStoredChecksum));
    } else {
        FHost.Trace(QString::number(FStoredChecksum) + QStringLiteral(" <-> ") + QString::number(Checksum));
        const bool Changed = Checksum != FStoredChecksum;
        FStoredChecksum = Checksum;
        if (Changed)
            FHost.ContentChanged();
    }
    ArmInterval();

    const QList<TEvent> Deferred = std::exchange(FDeferred, {});
    for (const TEvent Event : Deferred)
        Handle(Event);
}
