// The site collection is loaded at every start and saved after every change: both must stay far
// below what a user notices, for 10,000 sites as for 10.
#include "KestruneClasses.h"

#include <QBuffer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

void Fill(TKestrunCollection &Sites, int Count)
{
    for (int i = 0; i < Count; ++i) {
        auto Site = std::make_unique<TKestrunSite>();
        Site->SetTitle("Site number " + QByteArray::number(i));
        Site->SetURL("https://www.example.org/some/path/" + QByteArray::number(i) + "/index.html");
        Site->SetIconName("icon" + QByteArray::number(i % 50));
        Site->SetUserName("user" + QByteArray::number(i));
        Site->SetPassword("password" + QByteArray::number(i));
        Site->SetWindowRect({i, i, i + 800, i + 600});
        Sites.Add(std::move(Site));
    }
}

void BM_SaveSites(benchmark::State &State)
{
    QTemporaryDir Dir;
    TKestrunCollection Sites;
    Fill(Sites, int(State.range(0)));
    for (auto _ : State)
        if (!SaveSites(Dir.path(), Sites))
            State.SkipWithError("save failed");
}

void BM_LoadSites(benchmark::State &State)
{
    QTemporaryDir Dir;
    {
        TKestrunCollection Sites;
        Fill(Sites, int(State.range(0)));
        SaveSites(Dir.path(), Sites);
    }
    for (auto _ : State) {
        TKestrunCollection Sites;
        LoadSites(Dir.path(), Sites);
        benchmark::DoNotOptimize(Sites.Count());
    }
}

void BM_LoadFromMemory(benchmark::State &State)
{
    TKestrunCollection Sites;
    Fill(Sites, int(State.range(0)));
    QByteArray Bytes;
    QBuffer Out(&Bytes);
    Out.open(QIODevice::WriteOnly);
    Sites.SaveToStream(Out);
    for (auto _ : State) {
        QBuffer In(&Bytes);
        In.open(QIODevice::ReadOnly);
        TKestrunCollection Loaded;
        Loaded.LoadFromStream(In);
        benchmark::DoNotOptimize(Loaded.Count());
    }
}

void BM_LinkEncodeDecode(benchmark::State &State)
{
    TKestrunSite Site;
    Site.SetTitle("My mail at work");
    Site.SetURL("https://mail.example.org/owa/?path=/mail/inbox");
    for (auto _ : State) {
        TLinkParameter Link;
        benchmark::DoNotOptimize(DecodeLinkParameter(EncodeLinkParameter(Site, true), Link));
    }
}

} // namespace

BENCHMARK(BM_SaveSites)->Arg(10)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadSites)->Arg(10)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFromMemory)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinkEncodeDecode)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
