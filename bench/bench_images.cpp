// The built-in pictures are read at every start and their lists built before the main window shows;
// the icon folder is loaded at every start too. All must stay far below what a user notices.
#include "DataModuleUnit.h"
#include "images/ImageRepositoryUnit.h"
#include "images/ImageStoredForm.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

void BM_ReadStoredForm(benchmark::State &State)
{
    const QByteArray Data = BuiltinImageData();
    for (auto _ : State) {
        TImageCollection Images;
        TImageGroupCollection Groups;
        ReadImageRepositoryData(Data, Images, Groups);
        benchmark::DoNotOptimize(Images.Count());
    }
}
BENCHMARK(BM_ReadStoredForm);

// Reading with every picture decoded, as the program does.
void BM_LoadRepository(benchmark::State &State)
{
    const QByteArray Data = BuiltinImageData();
    for (auto _ : State) {
        TImageRepository Repository;
        Repository.LoadFromData(Data);
        benchmark::DoNotOptimize(Repository.Images().Count());
    }
}
BENCHMARK(BM_LoadRepository)->Unit(benchmark::kMicrosecond);

void BM_BuildThemedList(benchmark::State &State)
{
    const QByteArray Data = BuiltinImageData();
    TImageRepository Repository;
    Repository.LoadFromData(Data);
    for (auto _ : State) {
        State.PauseTiming();
        Repository.LoadFromData(Data); // forgets the lists built before
        State.ResumeTiming();
        benchmark::DoNotOptimize(Repository.GetThemedImageList("Menu", "MenuXP"));
    }
}
BENCHMARK(BM_BuildThemedList)->Unit(benchmark::kMicrosecond);

void BM_LoadIconFolder(benchmark::State &State)
{
    QTemporaryDir Dir;
    TImageCollection Images;
    TImageGroupCollection Groups;
    ReadImageRepositoryData(BuiltinImageData(), Images, Groups);
    for (int I = 0; I < State.range(0); ++I) {
        QFile File(Dir.path() + QStringLiteral("/icon%1.ico").arg(I));
        File.open(QIODevice::WriteOnly);
        File.write(Images.Item(I % Images.Count())->Graphic);
    }
    for (auto _ : State) {
        TImageList List;
        QStringList Names;
        LoadIconFolder(Dir.path() + QStringLiteral("/"), List, Names);
        benchmark::DoNotOptimize(List.Count());
    }
}
BENCHMARK(BM_LoadIconFolder)->Arg(10)->Arg(200)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication App(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
